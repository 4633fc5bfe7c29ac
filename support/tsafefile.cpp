#include "support/tsafefile.h"

#include "support/tbaseerror.h"
#include "support/tfd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int MaxLinks = 40;

TAString Quoted(const TAString& path)
{
    return "'" + path + "'";
}

TAString Why(int error)
{
    return TAString(std::strerror(error));
}

TAString FolderOf(const TAString& file)
{
    std::filesystem::path dir = std::filesystem::path(file.str()).parent_path();
    return TAString(dir.empty() ? std::string(".") : dir.string());
}

// Keeps SIGPIPE from this thread while a write to a FIFO runs: a reader that went away
// is a write error (EPIPE) for the caller to report, not the end of the process. A
// SIGPIPE the write raised is taken back; one that was already pending stays.
class TNoSigPipe {
public:
    TNoSigPipe()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~TNoSigPipe()
    {
        if (!wasPending_) {
            sigset_t pending;
            sigemptyset(&pending);
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec zero{};
                while (sigtimedwait(&pipe_, nullptr, &zero) < 0 && errno == EINTR) {
                }
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    TNoSigPipe(const TNoSigPipe&) = delete;
    TNoSigPipe& operator=(const TNoSigPipe&) = delete;

private:
    sigset_t pipe_;
    sigset_t old_;
    bool wasPending_ = false;
};

}  // namespace

TSafeFile::TKind TSafeFile::Kind(const TAString& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? fkMissing : fkOther;
    if (S_ISREG(st.st_mode)) return fkRegular;
    if (S_ISFIFO(st.st_mode)) return fkFifo;
    return fkOther;
}

TAString TSafeFile::Target(const TAString& path)
{
    std::string current = path.str();
    for (int links = 0; links <= MaxLinks; ++links) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return TAString(current);
        std::string text(PATH_MAX, '\0');
        const ssize_t n = ::readlink(current.c_str(), text.data(), text.size());
        if (n < 0) return TAString(current);
        text.resize(static_cast<size_t>(n));
        std::filesystem::path next(text);
        if (next.is_relative()) next = std::filesystem::path(current).parent_path() / next;
        current = next.string();
    }
    throw TBaseError("TSafeFile::Target", "Link loop", Quoted(path) + ": " + Why(ELOOP));
}

std::optional<TAString> TSafeFile::Refusal(const TAString& path)
{
    if (path.IsEmpty()) return TAString("no file name given");
    TAString target;
    try {
        target = Target(path);
    } catch (const TBaseError& e) {
        return e.Detail();
    }
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return Quoted(path) + " is a folder, not a file";
        if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))
            return Quoted(path) + " is a device or a socket, not a regular file or a FIFO";
        if (::access(target.c_str(), W_OK) != 0) return Quoted(path) + ": " + Why(errno);
        return std::nullopt;
    }
    if (errno != ENOENT) return Quoted(path) + ": " + Why(errno);
    const TAString folder = FolderOf(target);
    if (::stat(folder.c_str(), &st) != 0) {
        if (errno == ENOENT) return "the folder " + Quoted(folder) + " does not exist";
        return "the folder " + Quoted(folder) + ": " + Why(errno);
    }
    if (!S_ISDIR(st.st_mode)) return Quoted(folder) + " is not a folder";
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return "the folder " + Quoted(folder) + " cannot be written (" + Why(errno) + ")";
    return std::nullopt;
}

TAString TSafeFile::CreateTempBeside(const TAString& target)
{
    static std::atomic<unsigned> counter{0};
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const TAString name = target + "." + TAString(static_cast<int32_t>(::getpid())) + "."
            + TAString(static_cast<int32_t>(counter.fetch_add(1) & 0x7FFFFFFF)) + ".tmp";
        // Private until it has the target's bits: a 0600 file's text is never readable by others.
        TFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, exists ? 0600 : 0666));
        if (fd.Get() < 0) {
            if (errno == EEXIST) continue;
            throw TBaseError("TSafeFile::CreateTempBeside", "PathNotFound", Quoted(name) + ": " + Why(errno));
        }
        if (exists) {
            (void)::fchmod(fd.Get(), st.st_mode & 07777);
            if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) (void)::fchown(fd.Get(), st.st_uid, st.st_gid);
        }
        if (const int error = fd.Close())
            throw TBaseError("TSafeFile::CreateTempBeside", "PathNotFound", Quoted(name) + ": " + Why(error));
        return name;
    }
    throw TBaseError("TSafeFile::CreateTempBeside", "PathNotFound", Quoted(target) + ": no free temporary name");
}

void TSafeFile::CopyMode(const TAString& target, const TAString& file)
{
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) return;
    (void)::chmod(file.c_str(), st.st_mode & 07777);
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) (void)::chown(file.c_str(), st.st_uid, st.st_gid);
}

