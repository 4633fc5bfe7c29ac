#include "support/Communication/tcommhdd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libgen.h>
#include <mutex>
#include <sys/random.h>
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

std::mutex faultMutex;
TCommHDD::TWriteFault& CurrentFault()
{
    static TCommHDD::TWriteFault fault;
    return fault;
}

// "<name>WR.<16 random hex digits>": nobody can guess it to plant a file or a link there.
TAString TemporaryName(const TAString& name)
{
    uint8_t random[8] = {};
    size_t got = 0;
    while (got < sizeof random) {
        const ssize_t n = ::getrandom(random + got, sizeof random - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw TBaseError("TCommHDD::TemporaryName", "getrandom", Reason(errno));
        got += static_cast<size_t>(n);
    }
    static const char digits[] = "0123456789abcdef";
    std::string text = std::string(name.c_str()) + "WR.";
    for (const uint8_t byte : random) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return TAString(text);
}

// A new file of our own under a fresh temporary name for name; -1 with errno on failure.
int CreateTemporary(const TAString& name, TAString& made)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        made = TemporaryName(name);
        const int file = ::open(made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (file >= 0 || errno != EEXIST)
            return file;
    }
    return -1;
}

TAString FolderOf(const TAString& name)
{
    std::string copy(name.c_str());
    return TAString(::dirname(copy.data()));
}

bool FullDisk(int code)
{
    return code == ENOSPC || code == EDQUOT || code == EFBIG;
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

// Everything file holds from its current position on.
bool ReadRest(int file, std::vector<uint8_t>& into)
{
    uint8_t piece[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(file, piece, sizeof piece);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        into.insert(into.end(), piece, piece + got);
    }
}

} // namespace

void TCommHDD::SetWriteFault(TWriteFault fault)
{
    std::lock_guard guard(faultMutex);
    CurrentFault() = std::move(fault);
}

TCommHDD::TCommHDD(const TAString& writeName, const TAString& readName, const TCommOptions& options)
    : TACommunication(std::nullopt, PollPause, options), readName_(readName), writeName_(writeName),
      dropLimit_(SIZE_MAX), piece_(ReadPiece)
{
    {
        std::lock_guard guard(faultMutex);
        fault_ = CurrentFault();
    }
    StartThreads();
}

TCommHDD::~TCommHDD()
{
    StopThreads();
    // Unpublished bytes are still in the send buffer (and counted by Drain).
    if (tempBytes_ > 0)
        ::unlink(tempName_.c_str());
    GiveBack();
}

