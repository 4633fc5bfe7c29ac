#pragma once
// A CAN log held for replay: its frames in file order, each with its time and the
// line it came from, parsed once when the log is loaded so that replaying it does no
// text work. 32 bytes a frame: a 2,000,000-line log takes 64 MB.
//
// With the frames the load keeps what kind of file it was and how many lines it
// passed over, and why, so that the user can be told (Summary).

#include "fms/tcanframe.h"
#include "support/tastring.h"

#include <array>
#include <cstdint>
#include <vector>

struct TLogFrame {
    int64_t Time = 0;     // µs, as written in the log
    uint32_t Id = 0;      // 29-bit identifier, or 11-bit when !Extended
    uint32_t Line = 0;    // line number in its file, from 1 (0: not from a file)
    std::array<uint8_t, 8> Data{};   // bytes past Dlc are 0
    uint8_t Dlc = 8;      // data bytes, 0..8
    bool Extended = true;
    uint8_t Channel = 0;  // index into TCanLog::Channels (0 in a log of one channel)

    // The frame as the log line gives it.
    TCanFrame ToFrame() const { return TCanFrame(Id, Data, Dlc, Time, Extended); }
};
static_assert(sizeof(TLogFrame) == 32, "a log frame stays compact");

// The kinds of file a log is read from, found from the file's content.
enum TLogFileKind : uint8_t {
    lkFixed,     // lfFixedSaPgn and lfFixedId lines, the program's own
    lkAsc,       // an ASC file (lfAscD, lfAscD8 and the lines such files hold besides)
    lkCandump,   // a candump log: "(1700000000.123456) can0 18FEF100#F315000CFFFFFFFF"
};

// Why a line of an ASC file or a candump log gave no frame.
enum TLogSkip : uint8_t {
    skHeader,     // ASC header, block and comment lines ("date ...", "Begin Triggerblock ...", "// ...")
    skBlank,      // empty lines
    skStandard,   // standard (11-bit) frames: every frame replayed has a 29-bit identifier
    skRemote,     // remote frames: they carry no data
    skError,      // error frames
    skEvent,      // other events ("Start of measurement", statistics, transport protocol notes)
    skCount
};

struct TCanLog {
    TAString FileName;    // empty for a log that is not a file (the internal one)
    TLogFileKind Kind = lkFixed;
    std::array<uint32_t, skCount> Skipped{};   // lines passed over, by reason
    std::vector<TLogFrame> Frames;

    int Count() const { return static_cast<int>(Frames.size()); }
    bool Empty() const { return Frames.empty(); }
    uint32_t SkippedLines() const;
    // A candump log holds epoch times: it is always replayed from its first frame.
    bool PlaysFromFirstFrame() const { return Kind == lkCandump; }

    // What the load took and passed over, for the user:
    //   "drive.asc: 3 frames (ASC); 6 lines skipped: 4 header and comment lines,
    //    1 standard (11-bit) frame, 1 error frame"
    //   "run.asc: 11472 frames (layout 4/5)"
    TAString Summary() const;
    // "layout 4/5", "ASC", "candump".
    static const char* KindName(TLogFileKind kind);
};
