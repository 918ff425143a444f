// Walks the chunk list of a RIFF/WAVE stream by the chunks' sizes.
//
// Every size comes from the file and is untrusted: chunk bodies are clamped
// to the bytes the stream holds, odd sizes skip their pad byte (or, when a
// writer forgot it, the walk takes the next identifier one byte earlier),
// unknown chunks are skipped whole, so text inside them is never taken for
// a chunk identifier.
#pragma once

#include "platform/Classes.h"

#include <cstdint>
#include <vector>

namespace velmar {

// WAVEFORMATEX format tags the program knows by name.
enum : uint16_t {
    WAVE_FORMAT_PCM = 0x0001,
    WAVE_FORMAT_IEEE_FLOAT = 0x0003,
    WAVE_FORMAT_EXTENSIBLE = 0xFFFE,
};

struct TWaveChunks {
    bool IsWave = false;         // "RIFF" at 0 and "WAVE" at 8
    bool HasFmt = false;
    std::vector<uint8_t> Fmt;    // the fmt chunk's body as stored (at most MaxFmtBytes)
    bool HasData = false;
    int64_t DataPos = 0;         // stream offset of the first sample byte
    int64_t DataSize = 0;        // the data chunk's size, clamped to the stream's end
    uint32_t DeclaredDataSize = 0;
};

// The fields of a fmt chunk, read little-endian; absent fields are 0.
struct TWaveFormat {
    uint16_t FormatTag = 0;      // for WAVE_FORMAT_EXTENSIBLE: the subformat's tag when it is a known GUID
    uint16_t StoredTag = 0;      // the tag as stored in the chunk
    uint16_t Channels = 0;
    uint32_t SamplesPerSec = 0;
    uint32_t AvgBytesPerSec = 0;
    uint16_t BlockAlign = 0;
    uint16_t BitsPerSample = 0;
    uint16_t ValidBits = 0;      // extensible only
    bool SubFormatKnown = true;  // false: extensible with a missing or foreign subformat
};

constexpr int64_t MaxFmtBytes = 4096;

// Reads the layout from position 0; leaves the stream position undefined.
TWaveChunks WalkWaveChunks(TStream& S);
TWaveFormat ParseWaveFormat(const std::vector<uint8_t>& Fmt);

} // namespace velmar
