#pragma once
// The texts of the vehicle data monitor, without any window: one row per signal in
// catalogue order, the signal's name and the display text of its current value
// (TFmsMeasVal::Write: "1500.000" for 1500 rpm, "*" for a value not yet supplied,
// "e" for a value in msError). The unit is not shown.

#include "support/tastring.h"

#include <vector>

class TBusFmsStandard;

class TVehicleDataText {
public:
    // The monitor has this many rows: the signals of FMS version "00.02".
    static constexpr int Rows = 86;

    // The signal names of a temporary catalogue for FMS version "00.02".
    static std::vector<TAString> Names();

    // rows texts: Write() of signal i for every row the catalogue has a signal for,
    // empty beyond it; all empty without a catalogue (the start of a run).
    // Passes on Write's TBaseError ("unknown type").
    static std::vector<TAString> Values(const TBusFmsStandard* catalogue, int rows = Rows);

    // The whole table as text, one line per signal: the name padded with blanks to the
    // longest name plus one, then the value's text; each line ends with "\n".
    static TAString Table(const TBusFmsStandard& catalogue);
};
