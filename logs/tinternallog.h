#pragma once
// The internal CAN log the program carries: a 60 s recording of its own output
// (vehicle simulation, cockpit at its initial settings, engine started with the run),
// one line per frame in lfFixedId, times 000.0000 to 059.9980 s. The text is
// data/internal.asc, built into the program; quorvella-mklog makes it.

#include "logs/tcanlog.h"
#include "support/stringlist.h"

#include <string_view>

class TInternalLog {
public:
    // The lines separated by LF, no CR; empty when the build found no recording.
    static std::string_view Text();
    // The lines in order.
    static StringList Lines();
    // The frames, parsed once.
    static const TCanLog& Log();
};