int TCommHDD::WriteFile(int file, const uint8_t* bytes, size_t count, size_t already)
{
    size_t done = 0;
    while (done < count) {
        const size_t piece = std::min<size_t>(count - done, PieceSize);
        if (fault_) {
            if (const int code = fault_(already + done + piece); code != 0)
                return code;
        }
        const ssize_t n = ::write(file, bytes + done, piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

int TCommHDD::WriteTemporary(size_t count)
{
    if (fault_) {
        if (const int code = fault_(0); code != 0)
            return code;
    }
    std::vector<uint8_t> bytes(count);
    SendBuffer().Peek(bytes.data(), count);
    const int file = CreateTemporary(writeName_, tempName_);
    if (file < 0)
        return errno;
    int code = WriteFile(file, bytes.data(), count, 0);
    if (::close(file) != 0 && code == 0)
        code = errno;
    if (code != 0)
        ::unlink(tempName_.c_str());
    return code;
}

void TCommHDD::ReportSendFailure(int code)
{
    const int reason = FullDisk(code) ? ENOSPC : code;
    if (std::find(reported_.begin(), reported_.end(), reason) != reported_.end())
        return;
    reported_.push_back(reason);
    const TAString folder = FolderOf(writeName_);
    TAString why = Reason(code);
    if (FullDisk(code))
        why += "; drops are made smaller until what fits is published, the rest waits";
    else if (code == ENOENT)
        why = "the folder does not exist (" + why + "); the records wait until it does";
    else if (code == EACCES || code == EPERM)
        why = "no permission to write there (" + why + "); the records wait";
    TAThread::Report("TCommHDD::Send Drop not written",
                     TBaseError("TCommHDD::Send", "Drop not written",
                                "HDD write file '" + writeName_ + "' in folder '" + folder + "': " + why));
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
    const size_t unit = RecordSize();
    if (tempBytes_ == 0) {
        size_t count = buffer.Count() / unit * unit;
        if (count == 0)
            return false;
        if (const TAString why = NotADropFile(writeName_); !why.IsEmpty())
            throw TBaseError("TCommHDD::Send", "unknown-Fatal-Error", "HDD write file '" + writeName_ + "' " + why);
        // The peer has not taken the last drop yet: look again shortly.
        if (::access(writeName_.c_str(), F_OK) == 0)
            return PauseSend(PollPause);
        count = std::min(count, std::max(dropLimit_ / unit, size_t{1}) * unit);
        if (const int code = WriteTemporary(count); code != 0) {
            ReportSendFailure(code);
            if (FullDisk(code) && count > unit) {
                // Half as much may fit: try it at once.
                dropLimit_ = std::max(count / 2 / unit, size_t{1}) * unit;
                return !IsStopping();
            }
            if (FullDisk(code))
                dropLimit_ = unit;
            return PauseSend(PollPause);
        }
        tempBytes_ = count;
    }
    switch (Publish()) {
    case TPublish::Done:
        buffer.Skip(tempBytes_);
        tempBytes_ = 0;
        // The disk had room again: let the next drop grow back.
        if (dropLimit_ != SIZE_MAX)
            dropLimit_ = dropLimit_ > SIZE_MAX / 2 ? SIZE_MAX : dropLimit_ * 2;
        return buffer.Count() >= unit;
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

void TCommHDD::FinalReceive()
{
    finalPass_ = true;
    try {
        while (Receive() && drop_ < 0 && !fifo_) {
            // One more drop may have followed; a drop only partly taken is given back.
        }
    } catch (...) {
        finalPass_ = false;
        throw;
    }
    finalPass_ = false;
}

bool TCommHDD::Receive()
{
    if (ReceiveStopping() && !finalPass_)
        return false;
    if (drop_ < 0) {
        struct stat info {};
        if (::lstat(readName_.c_str(), &info) != 0)
            return false;
        if (S_ISDIR(info.st_mode))
            throw TBaseError("TCommHDD::Receive", "unknown-Fatal-Error",
                             "HDD read file '" + readName_ + "' is a directory");
        if (S_ISLNK(info.st_mode)) {
            Acceptable(info);
            return false;
        }
        // A drop that can fit waits until it fits whole; a larger one goes in pieces.
        const auto size = static_cast<size_t>(info.st_size);
        if (S_ISREG(info.st_mode) && size <= ReceiveBuffer().Limit() && size > MayReceive(stream_))
            return false;
        // Without O_NONBLOCK, opening a FIFO that no program writes to would wait for one,
        // and nothing could end that wait.
        drop_ = ::open(readName_.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
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
        if (!fifo_ && !Acceptable(opened)) {
            ::close(drop_);
            drop_ = -1;
            return false;
        }
    }
    for (;;) {
        if (ReceiveStopping() && !finalPass_)
            return false;   // the rest of the drop is given back at the close
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

bool TCommHDD::Acceptable(const struct stat& info)
{
    TAString why;
    if (S_ISLNK(info.st_mode))
        why = "is a symbolic link";
    else if (info.st_uid != ::geteuid())
        why = "belongs to another user (uid " + TAString(std::to_string(info.st_uid)) + ")";
    else if (ChecksRecords()) {
        // Every whole record must pass the check before anything is taken.
        const size_t unit = RecordSize();
        std::vector<uint8_t> bytes;
        if (!ReadRest(drop_, bytes) || ::lseek(drop_, 0, SEEK_SET) != 0)
            why = "cannot be read: " + Reason(errno);
        uint8_t state = 0;
        for (size_t at = 0; why.IsEmpty() && at + unit <= bytes.size(); at += unit)
            if (!RecordValid(bytes.data() + at, state))
                why = "is not a drop of records (record " + TAString(std::to_string(at / unit + 1))
                      + " is not valid)";
    }
    if (why.IsEmpty())
        return true;
    const TFileId id{info.st_dev, info.st_ino, info.st_size, static_cast<long>(info.st_ctim.tv_sec)};
    if (id == refused_)
        return false;
    refused_ = id;
    NoteRefusedDrop(TBaseError("TCommHDD::Receive", "Read file left in place",
                               "HDD read file '" + readName_ + "' " + why
                                   + "; it is neither read nor deleted, and nothing more arrives while it is there"));
    return false;
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

void TCommHDD::GiveBack()
{
    if (fifo_ && drop_ >= 0) {
        // A FIFO is a stream, not a drop: what its writer has not sent yet stays with it.
        ::close(drop_);
        drop_ = -1;
    }
    if (fifo_)
        return;   // what was read from it and not handed over cannot go back (counted as lost)
    // What was taken and not read, in order: the receive buffer, the start of a cut-off
    // record, the rest of the drop being taken.
    std::vector<uint8_t> back(ReceiveBuffer().Count());
    back.resize(ReceiveBuffer().Read(back.data(), back.size()));
    back.insert(back.end(), stream_.partial.begin(), stream_.partial.end());
    stream_.partial.clear();
    struct stat ours {};
    const bool taking = drop_ >= 0;
    bool complete = true;
    if (taking) {
        complete = ::fstat(drop_, &ours) == 0 && ReadRest(drop_, back);
        ::close(drop_);
        drop_ = -1;
    }
    const auto stillOurs = [&] {
        struct stat named {};
        return taking && ::lstat(readName_.c_str(), &named) == 0 && named.st_dev == ours.st_dev
               && named.st_ino == ours.st_ino;
    };
    if (back.empty() && complete) {
        if (stillOurs())
            ::unlink(readName_.c_str());
        return;
    }
    const auto lost = [&](const TAString& why) {
        TAThread::Report("TCommHDD::Close Records not given back",
                         TBaseError("TCommHDD::Close", "Records not given back",
                                    "HDD read file '" + readName_ + "': " + TAString(std::to_string(back.size()))
                                        + " bytes taken and not read could not be written back (" + why + ")"));
    };
    if (!complete)
        return lost("the drop being taken cannot be read: " + Reason(errno));
    TAString temporary;
    const int file = CreateTemporary(readName_, temporary);
    if (file < 0)
        return lost(Reason(errno));
    int code = WriteFile(file, back.data(), back.size(), 0);
    size_t written = back.size();
    // The drop being taken is still ours (its sender waits while it exists): replace it.
    if (code == 0 && stillOurs()) {
        if (::close(file) == 0 && ::rename(temporary.c_str(), readName_.c_str()) == 0)
            return;
        code = errno;
        ::unlink(temporary.c_str());
        return lost(Reason(code));
    }
    for (int attempt = 0; code == 0 && attempt < 100; ++attempt) {
        if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, readName_.c_str(), RENAME_NOREPLACE) == 0) {
            ::close(file);
            return;
        }
        if (errno != EEXIST) {
            code = errno;
            break;
        }
        // A peer published a drop meanwhile: it goes behind what is given back.
        const int theirs = ::open(readName_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat info {};
        std::vector<uint8_t> bytes;
        if (theirs < 0 || ::fstat(theirs, &info) != 0 || !S_ISREG(info.st_mode) || !ReadRest(theirs, bytes)) {
            code = theirs < 0 ? errno : EINVAL;
            if (theirs >= 0)
                ::close(theirs);
            break;
        }
        ::close(theirs);
        code = WriteFile(file, bytes.data(), bytes.size(), written);
        if (code != 0)
            break;
        written += bytes.size();
        struct stat named {};
        if (::lstat(readName_.c_str(), &named) == 0 && named.st_dev == info.st_dev && named.st_ino == info.st_ino)
            ::unlink(readName_.c_str());
    }
    ::close(file);
    const TAString why = code == 0 ? TAString("the read name stayed taken") : Reason(code);
    if (written > back.size()) {
        // A peer's drop taken into it is in no other place: the file stays, and is named.
        lost(why + "; they and a peer's drop are kept in '" + temporary + "'");
        return;
    }
    ::unlink(temporary.c_str());
    lost(why);
}
