#pragma once
// A shared library loaded at run time, released when its owner goes away.
//
// The vendors' CAN libraries are outside programs: they are found by file name the way
// the system loader finds libraries (or by a full path) and their functions are looked
// up by name. Used by the Vector and IXXAT bindings.
//
// A library name comes from the settings, which are data anyone may leave in a folder,
// so loading it must not run code the user did not install:
// - a plain name ("libvxlapi.so", no "/") goes only through the loader's own search
//   (LD_LIBRARY_PATH, the cache, the system folders), never the working folder;
// - a path is loaded only when it names a regular file owned by root or the user, and
//   neither that file nor its folder can be written by anyone else (group or others).
//   The folders above it must be root's or the user's and closed to others too, or
//   shared with the sticky bit (/tmp), so nobody else can swap the file between the
//   check and the load.
// Refusal() says why a path was not loaded.

#include "support/tastring.h"

#include <optional>
#include <vector>

class TSharedLibrary {
public:
    // Loads the library; IsLoaded() tells whether that worked.
    explicit TSharedLibrary(const TAString& fileName);
    ~TSharedLibrary();
    TSharedLibrary(const TSharedLibrary&) = delete;
    TSharedLibrary& operator=(const TSharedLibrary&) = delete;

    bool IsLoaded() const { return handle_ != nullptr; }
    const TAString& FileName() const { return fileName_; }
    // Where the loaded library lies ("/usr/lib/x86_64-linux-gnu/libvxlapi.so" for the
    // plain name "libvxlapi.so"); empty when nothing is loaded.
    const TAString& LoadedFrom() const { return loadedFrom_; }
    // Why a path was not loaded ("'/tmp/x/evil.so' can be written by others"); empty
    // when it was, or when a plain name was not found.
    const TAString& Refusal() const { return refusal_; }

    // Why fileName (a path) may not be loaded, or nothing when it may (or is a plain name).
    static std::optional<TAString> PathRefusal(const TAString& fileName);

    // The files of the libraries loaded now, in the order they were loaded.
    static std::vector<TAString> Loaded();

    // The exported function of that name, or null when the library has none (or is not
    // loaded). Fn is the function pointer type to hand it back as.
    template <typename Fn>
    Fn Function(const char* name) const
    {
        static_assert(sizeof(Fn) == sizeof(void*));
        return reinterpret_cast<Fn>(Symbol(name));
    }
    bool Has(const char* name) const { return Symbol(name) != nullptr; }

private:
    void* Symbol(const char* name) const;

    TAString fileName_;
    TAString loadedFrom_;
    TAString refusal_;
    void* handle_ = nullptr;
};
