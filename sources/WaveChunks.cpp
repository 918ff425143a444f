#include "sources/WaveChunks.h"

#include "platform/Msacm.h"
#include "sources/WaveTags.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace velmar {

namespace {

constexpr int64_t Wrap = int64_t(1) << 32;
// Far beyond any file, small enough that offsets plus sizes never overflow.
constexpr int64_t MaxSize = int64_t(1) << 62;
// Chunks looked at once the format and the data are known: the rest are
// only searched for tags.
constexpr int MaxChunksAfterData = 1024;
constexpr size_t MaxDs64Table = 64;

uint32_t LE32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t BE32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
uint16_t BE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t U32(const uint8_t* p, bool Be) { return Be ? BE32(p) : LE32(p); }
uint16_t U16(const uint8_t* p, bool Be) { return Be ? BE16(p) : LE16(p); }
int64_t LE64(const uint8_t* p)
{
    const uint64_t v = LE32(p) | (uint64_t(LE32(p + 4)) << 32);
    return static_cast<int64_t>(std::min<uint64_t>(v, MaxSize));
}

bool Is(const uint8_t* Id, const char* Tag) { return std::memcmp(Id, Tag, 4) == 0; }

// A header that could start a chunk at Pos: an identifier of letters,
// digits and blanks, and a body that fits in the stream (the data chunk may
// claim more).
bool Plausible(const uint8_t* Hdr, int64_t Pos, int64_t End, bool Be)
{
    if (!std::isalpha(Hdr[0]))
        return false;
    for (int i = 1; i < 4; ++i)
        if (!std::isalnum(Hdr[i]) && Hdr[i] != ' ' && Hdr[i] != '_')
            return false;
    return Pos + 8 + int64_t(U32(Hdr + 4, Be)) <= End || Is(Hdr, "data");
}

// Reads a chunk header at Pos; false when it does not fit in the stream.
bool HeaderAt(TStream& S, int64_t Pos, int64_t End, uint8_t (&Hdr)[8])
{
    if (Pos < 0 || Pos + 8 > End)
        return false;
    S.SetPosition(Pos);
    return S.Read(Hdr, 8) == 8;
}

// The sizes of an RF64/BW64 file's ds64 chunk.
struct TDs64 {
    bool Found = false;
    int64_t DataSize = -1;
    int64_t SampleCount = -1;
    std::vector<TChunkRef> Table; // sizes of other chunks over 4 GiB
};

TDs64 ReadDs64(TStream& S, int64_t Size)
{
    TDs64 d;
    uint8_t b[28];
    if (Size < 24 || S.Read(b, std::min<int64_t>(Size, 28)) < 24)
        return d;
    d.Found = true;
    d.DataSize = LE64(b + 8);
    d.SampleCount = LE64(b + 16);
    const uint32_t entries = Size >= 28 ? LE32(b + 24) : 0;
    for (uint32_t i = 0; i < entries && d.Table.size() < MaxDs64Table && 28 + 12 * int64_t(i + 1) <= Size; ++i) {
        uint8_t e[12];
        if (S.Read(e, 12) != 12)
            break;
        TChunkRef r;
        std::memcpy(r.Id, e, 4);
        r.Size = LE64(e + 4);
        d.Table.push_back(r);
    }
    return d;
}

// Frames in Bytes of the data, or -1 when the format does not say.
int64_t FramesIn(const std::vector<uint8_t>& Fmt, bool Be, int64_t Bytes)
{
    const TWaveFormat f = ParseWaveFormat(Fmt, Be);
    if (f.BlockAlign == 0)
        return -1;
    if (f.FormatTag == WAVE_FORMAT_PCM || f.FormatTag == WAVE_FORMAT_IEEE_FLOAT)
        return Bytes / f.BlockAlign;
    const uint32_t perBlock = Be ? 0 : FramesPerBlock(Fmt);
    return perBlock ? Bytes / f.BlockAlign * perBlock : -1;
}

// Chunks that may follow the data, and 2^32 steps looked at past it (a file
// of 4 TiB).
constexpr int MaxTrailingChunks = 64;
constexpr int64_t MaxWraps = 1024;

// Whole chunks from Pos reach exactly the end of the stream (the last one's
// pad byte may be missing).
bool ChunksEndTheStream(TStream& S, int64_t Pos, int64_t End, bool Be)
{
    uint8_t hdr[8];
    for (int i = 0; i < MaxTrailingChunks; ++i) {
        if (Pos == End)
            return true;
        if (!HeaderAt(S, Pos, End, hdr) || !Plausible(hdr, Pos, End, Be) || Is(hdr, "data"))
            return false;
        const int64_t size = U32(hdr + 4, Be);
        Pos += 8 + size;
        if ((size & 1) && Pos < End)
            ++Pos;
    }
    return false;
}

// The data chunk at Body declares Declared bytes and 4 GiB or more follow
// that: its 32-bit size may have wrapped. The true size is the first
// Declared + k x 2^32 where the file's end or chunks running to it begin
// (after a pad byte or not); when there is a fact chunk (32-bit too) that
// agrees with one of these sizes at all, only sizes it agrees with count
// (within a block's padding). -1 when no size fits.
int64_t UnwrappedDataSize(TStream& S, const TWaveChunks& W, int64_t Body, int64_t Declared, int64_t End)
{
    const int64_t wraps = std::min((End - Body - Declared) / Wrap, MaxWraps);
    const uint32_t perBlock = std::max<uint32_t>(1, W.BigEndian ? 1 : FramesPerBlock(W.Fmt));
    const auto agrees = [&](int64_t Size) {
        const int64_t frames = W.HasFmt ? FramesIn(W.Fmt, W.BigEndian, Size) : -1;
        return frames >= 0 && ((frames - W.FactFrames) % Wrap + Wrap) % Wrap < perBlock;
    };
    bool factCounts = false;
    for (int64_t k = 0; k <= wraps && W.FactFrames >= 0 && !factCounts; ++k)
        factCounts = agrees(Declared + k * Wrap);
    for (int64_t k = 0; k <= wraps; ++k) {
        const int64_t size = Declared + k * Wrap, end = Body + size;
        const bool fits = ChunksEndTheStream(S, end, End, W.BigEndian) ||
                          ((size & 1) && ChunksEndTheStream(S, end + 1, End, W.BigEndian));
        if (fits && (!factCounts || agrees(size)))
            return size;
    }
    return -1;
}

} // namespace

