#include "platform/AcmFormats.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace velmar::acm {

namespace {

// Formats are read and PCM written in host order, which WAVE's order must be.
static_assert(std::endian::native == std::endian::little);

uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool SampleFieldsAgree(const WAVEFORMATEX& w, uint16_t Tag)
{
    const uint32_t bytes = w.wBitsPerSample / 8u;
    switch (Tag) {
    case kTagPcm:
        return (w.wBitsPerSample == 8 || w.wBitsPerSample == 16 || w.wBitsPerSample == 24 ||
                w.wBitsPerSample == 32) && w.nBlockAlign == w.nChannels * bytes;
    case kTagFloat:
        return (w.wBitsPerSample == 32 || w.wBitsPerSample == 64) && w.nBlockAlign == w.nChannels * bytes;
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
        return w.wBitsPerSample == 8 && w.nBlockAlign == w.nChannels;
    default:
        return false;
    }
}

TCodec SampleCodec(uint16_t Tag)
{
    return Tag == kTagPcm ? TCodec::Pcm : Tag == kTagFloat ? TCodec::Float : TCodec::Law;
}

// The subformat GUID of an extensible format is its tag followed by this tail.
bool ExtensibleAgrees(const WAVEFORMATEX& w, const uint8_t* Extra, TSource& s)
{
    static const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (w.cbSize < 22 || std::memcmp(Extra + 8, tail, sizeof tail) != 0)
        return false;
    const uint16_t validBits = LE16(Extra);
    const uint16_t tag = LE16(Extra + 6);
    if (validBits > w.wBitsPerSample || !SampleFieldsAgree(w, tag))
        return false;
    s.Codec = SampleCodec(tag);
    s.BlockBytes = w.nBlockAlign;
    return true;
}

bool ImaAgrees(const WAVEFORMATEX& w, const uint8_t* Extra, TSource& s)
{
    const uint32_t head = 4u * w.nChannels; // per block: predictor, step index, reserved
    if (w.nChannels > 2 || w.wBitsPerSample != 4 || w.cbSize < 2 || w.nBlockAlign <= head ||
        (w.nBlockAlign - head) % head != 0)
        return false;
    const uint32_t perBlock = (w.nBlockAlign - head) / head * 8 + 1;
    if (LE16(Extra) != perBlock)
        return false;
    s.Codec = TCodec::Ima;
    s.BlockBytes = w.nBlockAlign;
    s.FramesPerBlock = perBlock;
    return true;
}

bool MsAdpcmAgrees(const WAVEFORMATEX& w, const uint8_t* Extra, TSource& s)
{
    static const int16_t standard[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64},
                                           {240, 0}, {460, -208}, {392, -232}};
    const uint32_t head = 7u * w.nChannels;
    if (w.nChannels > 2 || w.wBitsPerSample != 4 || w.cbSize < 32 || w.nBlockAlign <= head)
        return false;
    const uint32_t perBlock = (w.nBlockAlign - head) * 2 / w.nChannels + 2;
    const uint16_t coefs = LE16(Extra + 2);
    if (LE16(Extra) != perBlock || coefs < 7 || w.cbSize < 4 + 4u * coefs)
        return false;
    // The decoder knows only the standard table, so a file with another one is refused.
    for (int i = 0; i < 7; ++i)
        if (static_cast<int16_t>(LE16(Extra + 4 + 4 * i)) != standard[i][0] ||
            static_cast<int16_t>(LE16(Extra + 6 + 4 * i)) != standard[i][1])
            return false;
    s.Codec = TCodec::MsAdpcm;
    s.BlockBytes = w.nBlockAlign;
    s.FramesPerBlock = perBlock;
    return true;
}

bool GsmAgrees(const WAVEFORMATEX& w, const uint8_t* Extra, TSource& s)
{
    if (w.nChannels != 1 || w.nBlockAlign != 65 || (w.cbSize >= 2 && LE16(Extra) != 320))
        return false;
    s.Codec = TCodec::Gsm;
    s.BlockBytes = 65;
    s.FramesPerBlock = 320;
    return true;
}

bool Mp3Agrees(const WAVEFORMATEX& w, TSource& s)
{
    // Smallest frame: the lowest bit rate of the MPEG version the rate belongs to.
    struct Rate { uint32_t Hz, MinFrame, Samples; };
    static const Rate rates[] = {{48000, 96, 1152}, {44100, 104, 1152}, {32000, 144, 1152},
                                 {24000, 24, 576},  {22050, 26, 576},   {16000, 36, 576},
                                 {12000, 48, 576},  {11025, 52, 576},   {8000, 72, 576}};
    if (w.nChannels > 2)
        return false;
    for (const Rate& r : rates)
        if (r.Hz == w.nSamplesPerSec) {
            s.Codec = TCodec::Mp3;
            s.FramesPerBlock = r.Samples;
            s.MinMpegFrame = r.MinFrame;
            return true;
        }
    return false;
}

} // namespace

