#pragma once
// Reads a CAN log file into a TCanLog. The kind of file is found from its content
// (the first lines that tell, blank and undecided lines passed over):
//   - lines of lfFixedSaPgn or lfFixedId, the program's own (the default when no
//     line tells): "000.0000 18FEF100F315000CFFFFFFFF", "000.0000 00FEF1F315000CFFFFFFFF";
//   - an ASC file: frames "   0.010000 1  18FEF100x       Rx   d 8 F3 15 00 0C FF FF FF FF",
//     "   0.011000 2  123             Rx   d 2 AA BB" (no "x": an 11-bit identifier; the
//     data length 0 to 8), lfAscD "  0.0100 1 18FEF100x Rx D F3 15 00 0C FF FF FF FF", and
//     "CANFD" lines whose flags word (after the data, the duration and the bit count)
//     has the FD bit 0x1000 clear: classic frames, as CAN FD loggers write them
//     ("0.003 CANFD 1 Rx 18EA00F9x 0 0 3 3 E5 FE 00 130000 130 0 0 0 0 0 0", a symbolic
//     name may follow the identifier); with its header and block lines ("date ...",
//     "base hex  timestamps absolute", "internal events logged", "Begin Triggerblock ...",
//     "End TriggerBlock", "// ...") and event lines ("0.000000 Start of measurement")
//     passed over. "base dec" reads identifiers and data in decimal; "timestamps
//     relative" adds each line's time to the one before;
//   - a candump log: "(1700000000.123456) can0 18FEF100#F315000CFFFFFFFF" (8 identifier
//     digits: 29 bits; 3 digits: 11 bits; 0 to 8 data bytes, "123#AABB"), optionally
//     followed by " R" or " T".
// Line ends LF or CR LF; a UTF-8 byte order mark at the start is passed over.
//
// Every classic data frame is kept with its identifier kind, its length (bytes past it
// are 0) and its channel (the ASC channel number or the candump interface, listed in
// TCanLog::Channels). Remote, error and CAN FD frames, ASC "TxRq" lines, events and
// notes give no frame; they are counted by reason in TCanLog::Skipped. An ASC comment or
// note line may be of any length. Every other line must be a frame: the first one that
// is not refuses the whole log with TBaseError("", "Logfile Read Error", detail), the
// detail naming the file, the line number, the line and what was wrong or expected:
//   drive.asc line 3: '000.0100 FFFFFFFF00' is not a log line (expected e.g. ...)
//   drive.asc line 7: '000.0000 E8FEE900F315000CFFFFFFFF': identifier 'E8FEE900' is wider than 29 bits
//   bus.log line 2: '(0.5) can0 18FEF100#F31': data 'F31' is not 0 to 8 bytes in hexadecimal digits
// So are a NUL byte, any other line longer than MaxLineLength, and a file that is not a
// regular file (a directory, a device, a FIFO) or cannot be read ("drive.asc: is a
// directory, not a log file", "drive.asc: cannot open the file: No such file or directory").
//
// Load: the file's last line without a line end was cut off or is still being written:
// it is not read (a part of a frame's line could read as a shorter frame) and
// TCanLog::CutLine says so. A file whose size or modification time changes while it
// loads is refused ("drive.asc: the file changed while it was loaded (...)").
// Parse reads text held whole: its last line needs no line end.

#include "logs/tcanlog.h"
#include "support/tastring.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

class TCanLogReader {
public:
    // The longest line read, without its line end.
    static constexpr std::size_t MaxLineLength = 4096;

    struct TControl {
        // Looked at while the file is read and parsed: once it is not 0 (a stop signal's
        // number, or 1) the load ends soon (within about a megabyte of text) with the
        // error "<file>: loading stopped".
        const std::atomic<int>* Cancel = nullptr;
        // Called on the loading thread as the file is read: bytes read and the file's size.
        std::function<void(uint64_t done, uint64_t size)> Progress;
    };

    // The file read in parts of a megabyte, each part parsed as it comes, so that only
    // the frames stay in memory.
    static TCanLog Load(const TAString& fileName, const TControl& control);
    static TCanLog Load(const TAString& fileName) { return Load(fileName, TControl()); }
    // The lines of text; name only appears in error details and the summary.
    static TCanLog Parse(std::string_view text, const TAString& name, const TControl& control);
    static TCanLog Parse(std::string_view text, const TAString& name = TAString()) { return Parse(text, name, TControl()); }
};
