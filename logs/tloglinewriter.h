#pragma once
// How the output log writes its lines: one implementation per file format, chosen by
// TLogOutFormat. TLogOut owns the file; a writer only turns frames (and the opening and
// closing of a file) into text.
//
//   Layout5  the program's own lfFixedId lines with CR LF: 29-bit frames of 8 bytes only
//            "000.0100 18FEF100F315000CFFFFFFFF"
//   Asc      an ASC file (".asc"): a header that readers of the format expect before
//            the first frame, then one line per frame with CR LF, on channel 1, with
//            its identifier ("x" after a 29-bit one) and its data length and bytes:
//            "date Mon Jan 06 02:03:04.005 PM 2025"
//            "base hex  timestamps absolute"
//            "no internal events logged"
//            "Begin Triggerblock Mon Jan 06 02:03:04.005 PM 2025"
//            "   0.010000 1  18FEF100x       Tx   d 8 F3 15 00 0C FF FF FF FF"
//            "   0.012000 1  123             Tx   d 2 AA BB"
//            "End TriggerBlock"                                   (when the file is closed)
//   Candump  a candump log (".log"), LF line ends, interface "can0", the identifier in
//            3 (11-bit) or 8 (29-bit) digits, then the direction as candump -L -x and
//            python-can write it, "T" for a frame sent and "R" for one received; times
//            are seconds since the epoch (EpochTimes: the caller adds the run's start):
//            "(1700000000.010000) can0 18FEF100#F315000CFFFFFFFF T"
//            "(1700000001.500000) can0 18EA0021#E5FE00 R"
// Frames the channel received (TLogDirection::Received) are "Rx" lines in ASC and "R"
// lines in a candump log. Layout 5 has no direction: its writer takes sent frames
// only (HasDirection), and only 29-bit frames of 8 bytes (Holds).
// Times count from the run's Start in ASC (to the microsecond) and layout 5 (to 0.1 ms).

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
    // direction is only given sent frames, and only frames its format Holds.
    virtual void Append(const TCanFrame& frame, TLogDirection direction, std::string& out) const = 0;
    // Whether Append takes times in µs since the epoch rather than since Start.
    virtual bool EpochTimes() const { return false; }

    static std::unique_ptr<TLogLineWriter> Create(TLogOutFormat format);

    // "l5", "asc", "candump": the runner's --log-format words and the settings file's.
    static const char* Name(TLogOutFormat format);
    static std::optional<TLogOutFormat> FromName(std::string_view name);
    // The file name extension that goes with the format: "asc", "asc", "log".
    static const char* Extension(TLogOutFormat format);
    // The format a file name asks for by its extension, in any case: ".asc" ASC,
    // ".log" candump, anything else layout 5.
    static TLogOutFormat FormatOfFileName(std::string_view fileName);
    // Whether the format can hold the frame: layout 5 only 29-bit frames of 8 bytes.
    static bool Holds(TLogOutFormat format, const TCanFrame& frame);
    // Whether the format tells received frames from sent ones: all but layout 5.
    static bool HasDirection(TLogOutFormat format) { return format != TLogOutFormat::Layout5; }
    // The candump interface of every frame; the direction tells sent from received.
    static constexpr const char* CandumpInterface = "can0";

protected:
    TLogLineWriter() = default;
    TLogLineWriter(const TLogLineWriter&) = default;
    TLogLineWriter& operator=(const TLogLineWriter&) = default;
};
