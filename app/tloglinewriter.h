#pragma once
// How the output log writes its lines: one implementation per file format, chosen by
// TLogOutFormat. TLogOut owns the file; a writer only turns frames (and the opening and
// closing of a file) into text.
//
//   Layout5  the program's own lfFixedId lines with CR LF (".asc"):
//            "000.0100 18FEF100F315000CFFFFFFFF"
//   Asc      an ASC file (".asc"): a header that readers of the format expect before
//            the first frame, then one line per frame with CR LF, every frame sent
//            ("Tx") on channel 1 with an extended identifier and 8 data bytes:
//            "date Mon Jan 06 02:03:04.005 PM 2025"
//            "base hex  timestamps absolute"
//            "no internal events logged"
//            "Begin Triggerblock Mon Jan 06 02:03:04.005 PM 2025"
//            "   0.010000 1  18FEF100x       Tx   d 8 F3 15 00 0C FF FF FF FF"
//            "End TriggerBlock"                                   (when the file is closed)
//   Candump  a candump log (".log"), LF line ends, interface "can0":
//            "(0000000000.010000) can0 18FEF100#F315000CFFFFFFFF"
// Frames the channel received (TLogDirection::Received) are "Rx" lines in ASC and lines
// of the interface "can0rx" in a candump log:
//            "   1.500000 1  18EA0021x       Rx   d 8 E5 FE 00 FF FF FF FF FF"
//            "(0000000001.500000) can0rx 18EA0021#E5FE00FFFFFFFFFF"
// Layout 5 has no direction: its writer takes sent frames only (HasDirection).
// Times count from the run's Start in every format, to the microsecond in ASC and
// candump and to 0.1 ms in layout 5.

#include "fms/tcanframe.h"

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

enum class TLogOutFormat { Layout5, Asc, Candump };
// Whether a frame of the log was sent by the run or received from the channel.
enum class TLogDirection { Sent, Received };

class TLogLineWriter {
public:
    virtual ~TLogLineWriter() = default;

    // What goes into the file when it is opened, before its first frame: for a file
    // that is empty, and for one that already has lines (appended to). now is the
    // local time of the opening, millis its milliseconds.
    virtual std::string Begin(bool emptyFile, const std::tm& now, int millis) const = 0;
    // What goes into the file after its last frame, when it is closed.
    virtual std::string End() const = 0;
    // Appends the line of frame, with its line end, to out. A writer without
    // direction is only given sent frames.
    virtual void Append(const TCanFrame& frame, TLogDirection direction, std::string& out) const = 0;

    static std::unique_ptr<TLogLineWriter> Create(TLogOutFormat format);

    // "l5", "asc", "candump": the runner's --log-format words and the settings file's.
    static const char* Name(TLogOutFormat format);
    static std::optional<TLogOutFormat> FromName(std::string_view name);
    // The file name extension that goes with the format: "asc", "asc", "log".
    static const char* Extension(TLogOutFormat format);
    // Whether the format tells received frames from sent ones: all but layout 5.
    static bool HasDirection(TLogOutFormat format) { return format != TLogOutFormat::Layout5; }
    // The candump interface of the frames sent and of those received.
    static constexpr const char* CandumpSent = "can0";
    static constexpr const char* CandumpReceived = "can0rx";

protected:
    TLogLineWriter() = default;
    TLogLineWriter(const TLogLineWriter&) = default;
    TLogLineWriter& operator=(const TLogLineWriter&) = default;
};