TWaveChunks WalkWaveChunks(TStream& S)
{
    TWaveChunks w;
    // A stream of unknown length (a pipe) is walked up to the data only:
    // what follows it could only be read after the audio.
    const bool open = S.Size() < 0;
    const int64_t end = open ? MaxSize : S.Size();
    uint8_t riff[12];
    S.SetPosition(0);
    if (end < 12 || S.Read(riff, 12) != 12 || !Is(riff + 8, "WAVE"))
        return w;
    const bool rf64 = Is(riff, "RF64") || Is(riff, "BW64");
    if (!rf64 && !Is(riff, "RIFF") && !Is(riff, "RIFX"))
        return w;
    w.IsWave = true;
    w.BigEndian = Is(riff, "RIFX");
    const bool be = w.BigEndian;

    TDs64 ds64;
    int afterData = 0;
    int64_t pos = 12;
    uint8_t hdr[8];
    while (HeaderAt(S, pos, end, hdr)) {
        const uint32_t stored = U32(hdr + 4, be);
        const int64_t body = pos + 8;
        const int64_t rest = end - body;
        int64_t declared = stored;
        if (rf64 && stored == 0xFFFFFFFF) {
            declared = Is(hdr, "data") && ds64.Found ? ds64.DataSize : rest;
            for (const TChunkRef& r : ds64.Table)
                if (std::memcmp(r.Id, hdr, 4) == 0)
                    declared = r.Size;
        }
        const int64_t size = std::min(declared, rest);
        bool dataToTheEnd = false;
        if (Is(hdr, "ds64") && rf64 && !ds64.Found) {
            ds64 = ReadDs64(S, size);
        } else if (Is(hdr, "fmt ") && !w.HasFmt) {
            w.Fmt.resize(static_cast<size_t>(std::min(size, MaxFmtBytes)));
            w.Fmt.resize(static_cast<size_t>(S.Read(w.Fmt.data(), static_cast<int64_t>(w.Fmt.size()))));
            w.HasFmt = true;
        } else if (Is(hdr, "fact") && size >= 4 && w.FactFrames < 0) {
            uint8_t count[4];
            if (S.Read(count, 4) == 4)
                w.FactFrames = U32(count, be);
        } else if (Is(hdr, "data") && !w.HasData) {
            w.HasData = true;
            w.DataPos = body;
            w.DeclaredDataSize = declared;
            uint8_t next[8];
            if (stored == 0xFFFFFFFF && !(rf64 && ds64.Found)) {
                w.DeclaredDataSize = -1;
            } else if (stored == 0 && rest > 0 &&
                       !(HeaderAt(S, body, end, next) && Plausible(next, body, end, be))) {
                w.DeclaredDataSize = -1;
            } else if (!rf64 && !open && rest - declared >= Wrap) {
                const int64_t unwrapped = UnwrappedDataSize(S, w, body, declared, end);
                if (unwrapped >= 0) {
                    // The walk goes on after the true end, to the tags there.
                    w.DeclaredDataSize = declared = unwrapped;
                } else {
                    w.DataEndUnknown = true;
                    dataToTheEnd = true;
                }
            }
            if (w.DeclaredDataSize < 0 && open)
                w.DataSize = -1;
            else
                w.DataSize = w.DeclaredDataSize < 0 || w.DataEndUnknown ? rest : std::min(w.DeclaredDataSize, rest);
            dataToTheEnd = dataToTheEnd || w.DeclaredDataSize < 0 || open;
        } else if ((Is(hdr, "LIST") || Is(hdr, "id3 ") || Is(hdr, "ID3 ") || Is(hdr, "bext") || Is(hdr, "cue ")) &&
                   w.Tags.size() < MaxTagChunks) {
            TChunkRef r;
            std::memcpy(r.Id, hdr, 4);
            r.Pos = body;
            r.Size = size;
            w.Tags.push_back(r);
        }
        if (dataToTheEnd || (w.HasFmt && w.HasData && ++afterData > MaxChunksAfterData))
            break;
        int64_t next = body + declared;
        if (declared & 1) {
            // Writers that skip the pad byte: trust the identifier that looks like one.
            uint8_t padded[8], unpadded[8];
            bool withPad = HeaderAt(S, next + 1, end, padded) && Plausible(padded, next + 1, end, be);
            bool withoutPad = HeaderAt(S, next, end, unpadded) && Plausible(unpadded, next, end, be);
            next += (withPad || !withoutPad) ? 1 : 0;
        }
        pos = next;
    }
    if (ds64.Found && ds64.SampleCount > 0 && (w.FactFrames < 0 || w.FactFrames == 0xFFFFFFFF))
        w.FactFrames = ds64.SampleCount;
    return w;
}

