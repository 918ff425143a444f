// The user's folders as the XDG user-directories convention names them.
#pragma once

#include <string>

namespace velmar {

// The home folder: $HOME, else the account database's entry.
std::string HomeDir();

// A user directory by its key ("DOCUMENTS", "DESKTOP", "MUSIC", ...), read
// from $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config) the way
// xdg-user-dir does: "$HOME/..." and absolute values are taken, a missing
// or empty entry falls back to ~/Desktop for DESKTOP and to the home folder
// otherwise. Never empty, never the root of the file system by accident.
std::string XdgUserDir(const std::string& Key);

// $XDG_DATA_HOME (default ~/.local/share) and $XDG_CONFIG_HOME (default ~/.config).
std::string XdgDataHome();
std::string XdgConfigHome();

// Creates Path with every missing parent; true when it exists as a folder afterwards.
bool ForceDirectories(const std::string& Path);

} // namespace velmar
