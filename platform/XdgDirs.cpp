#include "platform/XdgDirs.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

namespace velmar {

namespace {

std::string Env(const char* Name)
{
    const char* v = std::getenv(Name);
    return v ? std::string(v) : std::string();
}

// An absolute path from the environment, or Fallback.
std::string AbsoluteEnv(const char* Name, const std::string& Fallback)
{
    std::string v = Env(Name);
    return !v.empty() && v[0] == '/' ? v : Fallback;
}

// The value of one KEY="value" line, with $HOME expanded; empty when invalid.
std::string ParseValue(std::string V, const std::string& Home)
{
    if (V.size() < 2 || V.front() != '"' || V.back() != '"')
        return {};
    V = V.substr(1, V.size() - 2);
    std::string out;
    for (size_t i = 0; i < V.size(); ++i) {
        if (V[i] == '\\' && i + 1 < V.size()) {
            out += V[++i];
        } else {
            out += V[i];
        }
    }
    if (out.rfind("$HOME", 0) == 0 && (out.size() == 5 || out[5] == '/'))
        return Home + out.substr(5);
    return !out.empty() && out[0] == '/' ? out : std::string();
}

} // namespace

std::string HomeDir()
{
    std::string home = Env("HOME");
    if (!home.empty())
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

std::string XdgConfigHome() { return AbsoluteEnv("XDG_CONFIG_HOME", HomeDir() + "/.config"); }

std::string XdgDataHome() { return AbsoluteEnv("XDG_DATA_HOME", HomeDir() + "/.local/share"); }

std::string XdgUserDir(const std::string& Key)
{
    const std::string home = HomeDir();
    const std::string wanted = "XDG_" + Key + "_DIR";
    std::string found;
    std::ifstream f(XdgConfigHome() + "/user-dirs.dirs");
    for (std::string line; std::getline(f, line);) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        size_t eq = line.find('=', start);
        if (eq == std::string::npos || line.substr(start, eq - start) != wanted)
            continue;
        std::string value = line.substr(eq + 1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.pop_back();
        found = ParseValue(value, home);
    }
    // "$HOME/" alone names the home folder itself; an empty value is unset.
    while (found.size() > 1 && found.back() == '/')
        found.pop_back();
    if (!found.empty())
        return found;
    return Key == "DESKTOP" ? home + "/Desktop" : home;
}

bool ForceDirectories(const std::string& Path)
{
    std::error_code ec;
    std::filesystem::create_directories(Path, ec);
    return std::filesystem::is_directory(Path, ec);
}

} // namespace velmar
