#include "logs/tlogout.h"

#include "support/tsafefile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* OpenOp = "TLogOut::Open";
constexpr const char* OpenMessage = "Output log not opened";
constexpr const char* WriteOp = "TLogOut::Write";
constexpr const char* WriteMessage = "Output log write error";

TAString Quoted(const TAString& path)
{
    return "'" + path + "'";
}

}  // namespace

TLogOut::~TLogOut()
{
    Close();
}

std::optional<TBaseError> TLogOut::Check(const TAString& fileName)
{
    if (const std::optional<TAString> refusal = TSafeFile::Refusal(fileName))
        return TBaseError(OpenOp, OpenMessage, *refusal);
    return std::nullopt;
}

bool TLogOut::Open(const TAString& fileName, TOpenMode mode)
{
    Close();
    fileName_ = fileName;
    error_.reset();
    interrupted_ = false;
    lines_ = 0;
    if (std::optional<TBaseError> refusal = Check(fileName)) {
        error_ = std::move(refusal);
        return false;
    }
    // Non-blocking so that a FIFO without a reader is refused instead of waiting for one.
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) {
        const int error = errno;
        error_ = TBaseError(OpenOp, OpenMessage,
                            error == ENXIO ? Quoted(fileName) + " is a FIFO that no program reads"
                                           : Quoted(fileName) + ": " + TAString(std::strerror(error)));
        return false;
    }
    struct stat st {};
    // The name may have changed between the check and the open.
    if (::fstat(fd, &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))) {
        ::close(fd);
        error_ = TBaseError(OpenOp, OpenMessage, Quoted(fileName) + " is not a regular file or a FIFO");
        return false;
    }
    // One writer per log: a second run on the same file would mix its lines into this
    // one's and, on a write failure, cut them off. The lock goes with the descriptor.
    if (S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        error_ = TBaseError(OpenOp, OpenMessage,
                            error == EWOULDBLOCK
                                ? Quoted(fileName) + " is being written by another run; it is left as it is"
                                : Quoted(fileName) + ": " + TAString(std::strerror(error)));
        return false;
    }
    fifo_ = S_ISFIFO(st.st_mode);
    if (fifo_) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    } else if (mode == omReplace && st.st_size > 0) {
        if (::ftruncate(fd, 0) != 0) {
            const int error = errno;
            ::close(fd);
            error_ = TBaseError(OpenOp, OpenMessage, Quoted(fileName) + ": " + TAString(std::strerror(error)));
            return false;
        }
        st.st_size = 0;
    }
    fd_ = fd;
    committed_ = fifo_ ? 0 : static_cast<int64_t>(st.st_size);
    buffer_.clear();
    writer_ = TLogLineWriter::Create(format_);
    openFormat_ = format_;
    // A FIFO is a new stream.
    const bool empty = fifo_ || st.st_size == 0;
    const auto now = std::chrono::system_clock::now();
    openedAt_ = wallClock_ ? wallClock_()
                           : std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    buffer_ = writer_->Begin(empty, local, static_cast<int>(millis));
    return true;
}

bool TLogOut::Close()
{
    if (fd_ < 0) return !Failed();
    if (writer_) buffer_ += writer_->End();
    writer_.reset();
    const bool written = WriteBuffer();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && written) {
        error_ = TBaseError(WriteOp, WriteMessage,
                            Quoted(fileName_) + ": " + TAString(std::strerror(errno)) + " when closing the file");
        return false;
    }
    return written;
}

bool TLogOut::Flush()
{
    if (fd_ < 0) return false;
    return WriteBuffer();
}

const TBaseError& TLogOut::Error() const
{
    static const TBaseError none;
    return error_ ? *error_ : none;
}

TAString TLogOut::Reason() const
{
    if (!error_) return TAString();
    std::string detail = error_->Detail().str();
    const std::string named = Quoted(fileName_).str() + ": ";
    if (detail.compare(0, named.size(), named) == 0) detail.erase(0, named.size());
    if (const size_t end = detail.find("; "); end != std::string::npos) detail.erase(end);
    return TAString(detail);
}

