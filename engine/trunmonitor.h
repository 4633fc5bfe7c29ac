#pragma once
// The data monitor window as the main tick sees it.

#include "engine/trequestcounts.h"
#include "support/tastring.h"

class TBusFmsStandard;
class TSignalMonitor;

class TRunMonitor {
public:
    virtual ~TRunMonitor() = default;

    // Shows the text of every signal value of catalogue; with nullptr empties every row
    // (at the start of a run). May throw the values' TBaseError ("unknown type").
    virtual void ShowValues(const TBusFmsStandard* catalogue) = 0;
    // Shows what became of the run's requests; called with every refresh and at the
    // start of a run (all 0).
    virtual void ShowRequests(const TRequestCounts&) {}
    // Shows what left on the bus, decoded (the run engine's TSignalMonitor); called with
    // every refresh, for every source.
    virtual void ShowSignals(const TSignalMonitor&) {}
    // Shows the state of the simulated vehicle's address claim in the words of
    // TAddressClaim::StateText; called at Start and Stop, with every refresh, and when
    // the claim changes (lost, claimed again).
    virtual void ShowAddressClaim(const TAString&) {}

protected:
    TRunMonitor() = default;
    TRunMonitor(const TRunMonitor&) = default;
    TRunMonitor& operator=(const TRunMonitor&) = default;
};