TWaveTagReader ReadTagChunks(TStream& S, const std::vector<TChunkRef>& Chunks, bool BigEndian)
{
    // An ID3 chunk may carry a picture: room for one past the largest put
    // into a stream, so a larger one is still seen (and refused by name).
    constexpr int64_t MaxTagBytes = 1 << 20, MaxId3Bytes = 32 << 20;
    TWaveTagReader tags(BigEndian);
    std::vector<uint8_t> body;
    for (const TChunkRef& r : Chunks) {
        try {
            const bool id3 = std::memcmp(r.Id, "id3 ", 4) == 0 || std::memcmp(r.Id, "ID3 ", 4) == 0;
            body.resize(static_cast<size_t>(std::min(r.Size, id3 ? MaxId3Bytes : MaxTagBytes)));
            S.SetPosition(r.Pos);
            body.resize(static_cast<size_t>(S.Read(body.data(), static_cast<int64_t>(body.size()))));
            tags.Add(std::string_view(r.Id, 4), body.data(), body.size());
        } catch (const std::exception&) {
        }
    }
    return tags;
}

TWaveFormat ParseWaveFormat(const std::vector<uint8_t>& Fmt, bool BigEndian)
{
    TWaveFormat f;
    const bool be = BigEndian;
    uint8_t b[40] = {};
    if (!Fmt.empty())
        std::memcpy(b, Fmt.data(), std::min<size_t>(Fmt.size(), sizeof b));
    f.StoredTag = U16(b, be);
    f.FormatTag = f.StoredTag;
    f.Channels = U16(b + 2, be);
    f.SamplesPerSec = U32(b + 4, be);
    f.AvgBytesPerSec = U32(b + 8, be);
    f.BlockAlign = U16(b + 12, be);
    f.BitsPerSample = Fmt.size() >= 16 ? U16(b + 14, be) : 0;
    if (f.StoredTag != WAVE_FORMAT_EXTENSIBLE)
        return f;

    // The subformat GUID is the tag followed by the fixed tail of its family.
    static const uint8_t ks[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    static const uint8_t ambisonic[14] = {0x00, 0x00, 0x21, 0x07, 0xD3, 0x11, 0x86,
                                          0x44, 0xC8, 0xC1, 0xCA, 0x00, 0x00, 0x00};
    const uint16_t cbSize = LE16(b + 16);
    const uint16_t sub = LE16(b + 24);
    const bool known = std::memcmp(b + 26, ks, sizeof ks) == 0 ||
                       (std::memcmp(b + 26, ambisonic, sizeof ambisonic) == 0 &&
                        (sub == WAVE_FORMAT_PCM || sub == WAVE_FORMAT_IEEE_FLOAT));
    if (be || Fmt.size() < 40 || cbSize < 22 || !known) {
        f.SubFormatKnown = false;
        f.FormatTag = 0;
        return f;
    }
    f.ValidBits = LE16(b + 18);
    f.FormatTag = sub;
    return f;
}

TWaveFormatBuffer FormatBufferOf(const std::vector<uint8_t>& Fmt)
{
    TWaveFormatBuffer b{};
    const size_t n = std::min(Fmt.size(), sizeof b);
    if (n > 0)
        std::memcpy(&b, Fmt.data(), n);
    b.Format.cbSize = n >= sizeof(WAVEFORMATEX)
                          ? static_cast<uint16_t>(std::min<size_t>(b.Format.cbSize, n - sizeof(WAVEFORMATEX)))
                          : 0;
    return b;
}

uint32_t FramesPerBlock(const std::vector<uint8_t>& Fmt)
{
    const TWaveFormatBuffer f = FormatBufferOf(Fmt);
    return AcmFramesPerBlock(&f.Format);
}

} // namespace velmar
