// Walks the chunk list of a RIFF/WAVE stream by the chunks' sizes.
//
// Forms: "RIFF" (little-endian), "RIFX" (every number big-endian), and
// "RF64"/"BW64", whose sizes beyond 32 bits are in the ds64 chunk that
// follows the form header.
//
// Every size comes from the file and is untrusted: chunk bodies are clamped
// to the bytes the stream holds, odd sizes skip their pad byte (or, when a
// writer forgot it, the walk takes the next identifier one byte earlier),
// unknown chunks are skipped whole, so text inside them is never taken for
// a chunk identifier. Sizes are 64-bit throughout.
//
// A stream of unknown length (TStream::Size -1, a pipe) is walked up to the
// data chunk, whose end only the data itself tells when its size says
// nothing.
//
// The data chunk runs to the end of the stream when its size says nothing
// (0xFFFFFFFF, or 0 with bytes after it that are not a chunk). When 4 GiB or
// more follow its declared end, the 32-bit size may have wrapped (writers
// that let it): its true size is the first declared + k x 2^32 at which the
// end of the stream, or chunks running exactly to it, begin — among the
// sizes a fact chunk agrees with, when it agrees with any. When no size
// fits, the data runs to the end of the stream and DataEndUnknown says so.
#pragma once

#include "platform/Classes.h"
#include "platform/Msacm.h"
#include "sources/WaveTags.h"

#include <cstdint>
#include <vector>

namespace velmar {

// WAVEFORMATEX format tags the program knows by name.
enum : uint16_t {
    WAVE_FORMAT_PCM = 0x0001,
    WAVE_FORMAT_IEEE_FLOAT = 0x0003,
    WAVE_FORMAT_EXTENSIBLE = 0xFFFE,
};

// A chunk whose body is read later: its identifier, the stream offset of
// its body and the body's size, clamped to the stream.
struct TChunkRef {
    char Id[4] = {};
    int64_t Pos = 0;
    int64_t Size = 0;
};

struct TWaveChunks {
    bool IsWave = false;         // "RIFF", "RIFX", "RF64" or "BW64" at 0 and "WAVE" at 8
    bool BigEndian = false;      // RIFX
    bool HasFmt = false;
    std::vector<uint8_t> Fmt;    // the first fmt chunk's body as stored (at most MaxFmtBytes)
    bool HasData = false;
    int64_t DataPos = 0;         // stream offset of the first sample byte
    int64_t DataSize = 0;        // the data chunk's bytes that the stream holds; -1: it runs to the
                                 // end of a stream of unknown length
    int64_t DeclaredDataSize = -1; // what the header says the data chunk holds; -1: it says nothing
    bool DataEndUnknown = false; // 4 GiB or more past the declared size, and no wrap of it fits
    int64_t FactFrames = -1;     // the fact chunk's count (or ds64's sample count), -1: none
    std::vector<TChunkRef> Tags; // LIST, "id3 ", "ID3 ", "bext" and "cue " chunks, in file order
};

// The fields of a fmt chunk, in the file's byte order; absent fields are 0.
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
constexpr size_t MaxTagChunks = 16;

// Reads the layout from position 0; leaves the stream position undefined.
TWaveChunks WalkWaveChunks(TStream& S);
// The tags, pictures and cue points of the tag chunks (sources/WaveTags.h),
// each read up to 1 MiB (an ID3 chunk up to 32 MiB); a chunk that cannot be
// read gives none.
TWaveTagReader ReadTagChunks(TStream& S, const std::vector<TChunkRef>& Chunks, bool BigEndian);
// Extensible subformats known: the KSDATAFORMAT_SUBTYPE family (any tag) and
// the ambisonic B-format PCM and float subtypes.
TWaveFormat ParseWaveFormat(const std::vector<uint8_t>& Fmt, bool BigEndian = false);
#pragma pack(push, 1)
// A WAVEFORMATEX with room for its codec's extra bytes.
struct TWaveFormatBuffer {
    WAVEFORMATEX Format;
    uint8_t Extra[111];
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatBuffer) == 129);

// A little-endian fmt body as the compression manager reads it: at most 129
// bytes, and cbSize never promising more extra bytes than the chunk holds
// (none when it ends inside the 18-byte header).
TWaveFormatBuffer FormatBufferOf(const std::vector<uint8_t>& Fmt);
// Frames one coded block of a little-endian fmt body gives (1 for PCM and
// float), 0 when the compression manager refuses the format.
uint32_t FramesPerBlock(const std::vector<uint8_t>& Fmt);

} // namespace velmar
