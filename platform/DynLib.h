// A shared library loaded at run time; unloaded with the object.
#pragma once

#include <string>

namespace velmar {

class TDynLib {
public:
    TDynLib() = default;
    ~TDynLib() { Unload(); }
    TDynLib(const TDynLib&) = delete;
    TDynLib& operator=(const TDynLib&) = delete;

    // Loads by file name through the system's search order; false on failure.
    bool Load(const std::string& FileName);
    // nullptr when not loaded or not found.
    void* Symbol(const char* Name) const;
    void Unload();
    bool Loaded() const { return FHandle != nullptr; }

private:
    void* FHandle = nullptr;
};

} // namespace velmar
