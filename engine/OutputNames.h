// The names of a batch's outputs: the rule both front ends follow.
#pragma once

#include "platform/Classes.h"

#include <mutex>
#include <set>
#include <string>

namespace velmar {

// An output of this name is written to the standard output as it is
// encoded (an input of this name is the standard input: sources/VelmarSource.h).
inline constexpr const char* StandardOutputName = "-";

// The output file for Input in Folder: its name with the extension (from
// the last dot of the name, when there is one) replaced by "ogg".
std::string OutputNameFor(const std::string& Input, const std::string& Folder);

// The output names of one batch: no two inputs are written onto one output.
// A name already given to another input of the batch becomes "Name (2).ogg",
// "Name (3).ogg", ...; the caller tells the user. Any thread.
class TOutputNames {
public:
    // The output for Input in Folder (Folder + "/" + Name when Name is
    // given). Renamed: the name the rule gave, when another input of the
    // batch already has it (else empty). Name StandardOutputName is
    // returned as it is: the standard output takes any number of streams.
    std::string Claim(const std::string& Input, const std::string& Folder, std::string* Renamed = nullptr,
                      const std::string& Name = {});

private:
    std::mutex FLock;
    std::set<std::string> FTaken;
};

// The output's path under its folder that Pattern gives for a source of
// Tags ("NAME=value") at Input: %a artist, %t title (the source's name
// when it has none), %l album, %n track number (two digits: "4/12" gives
// "04"), %d date, %g genre, %f the source's name without its extension, %%
// a "%". A missing tag gives an Italian placeholder. Inside a value, "/"
// and the characters a file name cannot hold on common file systems become
// "_", and so does a leading dot, so a tag never makes a folder or a hidden
// file of its own; each name is cut to fit. The pattern's own "/" make
// folders; ".ogg" is added unless it ends so.
std::string NameFromPattern(const std::string& Pattern, const TStringList& Tags, const std::string& Input);

} // namespace velmar
