#pragma once
// The cockpit window as the main tick sees it: it owns the vehicle model.

#include "fms/tsignalsnapshot.h"

class TRunCockpit {
public:
    virtual ~TRunCockpit() = default;

    // One simulation step of dt seconds (unless the user switched automatic simulation
    // off); refresh asks the window to redraw its gauges and fields. Returns the typed
    // values of all signals (TLkw::Snapshot) for the catalogue, stepped or not; the
    // reference stays valid until the next call.
    virtual const TSignalSnapshot& Step(double dt, bool refresh) = 0;

    // The values of the model as they stand, without stepping it.
    virtual const TSignalSnapshot& Values() = 0;

protected:
    TRunCockpit() = default;
    TRunCockpit(const TRunCockpit&) = default;
    TRunCockpit& operator=(const TRunCockpit&) = default;
};
