// The metadata blocks at the start of a FLAC stream: "fLaC" (after an ID3v2
// tag, when a tagger put one first), then blocks of a 4-byte header (last-
// block flag, type, 24-bit length) and a body, up to the first audio frame.
//
// Lengths come from the file and are untrusted: a block that runs past
// the stream ends the walk, keeping what was read before it.
#pragma once

#include "platform/Classes.h"
#include "sources/Pictures.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmar {

struct TFlacMetadata {
    bool IsFlac = false;
    int64_t TotalFrames = -1; // STREAMINFO's sample count; -1 when it says none (0)
    // The VORBIS_COMMENT block's entries as stored, in order (empty ones left out).
    TStringList Comments;
    // The PICTURE blocks, in order.
    std::vector<TPicture> Pictures;
};

// Reads from position 0 (the blocks only, no audio); leaves the stream
// position undefined.
TFlacMetadata ReadFlacMetadata(TStream& S);

// The bytes an ID3v2 tag at the start of Head takes (header, body and
// footer), 0 when Head does not start with one. Head: at least 10 bytes.
int64_t Id3v2Length(const uint8_t* Head, size_t Size);

} // namespace velmar
