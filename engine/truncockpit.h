#pragma once
// The cockpit window as the main tick sees it: it owns the vehicle model.

#include "support/tastring.h"

class TRunCockpit {
public:
    virtual ~TRunCockpit() = default;

    // One simulation step of dt seconds (unless the user switched automatic simulation
    // off); refresh asks the window to redraw its gauges and fields. Returns the value
    // line of all signals (TLkw::BuildValueLine) for the catalogue, stepped or not.
    virtual TAString Step(double dt, bool refresh) = 0;

    // The value line of the model as it stands, without stepping it.
    virtual TAString ValueLine() = 0;

protected:
    TRunCockpit() = default;
    TRunCockpit(const TRunCockpit&) = default;
    TRunCockpit& operator=(const TRunCockpit&) = default;
};
