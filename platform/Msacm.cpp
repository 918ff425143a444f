#include "platform/Msacm.h"

#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace velmar {

namespace {

// Formats are read and PCM written in host order, which WAVE's order must be.
static_assert(std::endian::native == std::endian::little);

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

// Reads and checks a format; false when the layer cannot decode it.
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

// Frames that a trailing block of Rem bytes holds (decodable without the rest).
uint64_t PartialFrames(const TSource& s, uint64_t Rem)
{
    const uint64_t ch = s.Channels;
    if (s.Codec == TCodec::Ima && Rem >= 4 * ch)
        return 1 + (Rem - 4 * ch) / (4 * ch) * 8;
    if (s.Codec == TCodec::MsAdpcm && Rem >= 7 * ch)
        return 2 + (Rem - 7 * ch) * 2 / ch;
    return 0;
}

// An upper bound of the frames Coded bytes decode to.
uint64_t FramesFor(const TSource& s, uint64_t Coded)
{
    if (s.Codec == TCodec::Mp3)
        return (Coded / s.MinMpegFrame + 1) * s.FramesPerBlock;
    return Coded / s.BlockBytes * s.FramesPerBlock + PartialFrames(s, Coded % s.BlockBytes);
}

// The sanity bound an estimate must stay under: MP3's own bound is its
// smallest legal frame; every other codec yields at most 16 bytes per coded
// byte plus one block.
uint64_t BoundFor(const TSource& s, uint64_t Coded)
{
    if (s.Codec == TCodec::Mp3)
        return FramesFor(s, Coded) * s.Channels * 2;
    return 16 * Coded + uint64_t(s.FramesPerBlock) * s.Channels * 2;
}

// Libsndfile logs corrupt ADPCM block headers and decodes noise from them,
// so they are checked here first.
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

// A WAVE image presented to libsndfile without copying the data: a small
// header followed by the caller's bytes (Data holds those from DataAt on).
struct TImage {
    std::vector<uint8_t> Head;
    const uint8_t* Data = nullptr;
    int64_t DataAt = 0;
    int64_t DataLen = 0;
    int64_t Length = 0; // the size the image claims
    int64_t Pos = 0;
    bool Starved = false; // a read stopped short of Length for want of bytes
};

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// An image whose data chunk declares Len bytes, the first of them at Data.
TImage MakeImage(const TSource& s, const uint8_t* Data, uint32_t Len)
{
    TImage im;
    const uint32_t fmtSize = static_cast<uint32_t>(s.Fmt.size());
    const uint32_t fmtPadded = fmtSize + (fmtSize & 1);
    im.Head.assign(20 + fmtPadded + 8, 0);
    uint8_t* h = im.Head.data();
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, 4 + 8 + fmtPadded + 8 + Len);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, fmtSize);
    std::memcpy(h + 20, s.Fmt.data(), fmtSize);
    std::memcpy(h + 20 + fmtPadded, "data", 4);
    Put32(h + 24 + fmtPadded, Len);
    im.Data = Data;
    im.DataAt = static_cast<int64_t>(im.Head.size());
    im.DataLen = Data ? Len : 0;
    im.Length = im.DataAt + Len;
    return im;
}

sf_count_t VioLength(void* u) { return static_cast<TImage*>(u)->Length; }

sf_count_t VioSeek(sf_count_t Offset, int Whence, void* u)
{
    auto* im = static_cast<TImage*>(u);
    const int64_t base = Whence == SEEK_SET ? 0 : Whence == SEEK_CUR ? im->Pos : im->Length;
    im->Pos = std::max<int64_t>(0, base + Offset);
    return im->Pos;
}

// Reads stop where the bytes at hand end.
sf_count_t VioRead(void* Ptr, sf_count_t Count, void* u)
{
    auto* im = static_cast<TImage*>(u);
    auto* out = static_cast<uint8_t*>(Ptr);
    sf_count_t done = 0;
    const int64_t head = static_cast<int64_t>(im->Head.size());
    while (done < Count && im->Pos < im->Length) {
        const uint8_t* from;
        int64_t left;
        if (im->Pos < head) {
            from = im->Head.data() + im->Pos;
            left = head - im->Pos;
        } else {
            const int64_t at = im->Pos - im->DataAt;
            if (at < 0 || at >= im->DataLen) {
                im->Starved = true;
                break;
            }
            from = im->Data + at;
            left = im->DataLen - at;
        }
        const int64_t n = std::min<int64_t>(left, Count - done);
        std::memcpy(out + done, from, static_cast<size_t>(n));
        done += n;
        im->Pos += n;
    }
    return done;
}

