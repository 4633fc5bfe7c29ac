#pragma once
// The output log: the frames of a run appended to a text file, one line each in the
// layout the program replays (lfFixedId, "000.0000 18FEF100F315000CFFFFFFFF"), each
// followed by CR LF. Times count from Start.

#include "fms/tcanframe.h"
#include "support/tastring.h"

#include <cstdio>
#include <memory>

class TLogOut {
public:
    // Closes the file open so far, then opens fileName for appending in binary mode
    // (created when missing). False when it cannot be opened: no file is open then.
    // The name is kept in either case.
    bool Open(const TAString& fileName);
    void Close();
    void Flush();
    bool IsOpen() const { return file_ != nullptr; }
    // The last name given to Open.
    const TAString& FileName() const { return fileName_; }
    // Why the last Open or Append failed, in the system's words ("No such file or
    // directory"); empty after a successful Open.
    const TAString& Error() const { return error_; }

    // One line for frame. False when nothing is open or the write failed.
    bool Append(const TCanFrame& frame);

    // The line Append writes, without its CR LF.
    static TAString Line(const TCanFrame& frame);

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    TAString fileName_;
    TAString error_;
};
