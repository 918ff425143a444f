#include "sources/FlacMetadata.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace velmar {

namespace {

constexpr int MaxBlocks = 1024;
constexpr size_t MaxComments = 65536;

uint32_t LE32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

// A VORBIS_COMMENT body: the vendor string, a count, then the entries.
TStringList Comments(const std::vector<uint8_t>& B)
{
    TStringList lines;
    const size_t n = B.size();
    if (n < 4)
        return lines;
    const uint64_t vendor = LE32(B.data());
    if (vendor > n - 4 || n - 4 - vendor < 4)
        return lines;
    size_t pos = 4 + static_cast<size_t>(vendor);
    const uint32_t count = LE32(B.data() + pos);
    pos += 4;
    for (uint32_t i = 0; i < count && lines.size() < MaxComments && n - pos >= 4; ++i) {
        const uint64_t len = LE32(B.data() + pos);
        pos += 4;
        if (len > n - pos)
            break; // runs past the block: the rest is not trusted
        if (len > 0)
            lines.emplace_back(reinterpret_cast<const char*>(B.data() + pos), static_cast<size_t>(len));
        pos += static_cast<size_t>(len);
    }
    return lines;
}

} // namespace

int64_t Id3v2Length(const uint8_t* Head, size_t Size)
{
    if (Size < 10 || std::memcmp(Head, "ID3", 3) != 0 || ((Head[6] | Head[7] | Head[8] | Head[9]) & 0x80))
        return 0;
    const int64_t body = (int64_t(Head[6]) << 21) | (Head[7] << 14) | (Head[8] << 7) | Head[9];
    return 10 + body + ((Head[5] & 0x10) ? 10 : 0);
}

namespace {

// A PICTURE block: type, MIME type, description, four sizes, data; every
// length checked against the bytes left.
bool Picture(const std::vector<uint8_t>& B, TPicture& P)
{
    size_t at = 0;
    const auto u32 = [&](uint64_t& V) {
        if (B.size() - at < 4)
            return false;
        V = uint64_t(B[at]) << 24 | uint64_t(B[at + 1]) << 16 | uint64_t(B[at + 2]) << 8 | B[at + 3];
        at += 4;
        return true;
    };
    const auto text = [&](std::string& S) {
        uint64_t n;
        if (!u32(n) || n > B.size() - at)
            return false;
        S.assign(B.begin() + long(at), B.begin() + long(at + n));
        at += n;
        return true;
    };
    uint64_t type, skip, length;
    if (!u32(type) || !text(P.Mime) || !text(P.Description) || !u32(skip) || !u32(skip) || !u32(skip) ||
        !u32(skip) || !u32(length) || length > B.size() - at)
        return false;
    P.Type = static_cast<uint32_t>(type);
    P.Data.assign(B.begin() + long(at), B.begin() + long(at + length));
    return true;
}

} // namespace

TFlacMetadata ReadFlacMetadata(TStream& S)
{
    TFlacMetadata m;
    const int64_t size = S.Size(); // -1: a pipe
    uint8_t head[10];
    S.SetPosition(0);
    if (S.Read(head, 10) != 10)
        return m;
    int64_t pos = Id3v2Length(head, sizeof head);
    uint8_t magic[4];
    S.SetPosition(pos);
    if (S.Read(magic, 4) != 4 || std::memcmp(magic, "fLaC", 4) != 0)
        return m;
    m.IsFlac = true;
    pos += 4;
    bool comments = false;
    for (int n = 0; n < MaxBlocks; ++n) {
        uint8_t h[4];
        S.SetPosition(pos);
        if (S.Read(h, 4) != 4)
            break;
        const bool last = h[0] & 0x80;
        const int type = h[0] & 0x7F;
        const int64_t length = (int64_t(h[1]) << 16) | (h[2] << 8) | h[3];
        if (type == 0 && length >= 18) { // STREAMINFO: the count is 36 bits from byte 13
            uint8_t info[18];
            if (S.Read(info, 18) != 18)
                break;
            const int64_t total = (int64_t(info[13] & 0x0F) << 32) | (int64_t(info[14]) << 24) | (info[15] << 16) |
                                  (info[16] << 8) | info[17];
            m.TotalFrames = total > 0 ? total : -1;
        } else if (type == 4 && !comments) {
            if (size >= 0 && length > size - pos - 4)
                break; // longer than the file: not read into memory
            std::vector<uint8_t> body(static_cast<size_t>(length));
            if (S.Read(body.data(), length) != length)
                break;
            m.Comments = Comments(body);
            comments = true;
        } else if (type == 6) {
            if (size >= 0 && length > size - pos - 4)
                break;
            std::vector<uint8_t> body(static_cast<size_t>(length));
            if (S.Read(body.data(), length) != length)
                break;
            TPicture p;
            if (Picture(body, p))
                m.Pictures.push_back(std::move(p));
        }
        pos += 4 + length;
        if (last)
            break;
    }
    return m;
}

} // namespace velmar
