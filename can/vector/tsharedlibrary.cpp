#include "can/vector/tsharedlibrary.h"

#include <dlfcn.h>

TSharedLibrary::TSharedLibrary(const TAString& fileName)
    : fileName_(fileName)
{
    if (!fileName.IsEmpty()) handle_ = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
}

TSharedLibrary::~TSharedLibrary()
{
    if (handle_) dlclose(handle_);
}

void* TSharedLibrary::Symbol(const char* name) const
{
    return handle_ ? dlsym(handle_, name) : nullptr;
}
