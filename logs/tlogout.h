#pragma once
// The output log: the frames of a run written to a text file, one line each, in the
// format chosen with SetFormat (TLogLineWriter): by default the layout the program
// replays (lfFixedId, "000.0000 18FEF100F315000CFFFFFFFF", each followed by CR LF);
// also ASC or candump. Times count from Start; a candump log's are seconds since the
// epoch: the wall clock at the run's start (StartRun) plus the time since Start.
//
// A regular file is locked (flock) while it is open: a second writer, in this process or
// another, is refused. Only a regular file (followed through symlinks) or a FIFO takes the log; the path is
// never removed or replaced, so its mode, owner, links and symlinks stay. A directory,
// a device or a socket is refused, as is a FIFO that no program reads yet (opening
// never waits).
//
// Lines are buffered and written in chunks of whole lines of at most PIPE_BUF bytes, so
// a reader of a FIFO never sees part of a line. When a write fails (a full disk, the
// file size limit, a reader that went away) the file is cut back to its last complete
// line, so it still reads as a user log, and closed; Error() says which file, why, and
// how many lines it holds. A failure is sticky until the next Open.

#include "logs/tloglinewriter.h"
#include "fms/tcanframe.h"
#include "support/tastring.h"
#include "support/tbaseerror.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TLogOut {
public:
    // omAppend: new lines go after the file's contents (the windowed program).
    // omReplace: a regular file is emptied first (the headless runner, once every
    // input has been checked); a FIFO is written as it stands.
    enum TOpenMode { omAppend, omReplace };

    // Bytes of whole lines written at once (PIPE_BUF on Linux: atomic on a FIFO).
    static constexpr std::size_t ChunkBytes = 4096;

    TLogOut() = default;
    ~TLogOut();
    TLogOut(const TLogOut&) = delete;
    TLogOut& operator=(const TLogOut&) = delete;

    // Closes the file open so far, then opens fileName, creating a missing regular file
    // (mode 0666 less the umask), and writes what its format puts before the first
    // frame. False when it cannot be opened: no file is open then and Error() says why.
    // The name is kept in either case.
    bool Open(const TAString& fileName, TOpenMode mode = omAppend);
    // Writes what is buffered and what the format puts after the last frame, and closes
    // the file. False when that or the close failed.
    bool Close();
    // Writes what is buffered. False when nothing is open or the write failed.
    bool Flush();
    bool IsOpen() const { return fd_ >= 0; }
    // The last name given to Open.
    const TAString& FileName() const { return fileName_; }

    // The format of the files opened from now on (the open one keeps its own).
    void SetFormat(TLogOutFormat format) { format_ = format; }
    TLogOutFormat Format() const { return format_; }

    // One line for frame, sent by the run or received from the channel. False when
    // nothing is open or a write failed (the file is then closed and Error() holds the
    // reason). A frame the open file's format cannot hold is refused the same way (the
    // file ends with its last whole line and Error() says why): in layout 5 a received
    // frame (it has no direction) and a frame with an 11-bit identifier or fewer than 8
    // data bytes.
    bool Append(const TCanFrame& frame, TLogDirection direction = TLogDirection::Sent);

    // The run starts now (TRunEngine::Start): the wall clock, µs since the epoch, that
    // the times of a candump log count from, also in a file opened later in the run.
    // Before any run has started, the wall clock when the file was opened.
    void StartRun();
    void StartRun(int64_t epochMicros) { runStart_ = epochMicros; }
    // The wall clock StartRun and Open read (tests give a fixed one); µs since the epoch.
    void SetWallClock(std::function<int64_t()> clock) { wallClock_ = std::move(clock); }
    // Whether the open file's format tells received frames from sent ones.
    bool TakesReceived() const { return fd_ >= 0 && TLogLineWriter::HasDirection(openFormat_); }

    // True when the last Open, a write or the close failed; Error() then says why:
    //   ("TLogOut::Open", "Output log not opened", "<file>: <reason>")
    //   ("TLogOut::Write", "Output log write error", "<file>: <reason> ...")
    bool Failed() const { return error_.has_value(); }
    const TBaseError& Error() const;
    // True when the last failure was a write that a signal interrupted (EINTR): the
    // program was asked to stop while a FIFO's reader stalled; the file holds whole lines.
    bool Interrupted() const { return interrupted_; }
    // The reason alone, for a status line: "No space left on device", "the folder 'x'
    // does not exist"; empty when nothing failed.
    TAString Reason() const;

    // Lines written into the file since Open (whole lines only).
    int64_t LinesWritten() const { return lines_; }

    // The layout-5 line, without its CR LF.
    static TAString Line(const TCanFrame& frame);

    // Whether fileName could take the log, without creating or changing anything: an
    // existing regular file or FIFO, or a missing name in a writable folder. The error
    // Open would give otherwise.
    static std::optional<TBaseError> Check(const TAString& fileName);

private:
    bool WriteBuffer();
    void FailWrite(int error);
    void FailWrite(const TAString& reason);
    void CloseFd();

    int fd_ = -1;
    bool fifo_ = false;
    TAString fileName_;
    std::string buffer_;
    int64_t committed_ = 0;   // file offset after the last whole line written (regular files)
    int64_t lines_ = 0;
    std::optional<TBaseError> error_;
    bool interrupted_ = false;
    TLogOutFormat format_ = TLogOutFormat::Layout5;
    TLogOutFormat openFormat_ = TLogOutFormat::Layout5;   // of the open file
    std::unique_ptr<TLogLineWriter> writer_;   // of the open file
    std::string line_;
    std::optional<int64_t> runStart_;   // µs since the epoch
    int64_t openedAt_ = 0;
    std::function<int64_t()> wallClock_;
};
