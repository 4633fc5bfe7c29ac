#pragma once
// The names of the vehicle model's values, as the runner's --set takes them, with what
// each one means and its unit: the model's own values (speed, pedals, engine, fuel)
// from the model's list below, every further value from the catalogue signal whose
// field of the value line it fills ("Sec" is "Seconds", sec; an enumeration gives its
// entries as the unit: "0 = off, 1 = on"), and the range the cockpit's control gives it
// (TModelInputs), the range --set takes.

#include "support/tastring.h"

#include <vector>

class TLkw;

struct TModelValueName {
    TAString Name;      // "Gaspedal"
    TAString Meaning;   // "accelerator pedal"
    TAString Unit;      // "%"; empty for a plain number
    TAString Range;     // "0 to 100"; empty for a value no control sets
};

class TModelValueNames {
public:
    // Every name lkw holds, in its order.
    static std::vector<TModelValueName> List(const TLkw& lkw);
    // One line per name: two blanks, the name padded to the longest, two blanks, the
    // meaning, when there is one ", " and the unit, and when there is one " [range]";
    // each line ends with "\n".
    //     "  Gaspedal                     accelerator pedal, % [0 to 100]\n"
    static TAString Text(const TLkw& lkw);
};