TAString TLogOut::Line(const TCanFrame& frame)
{
    return frame.ToString(lfFixedId);
}

bool TLogOut::Append(const TCanFrame& frame, TLogDirection direction)
{
    if (fd_ < 0) return false;
    if (direction == TLogDirection::Received && !TakesReceived()) {
        // What is buffered is whole lines: it goes in before the file is closed.
        if (!WriteBuffer()) return false;
        FailWrite("a received frame cannot be written: layout 5 has no direction (ASC and candump logs have)");
        return false;
    }
    if (!TLogLineWriter::Holds(openFormat_, frame)) {
        if (!WriteBuffer()) return false;
        char id[16];
        std::snprintf(id, sizeof id, frame.Extended ? "%08X" : "%03X", static_cast<unsigned>(frame.Id));
        FailWrite(TAString("the frame ") + id + (frame.Extended ? "" : " (11-bit identifier)") + " with " +
                  TAString(std::to_string(frame.Dlc)) + " data bytes cannot be written: layout 5 holds only 29-bit "
                  "identifiers with 8 data bytes (ASC and candump logs hold every frame)");
        return false;
    }
    line_.clear();
    if (writer_->EpochTimes()) {
        TCanFrame stamped = frame;
        stamped.Time += runStart_.value_or(openedAt_);
        writer_->Append(stamped, direction, line_);
    } else {
        writer_->Append(frame, direction, line_);
    }
    if (!buffer_.empty() && buffer_.size() + line_.size() > ChunkBytes && !WriteBuffer()) return false;
    buffer_ += line_;
    return true;
}

void TLogOut::StartRun()
{
    runStart_ = wallClock_ ? wallClock_()
                           : std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
}

bool TLogOut::WriteBuffer()
{
    if (fd_ < 0) return false;
    size_t done = 0;
    while (done < buffer_.size()) {
        // Whole lines, at most ChunkBytes (a longer line alone).
        size_t size = std::min(buffer_.size() - done, ChunkBytes);
        if (done + size < buffer_.size()) {
            const size_t end = buffer_.rfind('\n', done + size - 1);
            size = end != std::string::npos && end >= done ? end + 1 - done : buffer_.find('\n', done) + 1 - done;
        }
        size_t written = 0;
        const int error = TSafeFile::WriteAll(fd_, buffer_.data() + done, size, &written);
        if (error) {
            // Lines that made it whole stay; the part of a line after them goes.
            size_t kept = 0;
            if (written > 0) {
                const size_t end = buffer_.rfind('\n', done + written - 1);
                if (end != std::string::npos && end >= done) kept = end + 1 - done;
            }
            lines_ += std::count(buffer_.begin() + static_cast<std::ptrdiff_t>(done),
                                 buffer_.begin() + static_cast<std::ptrdiff_t>(done + kept), '\n');
            committed_ += static_cast<int64_t>(kept);
            FailWrite(error);
            return false;
        }
        lines_ += std::count(buffer_.begin() + static_cast<std::ptrdiff_t>(done),
                             buffer_.begin() + static_cast<std::ptrdiff_t>(done + size), '\n');
        committed_ += static_cast<int64_t>(size);
        done += size;
    }
    buffer_.clear();
    return true;
}

void TLogOut::FailWrite(int error)
{
    FailWrite(TAString(std::strerror(error)));
    interrupted_ = error == EINTR;
}

void TLogOut::FailWrite(const TAString& reason)
{
    TAString detail = Quoted(fileName_) + ": " + reason;
    bool cut = true;
    if (!fifo_) cut = ::ftruncate(fd_, committed_) == 0;
    detail += "; " + TAString(std::to_string(lines_)) + " lines written";
    if (!fifo_) detail += cut ? ", the file ends with the last whole line" : ", the last line may be incomplete";
    buffer_.clear();
    writer_.reset();
    ::close(fd_);
    fd_ = -1;
    error_ = TBaseError(WriteOp, WriteMessage, detail);
}
