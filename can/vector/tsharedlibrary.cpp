#include "can/vector/tsharedlibrary.h"

#include "support/tfd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex& LoadedLock()
{
    static std::mutex lock;
    return lock;
}

std::vector<TAString>& LoadedFiles()
{
    static std::vector<TAString> files;
    return files;
}

TAString Quoted(const TAString& path)
{
    return "'" + path + "'";
}

bool IsPath(const TAString& fileName)
{
    return fileName.str().find('/') != std::string::npos;
}

// Why st (of what) is not safe to load from, or empty.
TAString Unsafe(const struct stat& st, const TAString& what)
{
    const uid_t user = ::geteuid();
    if (st.st_uid != 0 && st.st_uid != user)
        return what + " belongs to another user (uid " + TAString(std::to_string(st.st_uid)) + ")";
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return what + " can be written by others";
    return TAString();
}

// Checks the open file fd (opened from fileName) and its folder.
std::optional<TAString> FdRefusal(int fd, const TAString& fileName)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) return Quoted(fileName) + ": " + TAString(std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Quoted(fileName) + " is not a regular file";
    if (TAString why = Unsafe(st, Quoted(fileName)); !why.IsEmpty()) return why;
    // The folder the file really lies in (after symlinks).
    char real[PATH_MAX];
    if (!::realpath(fileName.c_str(), real)) return Quoted(fileName) + ": " + TAString(std::strerror(errno));
    const std::filesystem::path folder = std::filesystem::path(real).parent_path();
    struct stat dir {};
    if (::stat(folder.c_str(), &dir) != 0) return Quoted(fileName) + ": " + TAString(std::strerror(errno));
    if (TAString why = Unsafe(dir, "its folder " + Quoted(TAString(folder.string()))); !why.IsEmpty())
        return Quoted(fileName) + ": " + why;
    return std::nullopt;
}

}  // namespace

std::optional<TAString> TSharedLibrary::PathRefusal(const TAString& fileName)
{
    if (!IsPath(fileName)) return std::nullopt;
    TFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.Get() < 0) return Quoted(fileName) + ": " + TAString(std::strerror(errno));
    return FdRefusal(fd.Get(), fileName);
}

TSharedLibrary::TSharedLibrary(const TAString& fileName)
    : fileName_(fileName)
{
    if (fileName.IsEmpty()) return;
    if (!IsPath(fileName)) {
        handle_ = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_) {
            const link_map* map = nullptr;
            loadedFrom_ = dlinfo(handle_, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name
                              ? TAString(map->l_name)
                              : fileName;
        }
    } else {
        // Non-blocking: a FIFO at the path is refused below, never waited on.
        TFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
        if (fd.Get() < 0) return;   // not there: the caller may ask where it is
        if (std::optional<TAString> refusal = FdRefusal(fd.Get(), fileName)) {
            refusal_ = *refusal;
            return;
        }
        // The file checked is the file loaded.
        const std::string self = "/proc/self/fd/" + std::to_string(fd.Get());
        handle_ = dlopen(self.c_str(), RTLD_NOW | RTLD_LOCAL);
        char real[PATH_MAX];
        if (handle_) loadedFrom_ = ::realpath(fileName.c_str(), real) ? TAString(real) : fileName;
    }
    if (handle_) {
        std::lock_guard guard(LoadedLock());
        LoadedFiles().push_back(loadedFrom_);
    }
}

TSharedLibrary::~TSharedLibrary()
{
    if (!handle_) return;
    {
        std::lock_guard guard(LoadedLock());
        std::vector<TAString>& files = LoadedFiles();
        const auto at = std::find(files.begin(), files.end(), loadedFrom_);
        if (at != files.end()) files.erase(at);
    }
    dlclose(handle_);
}

std::vector<TAString> TSharedLibrary::Loaded()
{
    std::lock_guard guard(LoadedLock());
    return LoadedFiles();
}

void* TSharedLibrary::Symbol(const char* name) const
{
    return handle_ ? dlsym(handle_, name) : nullptr;
}
