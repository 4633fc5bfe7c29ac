#pragma once
// A CAN log held for replay: its frames in file order, each with its time and the
// line it came from, parsed once when the log is loaded so that replaying it does no
// text work. 24 bytes a frame: a 2,000,000-line log takes 48 MB.

#include "fms/tcanframe.h"
#include "support/tastring.h"

#include <array>
#include <cstdint>
#include <vector>

struct TLogFrame {
    int64_t Time = 0;     // µs, as written in the log
    uint32_t Id = 0;      // 29-bit identifier
    uint32_t Line = 0;    // line number in its file, from 1 (0: not from a file)
    std::array<uint8_t, 8> Data{};

    // The frame as a log line gives it: Dlc 0.
    TCanFrame ToFrame() const { return TCanFrame(Id, Data, 0, Time); }
};
static_assert(sizeof(TLogFrame) == 24, "a log frame stays compact");

struct TCanLog {
    TAString FileName;    // empty for a log that is not a file (the internal one)
    std::vector<TLogFrame> Frames;

    int Count() const { return static_cast<int>(Frames.size()); }
    bool Empty() const { return Frames.empty(); }
};