void TSafeFile::ReplaceBy(const TAString& target, const TAString& temp)
{
    if (::rename(temp.c_str(), target.c_str()) != 0)
        throw TBaseError("TSafeFile::ReplaceBy", "rename error", Quoted(target) + ": " + Why(errno));
    TFd dir(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) (void)::fsync(dir.Get());
}

int TSafeFile::WriteAll(int fd, const char* data, std::size_t size, std::size_t* written)
{
    TNoSigPipe guard;
    std::size_t done = 0;
    int error = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (written) *written = done;
    return error;
}

void TSafeFile::Write(const TAString& path, const TAString& data)
{
    static const char* const op = "TSafeFile::Write";
    if (const std::optional<TAString> refusal = Refusal(path)) throw TBaseError(op, "Refused", *refusal);
    const TAString target = Target(path);

    if (Kind(target) == fkFifo) {
        TFd fd(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        if (fd.Get() < 0) {
            if (errno == ENXIO) throw TBaseError(op, "Refused", Quoted(path) + " is a FIFO that no program reads");
            throw TBaseError(op, "PathNotFound", Quoted(path) + ": " + Why(errno));
        }
        const int flags = ::fcntl(fd.Get(), F_GETFL);
        if (flags >= 0) (void)::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
        int error = WriteAll(fd.Get(), data.c_str(), static_cast<size_t>(data.Length()));
        if (!error) error = fd.Close();
        if (error) throw TBaseError(op, "write error", Quoted(path) + ": " + Why(error));
        return;
    }

    const TAString temp = CreateTempBeside(target);
    try {
        TFd fd(::open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW));
        if (fd.Get() < 0) throw TBaseError(op, "PathNotFound", Quoted(temp) + ": " + Why(errno));
        int error = WriteAll(fd.Get(), data.c_str(), static_cast<size_t>(data.Length()));
        if (!error && ::fsync(fd.Get()) != 0) error = errno;
        if (!error) error = fd.Close();
        if (error) throw TBaseError(op, "write error", Quoted(path) + ": " + Why(error) + "; the file is as it was");
        ReplaceBy(target, temp);
    } catch (...) {
        (void)::unlink(temp.c_str());
        throw;
    }
}

TAString TSafeFile::ReadInput(const TAString& path, std::size_t limit)
{
    static const char* const op = "TSafeFile::ReadInput";
    // Non-blocking: opening a FIFO must not wait for a writer; it is refused below.
    TFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0) throw TBaseError(op, "FileNotReadable", Quoted(path) + ": " + Why(errno));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) throw TBaseError(op, "FileNotReadable", Quoted(path) + ": " + Why(errno));
    if (S_ISDIR(st.st_mode)) throw TBaseError(op, "Refused", Quoted(path) + " is a folder, not a file");
    if (!S_ISREG(st.st_mode))
        throw TBaseError(op, "Refused", Quoted(path) + " is a device, a FIFO or a socket, not a regular file");
    const auto tooLarge = [&] {
        return TBaseError(op, "Refused",
                          Quoted(path) + " is larger than " + TAString(std::to_string(limit)) + " bytes");
    };
    if (static_cast<uintmax_t>(st.st_size) > limit) throw tooLarge();
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags >= 0) (void)::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
    std::string bytes;
    try {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        for (;;) {
            if (done == bytes.size()) {
                // The file may have grown since fstat: one byte more than the limit tells.
                if (bytes.size() > limit) throw tooLarge();
                bytes.resize(std::min(limit + 1, bytes.size() + 65536));
            }
            const ssize_t n = ::read(fd.Get(), bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                throw TBaseError(op, "FileNotReadable", Quoted(path) + ": " + Why(errno));
            }
            if (n == 0) break;
            done += static_cast<std::size_t>(n);
        }
        bytes.resize(done);
    } catch (const std::bad_alloc&) {
        throw TBaseError(op, "Out of memory",
                         Quoted(path) + ": not enough memory to read its " +
                             TAString(std::to_string(static_cast<uintmax_t>(st.st_size))) + " bytes");
    }
    return TAString(std::move(bytes));
}

std::optional<TSafeFile::TIdentity> TSafeFile::Identity(const TAString& path)
{
    if (path.IsEmpty()) return std::nullopt;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return TIdentity{st.st_dev, st.st_ino, std::string()};
    TAString target;
    try {
        target = Target(path);
    } catch (const TBaseError&) {
        return std::nullopt;
    }
    const std::filesystem::path name(target.str());
    if (::stat(FolderOf(target).c_str(), &st) != 0) return std::nullopt;
    return TIdentity{st.st_dev, st.st_ino, name.filename().string()};
}

bool TSafeFile::SameFile(const TAString& a, const TAString& b)
{
    const std::optional<TIdentity> first = Identity(a);
    const std::optional<TIdentity> second = Identity(b);
    return first && second && *first == *second;
}

bool TSafeFile::MayReplace(const TAString& path)
{
    TAString target;
    try {
        target = Target(path);
    } catch (const TBaseError&) {
        return false;
    }
    struct stat st {};
    return ::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
