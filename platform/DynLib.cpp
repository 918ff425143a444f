#include "platform/DynLib.h"

#include <dlfcn.h>

namespace velmar {

bool TDynLib::Load(const std::string& FileName)
{
    Unload();
    FHandle = ::dlopen(FileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    return FHandle != nullptr;
}

void* TDynLib::Symbol(const char* Name) const
{
    return FHandle ? ::dlsym(FHandle, Name) : nullptr;
}

void TDynLib::Unload()
{
    if (FHandle)
        ::dlclose(FHandle);
    FHandle = nullptr;
}

} // namespace velmar
