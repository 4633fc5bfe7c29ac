#pragma once
// A shared library loaded at run time, released when its owner goes away.
//
// The vendors' CAN libraries are outside programs: they are found by file name the way
// the system loader finds libraries (or by a full path) and their functions are looked
// up by name. Used by the Vector and IXXAT bindings.

#include "support/tastring.h"

class TSharedLibrary {
public:
    // Loads the library; IsLoaded() tells whether that worked.
    explicit TSharedLibrary(const TAString& fileName);
    ~TSharedLibrary();
    TSharedLibrary(const TSharedLibrary&) = delete;
    TSharedLibrary& operator=(const TSharedLibrary&) = delete;

    bool IsLoaded() const { return handle_ != nullptr; }
    const TAString& FileName() const { return fileName_; }

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
    void* handle_ = nullptr;
};
