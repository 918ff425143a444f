// The compression-manager layer's view of a coded format: the checks of
// each codec's fields and the sizes its blocks decode to, shared by the
// layer's decoders. Internal to the layer: platform/Msacm.h is its interface.
#pragma once

#include "platform/Msacm.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmar::acm {

constexpr uint16_t kTagPcm = 0x0001;
constexpr uint16_t kTagFloat = 0x0003;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr uint32_t kMaxChannels = 256;
constexpr uint32_t kMaxRate = 1000000;
// MS ADPCM's largest common format: 18 + 32 bytes of extras.
constexpr uint32_t kMaxFormatSize = 50;
constexpr uint32_t kFormatBufferBytes = 129;

enum class TCodec { Pcm, Float, Law, Ima, MsAdpcm, Gsm, Mp3 };

// A source format after its fields have been checked against its codec.
struct TSource {
    TCodec Codec = TCodec::Pcm;
    uint16_t Channels = 0;
    uint32_t Rate = 0;
    uint32_t BlockBytes = 1;     // coded bytes per block (per frame for sample formats)
    uint32_t FramesPerBlock = 1; // MP3: samples per MPEG frame
    uint32_t MinMpegFrame = 0;   // MP3: bytes of the smallest legal frame at this rate
    std::vector<uint8_t> Fmt;    // the fmt chunk body handed to libsndfile
};

// Reads and checks a format; false when the layer cannot decode it.
bool Describe(const WAVEFORMATEX* p, TSource& s);

// 16-bit PCM of the source's channels and rate.
WAVEFORMATEX Pcm16For(const TSource& s);
// 32-bit IEEE float (full scale 1.0) of the source's channels and rate.
WAVEFORMATEX Float32For(const TSource& s);
// What the source decodes to when nothing else is asked: float for MPEG
// layer 3, whose decoder works in float (rounding to 16 bits would clip its
// peaks above full scale), 16-bit PCM for the codecs that are 16-bit by
// nature.
WAVEFORMATEX DecodedFor(const TSource& s);
// A destination the source converts to: 16-bit PCM, or DecodedFor.
bool DestinationFits(const TSource& s, const WAVEFORMATEX& Dst);

// Frames that a trailing block of Rem bytes holds (decodable without the rest).
uint64_t PartialFrames(const TSource& s, uint64_t Rem);

// An upper bound of the frames Coded bytes decode to.
uint64_t FramesFor(const TSource& s, uint64_t Coded);

// The sanity bound an estimate must stay under: MP3's own bound is its
// smallest legal frame; every other codec yields at most 16 bytes per coded
// byte plus one block.
uint64_t BoundFor(const TSource& s, uint64_t Coded);

// Libsndfile logs corrupt ADPCM block headers and decodes noise from them,
// so they are checked first: false when a header in Data is out of range.
bool BlocksIntact(const TSource& s, const uint8_t* Data, uint64_t Len);

// Full scale 1.0 to 16 bits, rounded to nearest and clipped: libsndfile
// would truncate floating-point files unscaled (or scale them to the
// file's peak), and its MPEG decoder's output is rounded the same way.
void FloatsTo16(const float* In, uint8_t* Out, size_t Samples);

} // namespace velmar::acm
