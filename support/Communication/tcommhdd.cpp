#include "support/Communication/tcommhdd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr auto PollPause = 20ms;
constexpr auto RetryPause = 10ms;
constexpr size_t ReadPiece = 64 * 1024;

TAString Reason(int code)
{
    return TAString(std::strerror(code));
}

// A name no other sender uses: host, process and a number counted per process.
TAString TemporaryName(const TAString& writeName)
{
    static std::atomic<unsigned> counter{0};
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        std::strcpy(host, "host");
    return writeName + "WR." + host + "." + TAString(static_cast<int32_t>(::getpid())) + "."
           + TAString(static_cast<int32_t>(counter++));
}

// Why an existing name cannot take a drop ("is a directory"); empty when it can (a
// regular file, the drop still waiting) or when there is nothing at the name.
TAString NotADropFile(const TAString& name)
{
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0 || S_ISREG(info.st_mode))
        return TAString();
    if (S_ISDIR(info.st_mode))
        return "is a directory";
    if (S_ISFIFO(info.st_mode))
        return "is a FIFO, not a drop file";
    return "is not a regular file";
}

bool WriteAll(int file, const uint8_t* bytes, size_t count)
{
    while (count > 0) {
        const ssize_t done = ::write(file, bytes, std::min<size_t>(count, TCommHDD::PieceSize));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        bytes += done;
        count -= static_cast<size_t>(done);
    }
    return true;
}

} // namespace

TCommHDD::TCommHDD(const TAString& writeName, const TAString& readName, size_t recordSize)
    : TACommunication(std::nullopt, PollPause, recordSize), readName_(readName), writeName_(writeName),
      tempName_(TemporaryName(writeName)), piece_(ReadPiece)
{
    StartThreads();
}

TCommHDD::~TCommHDD()
{
    StopThreads();
    // Unpublished bytes are still in the send buffer (and counted by Drain).
    if (tempBytes_ > 0)
        ::unlink(tempName_.c_str());
    PutBackDrop();
}

bool TCommHDD::WriteTemporary(size_t count)
{
    std::vector<uint8_t> bytes(count);
    SendBuffer().Peek(bytes.data(), count);
    const int file = ::open(tempName_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file < 0)
        return false;
    const bool written = WriteAll(file, bytes.data(), count);
    if (::close(file) != 0 || !written) {
        ::unlink(tempName_.c_str());
        return false;
    }
    return true;
}

TCommHDD::TPublish TCommHDD::Publish()
{
    if (::renameat2(AT_FDCWD, tempName_.c_str(), AT_FDCWD, writeName_.c_str(), RENAME_NOREPLACE) == 0)
        return TPublish::Done;
    int code = errno;
    if (code == EINVAL || code == ENOSYS) {
        // No RENAME_NOREPLACE on this file system: a hard link also fails on an existing name.
        if (::link(tempName_.c_str(), writeName_.c_str()) == 0) {
            ::unlink(tempName_.c_str());
            return TPublish::Done;
        }
        code = errno;
        if (code == EPERM || code == ENOTSUP)
            throw TBaseError("TCommHDD::Send", "unknown-Fatal-Error",
                             "HDD write file '" + writeName_
                                 + "': the file system can neither rename without replacing nor link");
    }
    if (code == EEXIST)
        return TPublish::Waiting;
    return TPublish::Failed;
}

bool TCommHDD::Send()
{
    TABuffer& buffer = SendBuffer();
    if (tempBytes_ == 0) {
        const size_t count = buffer.Count() / RecordSize() * RecordSize();
        if (count == 0)
            return false;
        if (const TAString why = NotADropFile(writeName_); !why.IsEmpty())
            throw TBaseError("TCommHDD::Send", "unknown-Fatal-Error", "HDD write file '" + writeName_ + "' " + why);
        // The peer has not taken the last drop yet: look again shortly.
        if (::access(writeName_.c_str(), F_OK) == 0)
            return PauseSend(PollPause);
        if (!WriteTemporary(count))
            return PauseSend(PollPause);
        tempBytes_ = count;
    }
    switch (Publish()) {
    case TPublish::Done:
        buffer.Skip(tempBytes_);
        tempBytes_ = 0;
        return buffer.Count() >= RecordSize();
    case TPublish::Waiting:
        return PauseSend(PollPause);
    case TPublish::Failed:
        break;
    }
    // The temporary file is gone or the directory is not there: write it again later.
    ::unlink(tempName_.c_str());
    tempBytes_ = 0;
    return PauseSend(PollPause);
}