sf_count_t VioWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t VioTell(void* u) { return static_cast<TImage*>(u)->Pos; }

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using TSndfile = std::unique_ptr<SNDFILE, SndfileCloser>;

struct Mpg123Deleter {
    void operator()(mpg123_handle* h) const { mpg123_delete(h); }
};

// MPEG layer 3 decoding carries state from one conversion to the next (the
// bit reservoir, a frame cut by the end of a buffer): libmpg123's feed
// decoder keeps it, from START to the stream's close.
struct TMp3State {
    std::unique_ptr<mpg123_handle, Mpg123Deleter> Handle;
    std::vector<float> Scratch;
    uint64_t Fed = 0;     // source bytes handed to the decoder
    uint64_t Decoded = 0; // frames it gave
};

// Libsndfile reads one image per stream: a WAVE header whose data chunk
// declares nearly 4 GiB, the bytes of which are queued as conversions bring
// them. It reads a block only when it needs its frames (and, while opening,
// the data's first bytes and first block), so it never reads past the
// queue: GSM's filter state goes on from one conversion to the next, and
// the data's first bytes are looked at once, as in a whole file.
struct TSndState {
    TImage Image;
    std::vector<uint8_t> Queue; // the image's data from Image.DataAt on
    uint64_t Pending = 0;       // frames of the queued blocks not handed out yet
    TSndfile File;
    bool IsFloat = false;
};

} // namespace

// The state behind a stream handle.
struct HACMSTREAM__ {
    struct Prepared {
        ACMSTREAMHEADER* Header;
        uint8_t* Src;
        uint32_t SrcLength;
        uint8_t* Dst;
        uint32_t DstLength;
    };
    TSource Source;
    std::vector<Prepared> Headers;
    std::unique_ptr<TMp3State> Mp3; // made by the first conversion and by START
    std::unique_ptr<TSndState> Snd; // likewise, for the other codecs

    Prepared* Find(ACMSTREAMHEADER* h)
    {
        for (Prepared& p : Headers)
            if (p.Header == h)
                return &p;
        return nullptr;
    }
};

