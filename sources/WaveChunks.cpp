#include "sources/WaveChunks.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace velmar {

namespace {

uint32_t LE32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A header that could start a chunk at Pos: an identifier of letters,
// digits and blanks, and a body that fits in the stream (the data chunk may
// claim more).
bool Plausible(const uint8_t* Hdr, int64_t Pos, int64_t End)
{
    if (!std::isalpha(Hdr[0]))
        return false;
    for (int i = 1; i < 4; ++i)
        if (!std::isalnum(Hdr[i]) && Hdr[i] != ' ' && Hdr[i] != '_')
            return false;
    return Pos + 8 + int64_t(LE32(Hdr + 4)) <= End || std::memcmp(Hdr, "data", 4) == 0;
}

// Reads a chunk header at Pos; false when it does not fit in the stream.
bool HeaderAt(TStream& S, int64_t Pos, int64_t End, uint8_t (&Hdr)[8])
{
    if (Pos < 0 || Pos + 8 > End)
        return false;
    S.SetPosition(Pos);
    return S.Read(Hdr, 8) == 8;
}

} // namespace

TWaveChunks WalkWaveChunks(TStream& S)
{
    TWaveChunks w;
    const int64_t end = S.Size();
    uint8_t riff[12];
    S.SetPosition(0);
    if (end < 12 || S.Read(riff, 12) != 12)
        return w;
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return w;
    w.IsWave = true;

    int64_t pos = 12;
    uint8_t hdr[8];
    while (HeaderAt(S, pos, end, hdr)) {
        const uint32_t declared = LE32(hdr + 4);
        const int64_t body = pos + 8;
        const int64_t size = std::min<int64_t>(declared, end - body);
        if (std::memcmp(hdr, "fmt ", 4) == 0) {
            w.Fmt.resize(static_cast<size_t>(std::min(size, MaxFmtBytes)));
            w.Fmt.resize(static_cast<size_t>(S.Read(w.Fmt.data(), static_cast<int64_t>(w.Fmt.size()))));
            w.HasFmt = true;
        } else if (std::memcmp(hdr, "data", 4) == 0 && !w.HasData) {
            w.HasData = true;
            w.DataPos = body;
            w.DataSize = size;
            w.DeclaredDataSize = declared;
        }
        if (w.HasFmt && w.HasData)
            break;
        int64_t next = body + int64_t(declared);
        if (declared & 1) {
            // Writers that skip the pad byte: trust the identifier that looks like one.
            uint8_t padded[8], unpadded[8];
            bool withPad = HeaderAt(S, next + 1, end, padded) && Plausible(padded, next + 1, end);
            bool withoutPad = HeaderAt(S, next, end, unpadded) && Plausible(unpadded, next, end);
            next += (withPad || !withoutPad) ? 1 : 0;
        }
        pos = next;
    }
    return w;
}

TWaveFormat ParseWaveFormat(const std::vector<uint8_t>& Fmt)
{
    TWaveFormat f;
    uint8_t b[40] = {};
    if (!Fmt.empty())
        std::memcpy(b, Fmt.data(), std::min<size_t>(Fmt.size(), sizeof b));
    f.StoredTag = LE16(b);
    f.FormatTag = f.StoredTag;
    f.Channels = LE16(b + 2);
    f.SamplesPerSec = LE32(b + 4);
    f.AvgBytesPerSec = LE32(b + 8);
    f.BlockAlign = LE16(b + 12);
    f.BitsPerSample = Fmt.size() >= 16 ? LE16(b + 14) : 0;
    if (f.StoredTag != WAVE_FORMAT_EXTENSIBLE)
        return f;

    // The subformat GUID is the tag followed by the fixed tail of the
    // KSDATAFORMAT_SUBTYPE family.
    static const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    const uint16_t cbSize = LE16(b + 16);
    if (Fmt.size() < 40 || cbSize < 22 || std::memcmp(b + 26, tail, sizeof tail) != 0) {
        f.SubFormatKnown = false;
        f.FormatTag = 0;
        return f;
    }
    f.ValidBits = LE16(b + 18);
    f.FormatTag = LE16(b + 24);
    return f;
}

} // namespace velmar
