#include "sources/AiffChunks.h"

#include <algorithm>
#include <cstring>

namespace velmar {

namespace {

constexpr int64_t MaxSize = int64_t(1) << 62;
constexpr int MaxChunks = 4096;

uint32_t BE32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

bool Is(const uint8_t* Id, const char* Tag) { return std::memcmp(Id, Tag, 4) == 0; }

} // namespace

TAiffChunks WalkAiffChunks(TStream& S)
{
    TAiffChunks a;
    const int64_t size = S.Size();
    const bool open = size < 0;
    const int64_t end = open ? MaxSize : size;
    uint8_t form[12];
    S.SetPosition(0);
    if (S.Read(form, 12) != 12 || !Is(form, "FORM") || !(Is(form + 8, "AIFF") || Is(form + 8, "AIFC")))
        return a;
    a.IsAiff = true;
    a.Compressed = Is(form + 8, "AIFC");
    int64_t pos = 12;
    uint8_t hdr[8];
    for (int n = 0; n < MaxChunks && pos + 8 <= end; ++n) {
        S.SetPosition(pos);
        if (S.Read(hdr, 8) != 8)
            break;
        const int64_t declared = BE32(hdr + 4);
        const int64_t body = pos + 8;
        const int64_t held = std::min(declared, end - body);
        if (Is(hdr, "COMM") && a.CommFrames < 0) {
            uint8_t comm[22];
            const int64_t got = S.Read(comm, std::min<int64_t>(held, sizeof comm));
            if (got >= 6)
                a.CommFrames = BE32(comm + 2);
            if (a.Compressed && got >= 22)
                std::memcpy(a.Compression, comm + 18, 4);
        } else if (Is(hdr, "SSND") && !a.HasSound) {
            a.HasSound = true;
            a.SoundEnd = body + held;
            if (open)
                break;
        } else if ((Is(hdr, "NAME") || Is(hdr, "AUTH") || Is(hdr, "(c) ") || Is(hdr, "ANNO") || Is(hdr, "ID3 ") ||
                    Is(hdr, "id3 ")) &&
                   a.Tags.size() < MaxTagChunks) {
            TChunkRef r;
            std::memcpy(r.Id, hdr, 4);
            r.Pos = body;
            r.Size = held;
            a.Tags.push_back(r);
        }
        pos = body + declared + (declared & 1);
    }
    return a;
}

} // namespace velmar
