#pragma once
// A CAN log held for replay: its frames in file order, each with its time and the
// line it came from, parsed once when the log is loaded so that replaying it does no
// text work. 32 bytes a frame: a 2,000,000-line log takes 64 MB.
//
// With the frames the load keeps what kind of file it was, the channels (ASC) or
// interfaces (candump) its frames came from, how many lines it passed over and why,
// and whether its last line was cut, so that the user can be told (Summary).

#include "fms/tcanframe.h"
#include "fms/ttransferwatch.h"
#include "support/tastring.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
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
    skRemote,     // remote frames: they carry no data
    skError,      // error frames
    skFd,         // CAN FD frames: a classic bus cannot carry them
    skRequest,    // ASC "TxRq" lines: the request to send a frame, logged before the frame itself
    skEvent,      // other events ("Start of measurement", statistics, transport protocol notes)
    skCount
};

// A channel of an ASC file (its number, "1" to "N") or an interface of a candump log
// ("can0"), with the frames the file holds on it.
struct TLogChannel {
    TAString Name;
    uint32_t Frames = 0;
    bool Replayed = true;   // false: left out by TCanLog::SelectChannels
};

struct TCanLog {
    TAString FileName;    // empty for a log that is not a file (the internal one)
    TLogFileKind Kind = lkFixed;
    std::array<uint32_t, skCount> Skipped{};   // lines passed over, by reason
    std::vector<TLogFrame> Frames;
    // The channels or interfaces found, in order of number (ASC) or name (candump);
    // TLogFrame::Channel indexes this list. Empty for layouts 4 and 5, which have none.
    std::vector<TLogChannel> Channels;
    // The file's last line had no line end: it was being written or cut off, so it was
    // not read (a part of a frame's line could read as a shorter frame). CutLine is
    // its number, CutText its start.
    uint32_t CutLine = 0;
    TAString CutText;

    int Count() const { return static_cast<int>(Frames.size()); }
    bool Empty() const { return Frames.empty(); }
    uint32_t SkippedLines() const;
    // A candump log holds epoch times: it is always replayed from its first frame.
    bool PlaysFromFirstFrame() const { return Kind == lkCandump; }

    // The log with only the frames of the channels named (ASC numbers such as "2", or
    // candump interface names such as "can1"), in file order; the channel list stays
    // whole, with Replayed telling which are left out. Throws TBaseError("TCanLog::SelectChannels",
    // "Unknown channel", "drive.asc: no channel '5' (the log holds 1, 2, 3, 4)") for a
    // name the log does not hold, and for any name given for a log without channels.
    TCanLog SelectChannels(const std::vector<TAString>& names) const;

    // The first frame that layout 5 cannot hold (an 11-bit identifier or fewer than 8
    // data bytes), if there is one.
    std::optional<std::size_t> FirstFrameNotInLayout5() const;
    // "frame 0x123 with 2 data bytes", "frame 0x18EA00F9 with 3 data bytes",
    // "frame 0x123 (11-bit identifier)" at its line.
    static TAString Describe(const TLogFrame& frame);

    // What the load took and passed over, for the user:
    //   "drive.asc: 3 frames (ASC); 6 lines skipped: 4 header and comment lines,
    //    1 remote frame, 1 error frame"
    //   "run.asc: 11472 frames (layout 4/5)"
    //   "gw.asc: 8 frames (ASC) from 4 channels merged into one replay: 1 (2 frames),
    //    2 (2 frames), 3 (2 frames), 4 (2 frames)"
    //   "bus.log: 3 frames (candump) from interface can1 of 2: can0 (2 frames, not
    //    replayed), can1 (3 frames)"
    //   "...; the last line (line 9) has no line end and was not read: '(1.5) can0 18FE'"
    TAString Summary() const;
    // The transport transfers of the frames in file order (TTransferWatch), as a replay
    // sends them; the summary gives their counts.
    TTransferWatch WatchTransfers() const;
    // "layout 4/5", "ASC", "candump".
    static const char* KindName(TLogFileKind kind);
};
