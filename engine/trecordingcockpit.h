#pragma once
// The cockpit as it stands when the program has just started, without its window:
// the vehicle model with the cockpit's extra values and every control at its initial
// setting (accelerator fully down, brake released, clutch engaged with auto clutch,
// gear 1, ignition on). Used to record the internal log and in tests of the tick.

#include "engine/truncockpit.h"
#include "sim/tlkw.h"

class TRecordingCockpit final : public TRunCockpit {
public:
    TRecordingCockpit();

    const TSignalSnapshot& Step(double dt, bool refresh) override;
    const TSignalSnapshot& Values() override;

    // The starter's effect on the model once the run is going.
    void StartEngine() { lkw_.StartEngine(); }
    TLkw& Lkw() { return lkw_; }
    int Steps() const { return steps_; }

private:
    TLkw lkw_;
    int steps_ = 0;
};
