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

// The list of loaded files lives until the process ends: a library that a static object
// holds (a driver's shared library) is released during exit, after function-local
// statics made later than it are gone.
struct TLoadedList {
    std::mutex Lock;
    std::vector<TAString> Files;
};

TLoadedList& Loaded()
{
    static TLoadedList* const list = new TLoadedList;
    return *list;
}

std::mutex& LoadedLock()
{
    return Loaded().Lock;
}

std::vector<TAString>& LoadedFiles()
{
    return Loaded().Files;
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

// Checks the open file fd (opened from fileName), its folder and the folders above it;
// real receives the file's full name without symlinks.
std::optional<TAString> FdRefusal(int fd, const TAString& fileName, std::string& real)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) return Quoted(fileName) + ": " + TAString(std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Quoted(fileName) + " is not a regular file";
    if (TAString why = Unsafe(st, Quoted(fileName)); !why.IsEmpty()) return why;
    char buffer[PATH_MAX];
    if (!::realpath(fileName.c_str(), buffer)) return Quoted(fileName) + ": " + TAString(std::strerror(errno));
    real = buffer;
    struct stat named {};
    if (::stat(real.c_str(), &named) != 0 || named.st_dev != st.st_dev || named.st_ino != st.st_ino)
        return Quoted(fileName) + " changed while it was checked";
    // Its folder: nobody else may put another file under its name. The folders above
    // it: nobody else may swap a folder on the way; a shared folder with the sticky bit
    // (/tmp) lets nobody rename what is not theirs.
    std::filesystem::path folder = std::filesystem::path(real).parent_path();
    for (bool own = true;; own = false) {
        struct stat dir {};
        const TAString name(folder.string());
        if (::stat(folder.c_str(), &dir) != 0) return Quoted(fileName) + ": " + TAString(std::strerror(errno));
        const bool shared = !own && (dir.st_mode & S_ISVTX) && (dir.st_uid == 0 || dir.st_uid == ::geteuid());
        if (!shared) {
            if (TAString why = Unsafe(dir, (own ? "its folder " : "the folder ") + Quoted(name)); !why.IsEmpty())
                return Quoted(fileName) + ": " + why;
        }
        if (folder == folder.root_path() || folder.empty()) break;
        folder = folder.parent_path();
    }
    return std::nullopt;
}

}  // namespace

std::optional<TAString> TSharedLibrary::PathRefusal(const TAString& fileName)
{
    if (!IsPath(fileName)) return std::nullopt;
    TFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.Get() < 0) return Quoted(fileName) + ": " + TAString(std::strerror(errno));
    std::string real;
    return FdRefusal(fd.Get(), fileName, real);
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
        std::string real;
        if (std::optional<TAString> refusal = FdRefusal(fd.Get(), fileName, real)) {
            refusal_ = *refusal;
            return;
        }
        // Nobody but root and the user can change the file or any folder on its way, so
        // the file checked is the file loaded.
        handle_ = dlopen(real.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_) loadedFrom_ = TAString(real);
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
