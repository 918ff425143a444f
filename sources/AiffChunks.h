// Walks the chunk list of an AIFF or AIFF-C stream: "FORM", its size and
// "AIFF" or "AIFC", then chunks of a 4-character identifier, a 32-bit
// big-endian size and a body padded to an even length.
//
// Sizes come from the file and are untrusted: bodies are clamped to the
// bytes the stream holds, and the walk stops at a header that does not fit.
// A stream of unknown length (a pipe) is walked up to the sound data only,
// so that nothing after it has to be read before the audio.
#pragma once

#include "sources/WaveChunks.h"

#include <cstdint>
#include <vector>

namespace velmar {

struct TAiffChunks {
    bool IsAiff = false;          // "FORM" at 0 and "AIFF" or "AIFC" at 8
    bool Compressed = false;      // "AIFC"
    int64_t CommFrames = -1;      // the COMM chunk's sample frames; -1: no COMM chunk
    char Compression[4] = {'N', 'O', 'N', 'E'}; // AIFF-C's compression type
    bool HasSound = false;
    int64_t SoundEnd = 0;         // stream offset where the SSND chunk ends (as declared, clamped to the stream)
    std::vector<TChunkRef> Tags;  // NAME, AUTH, "(c) ", ANNO, "ID3 " and "id3 ", in file order
};

// Reads the layout from position 0; leaves the stream position undefined.
TAiffChunks WalkAiffChunks(TStream& S);

} // namespace velmar