namespace {

std::mutex& RegistryMutex()
{
    static std::mutex m;
    return m;
}

std::map<HACMSTREAM__*, std::unique_ptr<HACMSTREAM__>>& Registry()
{
    static std::map<HACMSTREAM__*, std::unique_ptr<HACMSTREAM__>> streams;
    return streams;
}

HACMSTREAM__* Lookup(HACMSTREAM has)
{
    std::lock_guard<std::mutex> lock(RegistryMutex());
    auto it = Registry().find(has);
    return it == Registry().end() ? nullptr : it->second.get();
}

bool HeaderUsable(const ACMSTREAMHEADER* h)
{
    return h && h->cbStruct >= sizeof(ACMSTREAMHEADER) && (h->pbSrc || h->cbSrcLength == 0) &&
           (h->pbDst || h->cbDstLength == 0);
}

// Full scale 1.0 to 16 bits, rounded to nearest and clipped: libsndfile
// would truncate floating-point files unscaled (or scale them to the
// file's peak), and its MPEG decoder's output is rounded the same way.
void FloatsTo16(const float* In, uint8_t* Out, size_t Samples)
{
    for (size_t i = 0; i < Samples; ++i) {
        const float x = std::isnan(In[i]) ? 0.0f : std::clamp(In[i] * 32768.0f, -32768.0f, 32767.0f);
        const auto v = static_cast<int16_t>(std::lrint(x));
        std::memcpy(Out + 2 * i, &v, 2);
    }
}

sf_count_t ReadShorts(SNDFILE* f, int16_t* Dst, sf_count_t Frames, uint16_t Ch, bool IsFloat)
{
    if (!IsFloat)
        return sf_readf_short(f, Dst, Frames);
    std::vector<float> fl(static_cast<size_t>(Frames) * Ch);
    const sf_count_t n = sf_readf_float(f, fl.data(), Frames);
    FloatsTo16(fl.data(), reinterpret_cast<uint8_t*>(Dst), static_cast<size_t>(std::max<sf_count_t>(n, 0)) * Ch);
    return n;
}

// Reads up to Frames frames into Dst. Libsndfile zero-fills its buffer past
// the end of the audio (and decodes a short last block as a whole one), so
// it reads into a scratch block and only real frames reach Dst.
uint64_t ReadFrames(SNDFILE* f, uint8_t* Dst, uint16_t Ch, uint64_t Frames, bool IsFloat)
{
    const uint64_t chunk = std::min<uint64_t>(Frames, 4096);
    std::vector<int16_t> scratch(chunk * Ch);
    const size_t frameBytes = Ch * sizeof(int16_t);
    uint64_t frames = 0;
    while (frames < Frames) {
        const sf_count_t n = ReadShorts(f, scratch.data(), static_cast<sf_count_t>(std::min(chunk, Frames - frames)),
                                        Ch, IsFloat);
        if (n <= 0)
            break;
        std::memcpy(Dst + frames * frameBytes, scratch.data(), static_cast<size_t>(n) * frameBytes);
        frames += static_cast<uint64_t>(n);
    }
    return frames;
}

// Runs Body, turning an escaping exception into a result code.
template <class F>
MMRESULT Guarded(F Body) noexcept
{
    try {
        return Body();
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    } catch (...) {
        return MMSYSERR_ERROR;
    }
}

constexpr uint32_t kImageData = UINT32_MAX - 1024; // an image's data chunk, rounded down to blocks
constexpr size_t kOpenBytes = 4; // libsndfile looks at the data's first bytes, then reads its first block

std::unique_ptr<TSndState> NewSndState(const TSource& s)
{
    uint64_t blocks = kImageData / s.BlockBytes;
    // Libsndfile refuses an IMA ADPCM image of more than 2^31 frames; the
    // stateless codecs start a new image after 2^30 (hours of audio).
    if (s.Codec != TCodec::Gsm)
        blocks = std::min<uint64_t>(blocks, (uint64_t(1) << 30) / s.FramesPerBlock);
    auto st = std::make_unique<TSndState>();
    st->Image = MakeImage(s, nullptr, static_cast<uint32_t>(blocks * s.BlockBytes));
    return st;
}

bool OpenSndState(TSndState& St, const TSource& s)
{
    SF_VIRTUAL_IO vio{VioLength, VioSeek, VioRead, VioWrite, VioTell};
    SF_INFO info{};
    St.File.reset(sf_open_virtual(&vio, SFM_READ, &info, &St.Image));
    if (!St.File || info.channels != s.Channels || info.samplerate != static_cast<int>(s.Rate))
        return false;
    sf_command(St.File.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    St.IsFloat = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    return true;
}

// A trailing partial ADPCM block (these decode on their own) goes to an
// image of its own that declares just its bytes, so libsndfile decodes it
// as a short block: Frames (those the bytes hold) are real.
bool DecodePartial(const TSource& s, const uint8_t* Data, uint32_t Len, uint8_t* Dst, uint64_t Frames)
{
    TImage image = MakeImage(s, Data, Len);
    SF_VIRTUAL_IO vio{VioLength, VioSeek, VioRead, VioWrite, VioTell};
    SF_INFO info{};
    TSndfile f(sf_open_virtual(&vio, SFM_READ, &info, &image));
    return f && info.channels == s.Channels && ReadFrames(f.get(), Dst, s.Channels, Frames, false) == Frames &&
           sf_error(f.get()) == SF_ERR_NO_ERROR;
}

// Everything but MPEG: whole blocks go to the stream's image as long as the
// destination has room for their frames, then a trailing partial block
// (not with BlockAlign) once every whole one fitted; the decoder hands out
// what the destination holds. Libsndfile opens once what it reads to open
// is queued (or at END); should it ever want more than the queue holds, the
// conversion is refused rather than fed made-up bytes. A stateless codec
// starts a new image when one is used up.
MMRESULT DecodeSndfile(HACMSTREAM__& St, ACMSTREAMHEADER& h, uint32_t Flags)
{
    const TSource& s = St.Source;
    h.cbSrcLengthUsed = 0;
    h.cbDstLengthUsed = 0;
    if ((Flags & ACM_STREAMCONVERTF_START) || !St.Snd)
        St.Snd = NewSndState(s);
    TSndState* st = St.Snd.get();
    const uint64_t room = h.cbDstLength / (2u * s.Channels);
    const uint64_t whole = h.cbSrcLength / s.BlockBytes;
    const uint64_t rem = h.cbSrcLength % s.BlockBytes;
    uint64_t blocks = std::min<uint64_t>(whole, (room - std::min(room, st->Pending)) / s.FramesPerBlock);
    if (st->Image.DataAt + int64_t(st->Queue.size() + blocks * s.BlockBytes) > st->Image.Length) {
        if (s.Codec == TCodec::Gsm)
            return ACMERR_NOTPOSSIBLE;
        if (st->Pending == 0) {
            St.Snd = NewSndState(s);
            st = St.Snd.get();
        } else {
            blocks = 0; // the frames of this image first
        }
    }
    const uint64_t queued = blocks * s.BlockBytes;
    uint64_t partial = (Flags & ACM_STREAMCONVERTF_BLOCKALIGN) || blocks < whole ? 0 : PartialFrames(s, rem);
    if (room - std::min(room, st->Pending + blocks * s.FramesPerBlock) < partial)
        partial = 0;
    if (!BlocksIntact(s, h.pbSrc, queued + (partial > 0 ? rem : 0)))
        return ACMERR_NOTPOSSIBLE;
    TImage& im = st->Image;
    st->Queue.insert(st->Queue.end(), h.pbSrc, h.pbSrc + queued);
    st->Pending += blocks * s.FramesPerBlock;
    im.Data = st->Queue.data();
    im.DataLen = static_cast<int64_t>(st->Queue.size());
    uint64_t got = 0;
    if (!st->File && partial == 0 &&
        (st->Queue.empty() || (st->Queue.size() < kOpenBytes && !(Flags & ACM_STREAMCONVERTF_END)))) {
        h.cbSrcLengthUsed = static_cast<uint32_t>(queued);
        return MMSYSERR_NOERROR;
    }
    if (!st->File && !st->Queue.empty()) {
        if (!OpenSndState(*st, s) || im.Starved) {
            St.Snd.reset();
            return ACMERR_NOTPOSSIBLE;
        }
    }
    if (st->File) {
        const uint64_t want = std::min(room, st->Pending);
        got = ReadFrames(st->File.get(), h.pbDst, s.Channels, want, st->IsFloat);
        // What libsndfile has read is gone from the queue.
        const int64_t read = std::clamp<int64_t>(im.Pos - im.DataAt, 0, im.DataLen);
        st->Queue.erase(st->Queue.begin(), st->Queue.begin() + read);
        im.DataAt += read;
        im.Data = st->Queue.data();
        im.DataLen = static_cast<int64_t>(st->Queue.size());
        st->Pending -= got;
        if (got != want || im.Starved || sf_error(st->File.get()) != SF_ERR_NO_ERROR)
            return ACMERR_NOTPOSSIBLE;
    }
    if (partial > 0 &&
        !DecodePartial(s, h.pbSrc + queued, static_cast<uint32_t>(rem), h.pbDst + got * 2 * s.Channels, partial))
        return ACMERR_NOTPOSSIBLE;
    h.cbSrcLengthUsed = static_cast<uint32_t>(queued + (partial > 0 ? rem : 0));
    h.cbDstLengthUsed = static_cast<uint32_t>((got + partial) * 2 * s.Channels);
    return MMSYSERR_NOERROR;
}

constexpr uint32_t kMp3Feed = 4096;           // source bytes handed over at a time
constexpr uint64_t kMp3ScratchFrames = 4608;  // four MPEG-1 frames

MMRESULT StartMp3(HACMSTREAM__& St)
{
    static const int ready = mpg123_init(); // a no-op in current versions, required by older ones
    if (ready != MPG123_OK)
        return MMSYSERR_ERROR;
    auto m = std::make_unique<TMp3State>();
    int err = MPG123_OK;
    m->Handle.reset(mpg123_new(nullptr, &err));
    if (!m->Handle)
        return MMSYSERR_NOMEM;
    mpg123_handle* mh = m->Handle.get();
    // Never prints; trims the encoder's delay and padding when the stream
    // says how long they are; decodes at the declared rate only.
    if (mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0) != MPG123_OK ||
        mpg123_format_none(mh) != MPG123_OK ||
        mpg123_format(mh, static_cast<long>(St.Source.Rate), MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32) !=
            MPG123_OK ||
        mpg123_open_feed(mh) != MPG123_OK)
        return ACMERR_NOTPOSSIBLE;
    m->Scratch.resize(kMp3ScratchFrames * St.Source.Channels);
    St.Mp3 = std::move(m);
    return MMSYSERR_NOERROR;
}

// The stream must be what the header declares: no channel mixing or rate
// change by the decoder.
bool Mp3FormatAgrees(mpg123_handle* Mh, const TSource& S)
{
    long rate = 0;
    int channels = 0, encoding = 0;
    mpg123_frameinfo2 frame{};
    return mpg123_getformat(Mh, &rate, &channels, &encoding) == MPG123_OK && mpg123_info2(Mh, &frame) == MPG123_OK &&
           rate == long(S.Rate) && frame.rate == long(S.Rate) && channels == S.Channels &&
           encoding == MPG123_ENC_FLOAT_32;
}

// Decodes until the destination is full or the decoder wants more than the
// source holds; source bytes are handed over only when the decoder asks, so
// what is left unused is what the caller feeds again.
MMRESULT DecodeMp3(HACMSTREAM__& St, ACMSTREAMHEADER& h, uint32_t Flags)
{
    h.cbSrcLengthUsed = 0;
    h.cbDstLengthUsed = 0;
    if ((Flags & ACM_STREAMCONVERTF_START) || !St.Mp3) {
        St.Mp3.reset();
        const MMRESULT r = StartMp3(St);
        if (r != MMSYSERR_NOERROR)
            return r;
    }
    TMp3State& m = *St.Mp3;
    mpg123_handle* mh = m.Handle.get();
    const uint64_t ch = St.Source.Channels;
    const uint64_t room = h.cbDstLength / (2 * ch);
    uint64_t used = 0;
    uint64_t frames = 0;
    while (frames < room) {
        const uint64_t want = std::min(room - frames, kMp3ScratchFrames);
        size_t bytes = 0;
        const int r = mpg123_read(mh, m.Scratch.data(), want * ch * sizeof(float), &bytes);
        const uint64_t got = bytes / (ch * sizeof(float));
        FloatsTo16(m.Scratch.data(), h.pbDst + frames * 2 * ch, got * ch);
        frames += got;
        if (r == MPG123_OK)
            continue;
        if (r == MPG123_NEW_FORMAT) {
            if (!Mp3FormatAgrees(mh, St.Source))
                return ACMERR_NOTPOSSIBLE;
            continue;
        }
        if (r == MPG123_DONE)
            break;
        if (r != MPG123_NEED_MORE)
            return ACMERR_NOTPOSSIBLE;
        if (used == h.cbSrcLength)
            break;
        const uint32_t n = std::min<uint32_t>(kMp3Feed, h.cbSrcLength - static_cast<uint32_t>(used));
        if (mpg123_feed(mh, h.pbSrc + used, n) != MPG123_OK)
            return ACMERR_NOTPOSSIBLE;
        used += n;
    }
    m.Fed += used;
    m.Decoded += frames;
    // A stream that ends without one decodable frame is not MPEG audio.
    if ((Flags & ACM_STREAMCONVERTF_END) && used == h.cbSrcLength && m.Decoded == 0 && m.Fed > 0)
        return ACMERR_NOTPOSSIBLE;
    h.cbSrcLengthUsed = static_cast<uint32_t>(used);
    h.cbDstLengthUsed = static_cast<uint32_t>(frames * 2 * ch);
    return MMSYSERR_NOERROR;
}

} // namespace

