#pragma once
// Reads a CAN log text into a TCanLog: one frame per line in lfFixedSaPgn or
// lfFixedId (told apart by the line's shape), LF or CR LF line ends.
//
// Every line must be a log line with a 29-bit identifier; the first one that is not
// refuses the whole log with TBaseError("", "Logfile Read Error", detail), the detail
// naming the file, the line number, the line and what was expected or wrong:
//   drive.asc line 3: '000.0100 FFFFFFFF00' is not a log line (expected e.g.
//   '000.0000 18FEF100F315000CFFFFFFFF' or '000.0000 00FEF1F315000CFFFFFFFF')
//   drive.asc line 7: identifier 'FFFFFFFF' is wider than 29 bits

#include "app/tcanlog.h"
#include "support/tastring.h"

#include <string_view>

class TCanLogReader {
public:
    // The file's lines. A file that cannot be read gives the same error, with the
    // reason in the detail.
    static TCanLog Load(const TAString& fileName);
    // The lines of text; name only appears in error details.
    static TCanLog Parse(std::string_view text, const TAString& name = TAString());
};
