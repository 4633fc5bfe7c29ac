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
// Times count from the run's Start in every format, to the microsecond in ASC and
// candump and to 0.1 ms in layout 5.

#include "fms/tcanframe.h"

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

enum class TLogOutFormat { Layout5, Asc, Candump };

class TLogLineWriter {
public:
    virtual ~TLogLineWriter() = default;

    // What goes into the file when it is opened, before its first frame: for a file
    // that is empty, and for one that already has lines (appended to). now is the
    // local time of the opening, millis its milliseconds.
    virtual std::string Begin(bool emptyFile, const std::tm& now, int millis) const = 0;
    // What goes into the file after its last frame, when it is closed.
    virtual std::string End() const = 0;
    // Appends the line of frame, with its line end, to out.
    virtual void Append(const TCanFrame& frame, std::string& out) const = 0;

    static std::unique_ptr<TLogLineWriter> Create(TLogOutFormat format);

    // "l5", "asc", "candump": the runner's --log-format words and the settings file's.
    static const char* Name(TLogOutFormat format);
    static std::optional<TLogOutFormat> FromName(std::string_view name);
    // The file name extension that goes with the format: "asc", "asc", "log".
    static const char* Extension(TLogOutFormat format);

protected:
    TLogLineWriter() = default;
    TLogLineWriter(const TLogLineWriter&) = default;
    TLogLineWriter& operator=(const TLogLineWriter&) = default;
};