MMRESULT acmMetrics(HACMOBJ hao, uint32_t uMetric, void* pMetric)
{
    if (uMetric != ACM_METRIC_MAX_SIZE_FORMAT)
        return MMSYSERR_NOTSUPPORTED;
    if (hao)
        return MMSYSERR_INVALHANDLE;
    if (!pMetric)
        return MMSYSERR_INVALPARAM;
    const uint32_t size = kMaxFormatSize;
    std::memcpy(pMetric, &size, sizeof size);
    return MMSYSERR_NOERROR;
}

MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst,
                          uint32_t cbwfxDst, uint32_t fdwSuggest)
{
    return Guarded([&]() -> MMRESULT {
        constexpr uint32_t known = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                                   ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
        if (had)
            return MMSYSERR_INVALHANDLE;
        if (fdwSuggest & ~known)
            return MMSYSERR_INVALFLAG;
        if (!pwfxSrc || !pwfxDst || cbwfxDst < 16)
            return MMSYSERR_INVALPARAM;
        TSource s;
        if (!Describe(pwfxSrc, s))
            return ACMERR_NOTPOSSIBLE;
        WAVEFORMATEX want{};
        std::memcpy(&want, pwfxDst, 16);
        const WAVEFORMATEX pcm = Pcm16For(s);
        if (((fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) && want.wFormatTag != pcm.wFormatTag) ||
            ((fdwSuggest & ACM_FORMATSUGGESTF_NCHANNELS) && want.nChannels != pcm.nChannels) ||
            ((fdwSuggest & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) && want.nSamplesPerSec != pcm.nSamplesPerSec) ||
            ((fdwSuggest & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && want.wBitsPerSample != pcm.wBitsPerSample))
            return ACMERR_NOTPOSSIBLE;
        std::memcpy(pwfxDst, &pcm, cbwfxDst >= sizeof pcm ? sizeof pcm : 16);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, WAVEFILTER* pwfltr, uintptr_t, uintptr_t,
                       uint32_t fdwOpen)
{
    return Guarded([&]() -> MMRESULT {
        if (fdwOpen & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME))
            return MMSYSERR_INVALFLAG;
        const bool query = fdwOpen & ACM_STREAMOPENF_QUERY;
        if (phas && !query)
            *phas = nullptr;
        if (had)
            return MMSYSERR_INVALHANDLE;
        if ((fdwOpen & ACM_STREAMOPENF_ASYNC) || pwfltr)
            return MMSYSERR_NOTSUPPORTED;
        if (!pwfxSrc || !pwfxDst || (!phas && !query))
            return MMSYSERR_INVALPARAM;
        auto stream = std::make_unique<HACMSTREAM__>();
        if (!Describe(pwfxSrc, stream->Source))
            return ACMERR_NOTPOSSIBLE;
        WAVEFORMATEX dst{};
        std::memcpy(&dst, pwfxDst, 16);
        const WAVEFORMATEX pcm = Pcm16For(stream->Source);
        if (std::memcmp(&dst, &pcm, 16) != 0)
            return ACMERR_NOTPOSSIBLE;
        if (query)
            return MMSYSERR_NOERROR;
        std::lock_guard<std::mutex> lock(RegistryMutex());
        HACMSTREAM__* raw = stream.get();
        Registry().emplace(raw, std::move(stream));
        *phas = raw;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamSize(HACMSTREAM has, uint32_t cbInput, uint32_t* pdwOutputBytes, uint32_t fdwSize)
{
    return Guarded([&]() -> MMRESULT {
        HACMSTREAM__* s = Lookup(has);
        if (!s)
            return MMSYSERR_INVALHANDLE;
        if (fdwSize == ACM_STREAMSIZEF_DESTINATION)
            return MMSYSERR_NOTSUPPORTED;
        if (fdwSize != ACM_STREAMSIZEF_SOURCE)
            return MMSYSERR_INVALFLAG;
        if (!pdwOutputBytes)
            return MMSYSERR_INVALPARAM;
        const uint64_t bytes = FramesFor(s->Source, cbInput) * s->Source.Channels * 2;
        if (bytes > BoundFor(s->Source, cbInput) || bytes > UINT32_MAX)
            return ACMERR_NOTPOSSIBLE;
        *pdwOutputBytes = static_cast<uint32_t>(bytes);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwPrepare)
{
    return Guarded([&]() -> MMRESULT {
        HACMSTREAM__* s = Lookup(has);
        if (!s)
            return MMSYSERR_INVALHANDLE;
        if (fdwPrepare != 0)
            return MMSYSERR_INVALFLAG;
        if (!HeaderUsable(pash))
            return MMSYSERR_INVALPARAM;
        if (!s->Find(pash))
            s->Headers.push_back({pash, pash->pbSrc, pash->cbSrcLength, pash->pbDst, pash->cbDstLength});
        pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwConvert)
{
    return Guarded([&]() -> MMRESULT {
        HACMSTREAM__* s = Lookup(has);
        if (!s)
            return MMSYSERR_INVALHANDLE;
        if (fdwConvert & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
            return MMSYSERR_INVALFLAG;
        if (!HeaderUsable(pash))
            return MMSYSERR_INVALPARAM;
        const HACMSTREAM__::Prepared* p = s->Find(pash);
        if (!p || !(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
            return ACMERR_UNPREPARED;
        // Buffers may shrink after preparing, never move or grow.
        if (pash->pbSrc != p->Src || pash->pbDst != p->Dst || pash->cbSrcLength > p->SrcLength ||
            pash->cbDstLength > p->DstLength)
            return MMSYSERR_INVALPARAM;
        pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
        const MMRESULT r = s->Source.Codec == TCodec::Mp3 ? DecodeMp3(*s, *pash, fdwConvert)
                                                          : DecodeSndfile(*s, *pash, fdwConvert);
        pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
        return r;
    });
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwUnprepare)
{
    return Guarded([&]() -> MMRESULT {
        HACMSTREAM__* s = Lookup(has);
        if (!s)
            return MMSYSERR_INVALHANDLE;
        if (fdwUnprepare != 0)
            return MMSYSERR_INVALFLAG;
        if (!pash)
            return MMSYSERR_INVALPARAM;
        const HACMSTREAM__::Prepared* p = s->Find(pash);
        if (!p)
            return ACMERR_UNPREPARED;
        if (pash->pbSrc != p->Src || pash->pbDst != p->Dst)
            return MMSYSERR_INVALPARAM;
        s->Headers.erase(s->Headers.begin() + (p - s->Headers.data()));
        pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamClose(HACMSTREAM has, uint32_t fdwClose)
{
    return Guarded([&]() -> MMRESULT {
        std::unique_ptr<HACMSTREAM__> gone;
        std::lock_guard<std::mutex> lock(RegistryMutex());
        auto it = Registry().find(has);
        if (it == Registry().end())
            return MMSYSERR_INVALHANDLE;
        if (fdwClose != 0)
            return MMSYSERR_INVALFLAG;
        gone = std::move(it->second);
        Registry().erase(it);
        return MMSYSERR_NOERROR;
    });
}

bool AcmTagDecodable(uint16_t FormatTag) noexcept
{
    switch (FormatTag) {
    case kTagPcm:
    case kTagFloat:
    case kTagExtensible:
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
    case WAVE_FORMAT_IMA_ADPCM:
    case WAVE_FORMAT_GSM610:
    case WAVE_FORMAT_MPEGLAYER3:
        return true;
    default:
        return false;
    }
}

const char* AcmFormatTagName(uint16_t FormatTag) noexcept
{
    switch (FormatTag) {
    case kTagPcm: return "PCM";
    case kTagFloat: return "IEEE float";
    case kTagExtensible: return "extensible";
    case WAVE_FORMAT_ADPCM: return "MS ADPCM";
    case WAVE_FORMAT_ALAW: return "A-law";
    case WAVE_FORMAT_MULAW: return "mu-law";
    case WAVE_FORMAT_IMA_ADPCM: return "IMA ADPCM";
    case WAVE_FORMAT_GSM610: return "GSM 6.10";
    case WAVE_FORMAT_MPEGLAYER3: return "MPEG layer 3";
    default: return nullptr;
    }
}

uint32_t AcmFramesPerBlock(const WAVEFORMATEX* pwfx) noexcept
{
    try {
        TSource s;
        return Describe(pwfx, s) ? s.FramesPerBlock : 0;
    } catch (...) {
        return 0;
    }
}

} // namespace velmar
