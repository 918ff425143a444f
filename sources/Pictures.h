// Pictures and markers a source carries besides its audio: cover art (an
// ID3 APIC frame, a FLAC PICTURE block) and cue points, as the readers
// find them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

struct TPicture {
    uint32_t Type = 3;       // the ID3/FLAC picture type; 3: the front cover
    std::string Mime;        // as the source says ("image/jpeg"); may be empty
    std::string Description; // UTF-8
    std::vector<uint8_t> Data;
};

// A marker in the audio: its frame (at the source's rate) and its name.
struct TCuePoint {
    int64_t Frame = 0;
    std::string Name; // UTF-8; empty when it has none
};

// "image/jpeg" or "image/png" when Data begins as one, else "".
std::string PictureMimeOf(const std::vector<uint8_t>& Data);

// Width, height and bits per pixel of a JPEG or PNG picture; zeros for
// what its header does not tell.
struct TPictureSize {
    uint32_t Width = 0, Height = 0, Depth = 0;
};
TPictureSize PictureSizeOf(const std::vector<uint8_t>& Data);

} // namespace velmar
