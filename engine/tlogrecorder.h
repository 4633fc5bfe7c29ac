#pragma once
// Records the internal log: a run of the vehicle simulation as the program starts up
// (cockpit at its initial settings, "Valid Manipulation" on with every signal valid,
// no adapter), started with the cockpit's starter, its frames written as the output
// log. The clock is simulated, so a minute takes as long as the computation.

#include "support/tastring.h"

#include <cstdint>

class TLogRecorder {
public:
    static constexpr int64_t InternalLogMicros = 60 * 1000000LL;

    // Appends the run's output log to fileName. Returns the first error the run
    // reported (an empty operation and message when there was none), or throws
    // TBaseError("TLogRecorder::Record", "cannot open") when the file cannot be opened.
    static TAString Record(const TAString& fileName, int64_t runMicros = InternalLogMicros);
};