bool Describe(const WAVEFORMATEX* p, TSource& s)
{
    if (!p)
        return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(p);
    WAVEFORMATEX w{};
    std::memcpy(&w, bytes, 16);
    if (w.wFormatTag != kTagPcm)
        std::memcpy(&w, bytes, sizeof w); // PCM formats may be 16 bytes long
    if (w.nChannels < 1 || w.nChannels > kMaxChannels || w.nSamplesPerSec < 1 || w.nSamplesPerSec > kMaxRate)
        return false;
    // Format buffers hold 129 bytes: a bigger cbSize is a broken header, and
    // reading it would run past the caller's structure.
    if (w.wFormatTag != kTagPcm && w.cbSize > kFormatBufferBytes - sizeof w)
        return false;
    s = TSource{};
    s.Channels = w.nChannels;
    s.Rate = w.nSamplesPerSec;
    const uint8_t* extra = bytes + sizeof w;
    bool ok = false;
    switch (w.wFormatTag) {
    case kTagPcm:
    case kTagFloat:
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
        ok = SampleFieldsAgree(w, w.wFormatTag);
        s.Codec = SampleCodec(w.wFormatTag);
        s.BlockBytes = w.nBlockAlign;
        break;
    case kTagExtensible: ok = ExtensibleAgrees(w, extra, s); break;
    case WAVE_FORMAT_IMA_ADPCM: ok = ImaAgrees(w, extra, s); break;
    case WAVE_FORMAT_ADPCM: ok = MsAdpcmAgrees(w, extra, s); break;
    case WAVE_FORMAT_GSM610: ok = GsmAgrees(w, extra, s); break;
    case WAVE_FORMAT_MPEGLAYER3: ok = Mp3Agrees(w, s); break;
    default: break;
    }
    if (!ok)
        return false;
    if (w.wFormatTag == kTagPcm)
        w.cbSize = 0;
    s.Fmt.resize(sizeof w);
    std::memcpy(s.Fmt.data(), &w, sizeof w);
    s.Fmt.insert(s.Fmt.end(), extra, extra + w.cbSize);
    return true;
}

WAVEFORMATEX Pcm16For(const TSource& s)
{
    WAVEFORMATEX w{};
    w.wFormatTag = kTagPcm;
    w.nChannels = s.Channels;
    w.nSamplesPerSec = s.Rate;
    w.nBlockAlign = static_cast<uint16_t>(2 * s.Channels);
    w.nAvgBytesPerSec = s.Rate * w.nBlockAlign;
    w.wBitsPerSample = 16;
    return w;
}

WAVEFORMATEX Float32For(const TSource& s)
{
    WAVEFORMATEX w = Pcm16For(s);
    w.wFormatTag = kTagFloat;
    w.nBlockAlign = static_cast<uint16_t>(4 * s.Channels);
    w.nAvgBytesPerSec = s.Rate * w.nBlockAlign;
    w.wBitsPerSample = 32;
    return w;
}

WAVEFORMATEX DecodedFor(const TSource& s)
{
    return s.Codec == TCodec::Mp3 ? Float32For(s) : Pcm16For(s);
}

bool DestinationFits(const TSource& s, const WAVEFORMATEX& Dst)
{
    const WAVEFORMATEX pcm = Pcm16For(s), decoded = DecodedFor(s);
    return std::memcmp(&Dst, &pcm, 16) == 0 || std::memcmp(&Dst, &decoded, 16) == 0;
}

uint64_t PartialFrames(const TSource& s, uint64_t Rem)
{
    const uint64_t ch = s.Channels;
    if (s.Codec == TCodec::Ima && Rem >= 4 * ch)
        return 1 + (Rem - 4 * ch) / (4 * ch) * 8;
    if (s.Codec == TCodec::MsAdpcm && Rem >= 7 * ch)
        return 2 + (Rem - 7 * ch) * 2 / ch;
    return 0;
}

uint64_t FramesFor(const TSource& s, uint64_t Coded)
{
    if (s.Codec == TCodec::Mp3)
        return (Coded / s.MinMpegFrame + 1) * s.FramesPerBlock;
    return Coded / s.BlockBytes * s.FramesPerBlock + PartialFrames(s, Coded % s.BlockBytes);
}

uint64_t BoundFor(const TSource& s, uint64_t Coded)
{
    if (s.Codec == TCodec::Mp3)
        return FramesFor(s, Coded) * s.Channels * 2;
    return 16 * Coded + uint64_t(s.FramesPerBlock) * s.Channels * 2;
}

bool BlocksIntact(const TSource& s, const uint8_t* Data, uint64_t Len)
{
    if (s.Codec != TCodec::Ima && s.Codec != TCodec::MsAdpcm)
        return true;
    const uint64_t ch = s.Channels;
    for (uint64_t off = 0; off < Len; off += s.BlockBytes) {
        const uint64_t avail = std::min<uint64_t>(s.BlockBytes, Len - off);
        const uint8_t* b = Data + off;
        for (uint64_t c = 0; c < ch; ++c) {
            if (s.Codec == TCodec::Ima && avail >= 4 * ch && b[4 * c + 2] > 88)
                return false;
            if (s.Codec == TCodec::MsAdpcm && avail >= 7 * ch && b[c] >= 7)
                return false;
        }
    }
    return true;
}

void FloatsTo16(const float* In, uint8_t* Out, size_t Samples)
{
    for (size_t i = 0; i < Samples; ++i) {
        const float x = std::isnan(In[i]) ? 0.0f : std::clamp(In[i] * 32768.0f, -32768.0f, 32767.0f);
        const auto v = static_cast<int16_t>(std::lrint(x));
        std::memcpy(Out + 2 * i, &v, 2);
    }
}

} // namespace velmar::acm
