#pragma once
// The names of the vehicle model's values, as the runner's --set takes them, with what
// each one means and its unit: the model's own values (speed, pedals, engine, fuel)
// from the model's list below, every further value from the catalogue signal whose
// field of the value line it fills ("Sec" is "Seconds", sec; an enumeration gives its
// entries as the unit: "0 = off, 1 = on").

#include "support/tastring.h"

#include <vector>

class TLkw;

struct TModelValueName {
    TAString Name;      // "Gaspedal"
    TAString Meaning;   // "accelerator pedal"
    TAString Unit;      // "%"; empty for a plain number
};

class TModelValueNames {
public:
    // Every name lkw holds, in its order.
    static std::vector<TModelValueName> List(const TLkw& lkw);
    // One line per name: two blanks, the name padded to the longest, two blanks, the
    // meaning and, when there is one, ", " and the unit; each line ends with "\n".
    //     "  Gaspedal                     accelerator pedal, %\n"
    static TAString Text(const TLkw& lkw);
};
