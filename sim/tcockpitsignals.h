#pragma once
// MVCockpitChange without the window: writes the signal controls of the cockpit table
// into the vehicle model. The window answers what each control holds through
// TCockpitValues; one control (by its tag) or every control is handled.
//
// Conversions: a check box gives 1.0 when checked, else 0.0; a combo box the binary
// number of the first word of its text; a numeric field its committed number; a text
// field its committed text, which goes to the vehicle or a driver identification.

#include "sim/tcockpittable.h"
#include "sim/tcockpitvalues.h"

#include <cstdint>

class TLkw;

class TCockpitSignals {
public:
    // senderTag >= 1: only the control with that tag (none if no control has it);
    // below 1: every control in ascending SPN order, the time and date fields included.
    static void Change(TLkw& lkw, const TCockpitValues& values, int senderTag);
    // Writes one control into the model.
    static void Apply(TLkw& lkw, const TCockpitValues& values, const TCockpitControl& control);

    // What a gauge gets for a model value: trunc(value x 100), kept within the 32-bit
    // range (a value that is not a number gives 0).
    static int32_t GaugeRaw(double value);
    // Track bar position that shows the accelerator percent: trunc(100 - percent),
    // kept within the bar's 0..100.
    static int AcceleratorPosition(double percent);
};
