// Shared by the four codec binding modules: one library's start-up and
// shut-down. Each module lists its entry points as X(name, needed), where
// needed marks the ones the encoder calls: a library missing one of them
// counts as not loaded.
#pragma once

#include "platform/DynLib.h"

#include <string>

#define VELMAR_DECLARE_ENTRY(name, needed) extern decltype(&::name) name;
#define VELMAR_DEFINE_ENTRY(name, needed) decltype(&::name) name = nullptr;
#define VELMAR_RESOLVE_ENTRY(name, needed)                                        \
    name = reinterpret_cast<decltype(name)>(Lib.Symbol(#name));                  \
    if ((needed) && !name)                                                        \
        complete = false;
#define VELMAR_CLEAR_ENTRY(name, needed) name = nullptr;

// Defines Startup, Shutdown, SetLibraryFile and LibraryFile for a module whose entry
// list macro is LIST and whose loaded flag is FLAG.
#define VELMAR_BINDING_MODULE(LIST, FLAG, DEFAULT_FILE)                           \
    bool FLAG = false;                                                            \
    LIST(VELMAR_DEFINE_ENTRY)                                                     \
    namespace {                                                                   \
    TDynLib Lib;                                                                  \
    std::string LibFile = DEFAULT_FILE;                                           \
    }                                                                             \
    void SetLibraryFile(const std::string& FileName) { LibFile = FileName; }     \
    const std::string& LibraryFile() { return LibFile; }                          \
    void Startup()                                                                \
    {                                                                             \
        Shutdown();                                                               \
        if (!Lib.Load(LibFile))                                                   \
            return;                                                               \
        bool complete = true;                                                     \
        LIST(VELMAR_RESOLVE_ENTRY)                                                \
        if (!complete) {                                                          \
            LIST(VELMAR_CLEAR_ENTRY)                                              \
            Lib.Unload();                                                         \
            return;                                                               \
        }                                                                         \
        FLAG = true;                                                              \
    }                                                                             \
    void Shutdown()                                                               \
    {                                                                             \
        LIST(VELMAR_CLEAR_ENTRY)                                                  \
        FLAG = false;                                                             \
        Lib.Unload();                                                             \
    }
