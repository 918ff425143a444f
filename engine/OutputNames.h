// The names of a batch's outputs: the rule both front ends follow.
#pragma once

#include <mutex>
#include <set>
#include <string>

namespace velmar {

// The output file for Input in Folder: its name with the extension (from
// the last dot of the name, when there is one) replaced by "ogg".
std::string OutputNameFor(const std::string& Input, const std::string& Folder);

// The output names of one batch: no two inputs are written onto one output.
// A name already given to another input of the batch becomes "Name (2).ogg",
// "Name (3).ogg", ...; the caller tells the user. Any thread.
class TOutputNames {
public:
    // The output for Input in Folder. Renamed: the name the rule gave, when
    // another input of the batch already has it (else empty).
    std::string Claim(const std::string& Input, const std::string& Folder, std::string* Renamed = nullptr);

private:
    std::mutex FLock;
    std::set<std::string> FTaken;
};

} // namespace velmar
