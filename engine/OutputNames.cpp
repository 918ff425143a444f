#include "engine/OutputNames.h"

namespace velmar {

std::string OutputNameFor(const std::string& Input, const std::string& Folder)
{
    const auto slash = Input.find_last_of('/');
    std::string name = slash == std::string::npos ? Input : Input.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return Folder + "/" + name + ".ogg";
}

std::string TOutputNames::Claim(const std::string& Input, const std::string& Folder, std::string* Renamed)
{
    const std::string first = OutputNameFor(Input, Folder);
    std::lock_guard<std::mutex> lock(FLock);
    std::string name = first;
    const std::string stem = first.substr(0, first.size() - 4);
    for (int n = 2; !FTaken.insert(name).second; ++n)
        name = stem + " (" + std::to_string(n) + ").ogg";
    if (Renamed)
        *Renamed = name == first ? std::string() : first;
    return name;
}

} // namespace velmar