bool TCommHDD::Receive()
{
    if (drop_ < 0) {
        struct stat info {};
        if (::stat(readName_.c_str(), &info) != 0)
            return false;
        if (S_ISDIR(info.st_mode))
            throw TBaseError("TCommHDD::Receive", "unknown-Fatal-Error",
                             "HDD read file '" + readName_ + "' is a directory");
        // A drop that can fit waits until it fits whole; a larger one goes in pieces.
        const auto size = static_cast<size_t>(info.st_size);
        if (S_ISREG(info.st_mode) && size <= ReceiveBuffer().Limit() && size > MayReceive(stream_))
            return false;
        // Without O_NONBLOCK, opening a FIFO that no program writes to would wait for one,
        // and nothing could end that wait.
        drop_ = ::open(readName_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (drop_ < 0)
            return false;
        struct stat opened {};
        if (::fstat(drop_, &opened) != 0 || (!S_ISREG(opened.st_mode) && !S_ISFIFO(opened.st_mode))) {
            ::close(drop_);
            drop_ = -1;
            throw TBaseError("TCommHDD::Receive", "unknown-Fatal-Error",
                             "HDD read file '" + readName_ + "' is not a regular file or a FIFO");
        }
        fifo_ = S_ISFIFO(opened.st_mode);
    }
    for (;;) {
        const size_t may = std::min(MayReceive(stream_), piece_.size());
        if (may == 0)
            return false;   // Read makes room and wakes this thread
        const ssize_t got = ::read(drop_, piece_.data(), may);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && fifo_ && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;   // the FIFO's writer has nothing more yet: look again shortly
        if (got < 0)
            throw TBaseError("TCommHDD::Receive", "unknown-Fatal-Error",
                             "HDD read file '" + readName_ + "': " + Reason(errno));
        if (got == 0)
            break;
        Deliver(stream_, piece_.data(), static_cast<size_t>(got));
    }
    if (fifo_)
        return FifoWithoutWriter();
    ::close(drop_);
    drop_ = -1;
    EndStream(stream_, "HDD drop '" + readName_ + "'");
    RemoveDrop();
    return true;
}

bool TCommHDD::FifoWithoutWriter()
{
    EndStream(stream_, "HDD FIFO '" + readName_ + "'");
    // The FIFO stays open, so that a program that starts writing finds its reader at once
    // (closing between looks could leave a writer without one); only when the read name
    // names something else now is it let go.
    struct stat named {};
    struct stat held {};
    if (::stat(readName_.c_str(), &named) != 0 || ::fstat(drop_, &held) != 0 || named.st_dev != held.st_dev
        || named.st_ino != held.st_ino) {
        ::close(drop_);
        drop_ = -1;
    }
    return false;
}

void TCommHDD::RemoveDrop()
{
    for (;;) {
        if (::unlink(readName_.c_str()) == 0 || errno == ENOENT)
            return;
        const int code = errno;
        // Taken but not deletable: it would come again and again.
        if (code == EACCES || code == EPERM || code == EROFS)
            throw TBaseError("TCommHDD::Receive", "unknown-Fatal-Error",
                             "HDD read file '" + readName_ + "' cannot be deleted: " + Reason(code));
        if (!PauseReceive(RetryPause))
            return;
    }
}

void TCommHDD::PutBackDrop()
{
    if (drop_ < 0)
        return;
    if (fifo_) {
        // A FIFO is a stream, not a drop: what its writer has not sent yet stays with it.
        ::close(drop_);
        drop_ = -1;
        return;
    }
    // What was not taken yet: the start of a cut-off record and the rest of the file.
    std::vector<uint8_t> rest = stream_.partial;
    for (;;) {
        const ssize_t got = ::read(drop_, piece_.data(), piece_.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        rest.insert(rest.end(), piece_.begin(), piece_.begin() + got);
    }
    ::close(drop_);
    drop_ = -1;
    // The drop is still ours (its sender waits while it exists), so it may be replaced.
    const TAString back = TemporaryName(readName_);
    const int file = ::open(back.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file < 0)
        return;
    const bool written = WriteAll(file, rest.data(), rest.size());
    if (::close(file) == 0 && written && std::rename(back.c_str(), readName_.c_str()) == 0)
        return;
    ::unlink(back.c_str());
}
