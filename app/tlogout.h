#pragma once
// The output log: the frames of a run appended to a text file, one line each, in the
// format chosen with SetFormat (TLogLineWriter): by default the layout the program
// replays (lfFixedId, "000.0000 18FEF100F315000CFFFFFFFF", each followed by CR LF);
// also ASC or candump. Times count from Start.

#include "app/tloglinewriter.h"
#include "fms/tcanframe.h"
#include "support/tastring.h"

#include <cstdio>
#include <memory>
#include <string>

class TLogOut {
public:
    TLogOut();
    ~TLogOut();
    TLogOut(const TLogOut&) = delete;
    TLogOut& operator=(const TLogOut&) = delete;

    // Closes the file open so far, then opens fileName for appending in binary mode
    // (created when missing) and writes what its format puts before the first frame.
    // False when it cannot be opened: no file is open then. The name is kept in either case.
    bool Open(const TAString& fileName);
    // Writes what the format puts after the last frame and closes the file.
    void Close();
    void Flush();
    bool IsOpen() const { return file_ != nullptr; }
    // The last name given to Open.
    const TAString& FileName() const { return fileName_; }

    // The format of the files opened from now on (the open one keeps its own).
    void SetFormat(TLogOutFormat format) { format_ = format; }
    TLogOutFormat Format() const { return format_; }

    // One line for frame. False when nothing is open or the write failed.
    bool Append(const TCanFrame& frame);

    // The layout-5 line, without its CR LF.
    static TAString Line(const TCanFrame& frame);

private:
    bool Write(const std::string& text);

    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    TAString fileName_;
    TLogOutFormat format_ = TLogOutFormat::Layout5;
    std::unique_ptr<TLogLineWriter> writer_;   // of the open file
    std::string line_;
};
