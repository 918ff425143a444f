// Broken and hostile WAVE, AIFF and FLAC files (all named .wav), built in memory, with what the program
// must say about each: shared by the command-line and the wizard's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct BadInput {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* error;             // a part of the reason given; nullptr: the file is encoded
    const char* warning = nullptr; // a part of the warning an encoded file gets
};

std::vector<BadInput> BadInputBattery();

} // namespace testing_support
