#include "sources/WaveTags.h"

#include <algorithm>
#include <functional>
#include <cctype>
#include <cstring>

namespace velmar {

namespace {

constexpr const char* TagNames[TagCount] = {"TITLE", "ARTIST", "ALBUM", "TRACKNUMBER", "DATE", "GENRE"};

void Set(TTagValues& V, TTag Key, std::string Value)
{
    std::string& slot = V[static_cast<size_t>(Key)];
    if (slot.empty())
        slot = std::move(Value);
}

void AppendUtf8(std::string& Out, uint32_t C)
{
    if (C < 0x80) {
        Out += static_cast<char>(C);
    } else if (C < 0x800) {
        Out += static_cast<char>(0xC0 | (C >> 6));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else if (C < 0x10000) {
        Out += static_cast<char>(0xE0 | (C >> 12));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (C >> 18));
        Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool ValidUtf8(std::string_view S)
{
    const auto* p = reinterpret_cast<const uint8_t*>(S.data());
    const size_t n = S.size();
    for (size_t i = 0; i < n;) {
        const uint8_t c = p[i];
        size_t len;
        uint32_t min, cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

// Windows-1252's 0x80-0x9F; the five unassigned bytes keep their C1 code.
constexpr uint16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Trim(std::string S)
{
    const char* blanks = " \t\r\n\v\f";
    const size_t last = S.find_last_not_of(blanks);
    if (last == std::string::npos)
        return {};
    S.erase(last + 1);
    S.erase(0, S.find_first_not_of(blanks));
    return S;
}

// UTF-16 code units to UTF-8, up to the first NUL; lone surrogates become U+FFFD.
std::string Utf16(const uint8_t* P, size_t N, bool BigEndian)
{
    std::string out;
    const auto unit = [&](size_t i) -> uint32_t {
        return BigEndian ? (P[2 * i] << 8) | P[2 * i + 1] : P[2 * i] | (P[2 * i + 1] << 8);
    };
    const size_t units = N / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = unit(i);
        if (c == 0)
            break;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return Trim(std::move(out));
}

uint32_t LE32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint32_t BE32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

bool IdLike(const uint8_t* Id)
{
    for (int i = 0; i < 4; ++i)
        if (!std::isalnum(Id[i]) && Id[i] != ' ')
            return false;
    return true;
}

// ---- ID3v2 ------------------------------------------------------------------

// A 28-bit "syncsafe" number; -1 when a byte has its top bit set.
int64_t Syncsafe(const uint8_t* p)
{
    if ((p[0] | p[1] | p[2] | p[3]) & 0x80)
        return -1;
    return (int64_t(p[0]) << 21) | (p[1] << 14) | (p[2] << 7) | p[3];
}

// A frame header at Pos of Tag: an identifier of capitals and digits, and a
// size (syncsafe or plain) that fits in the tag.
bool FrameHeaderAt(const std::vector<uint8_t>& Tag, size_t Pos)
{
    if (Tag.size() - Pos < 10)
        return false;
    const uint8_t* h = Tag.data() + Pos;
    if (!std::all_of(h, h + 4, [](uint8_t c) { return std::isupper(c) || std::isdigit(c); }))
        return false;
    const int64_t room = int64_t(Tag.size() - Pos - 10);
    const int64_t syncsafe = Syncsafe(h + 4);
    return (syncsafe >= 0 && syncsafe <= room) || int64_t(BE32(h + 4)) <= room;
}

// A frame of Size bytes after the header at Pos ends where the next frame,
// the padding or the tag's end begins.
bool FrameEndsWell(const std::vector<uint8_t>& Tag, size_t Pos, int64_t Size)
{
    if (Size < 0 || Size > int64_t(Tag.size() - Pos - 10))
        return false;
    const size_t next = Pos + 10 + static_cast<size_t>(Size);
    return next == Tag.size() || Tag[next] == 0 || FrameHeaderAt(Tag, next);
}

// Undoes the unsynchronisation scheme: a 0x00 after every 0xFF is dropped.
std::vector<uint8_t> Resync(const uint8_t* P, size_t N)
{
    std::vector<uint8_t> out;
    out.reserve(N);
    for (size_t i = 0; i < N; ++i) {
        out.push_back(P[i]);
        if (P[i] == 0xFF && i + 1 < N && P[i + 1] == 0x00)
            ++i;
    }
    return out;
}

// A text frame's first value as UTF-8.
std::string Id3Text(const uint8_t* P, size_t N)
{
    if (N < 1)
        return {};
    const uint8_t encoding = P[0];
    const uint8_t* t = P + 1;
    size_t n = N - 1;
    switch (encoding) {
    case 0: // ISO-8859-1, but writers put UTF-8 and Windows-1252 there too
    case 3: // UTF-8
        return TagText(std::string_view(reinterpret_cast<const char*>(t), n));
    case 1: { // UTF-16 with a byte-order mark (little-endian without one)
        bool be = false;
        if (n >= 2 && ((t[0] == 0xFE && t[1] == 0xFF) || (t[0] == 0xFF && t[1] == 0xFE))) {
            be = t[0] == 0xFE;
            t += 2;
            n -= 2;
        }
        return Utf16(t, n, be);
    }
    case 2:
        return Utf16(t, n, true);
    default:
        return {};
    }
}

// Calls Frame(id, data, size) for each readable frame of an ID3v2.3 or
// v2.4 tag, its format flags undone.
void ForEachId3Frame(const uint8_t* Body, size_t Size,
                     const std::function<void(std::string_view, const uint8_t*, size_t)>& Frame)
{
    if (Size < 10 || std::memcmp(Body, "ID3", 3) != 0)
        return;
    const int version = Body[3];
    const uint8_t flags = Body[5];
    const int64_t tagSize = Syncsafe(Body + 6);
    if ((version != 3 && version != 4) || tagSize < 0)
        return;
    const size_t end = 10 + std::min<size_t>(static_cast<size_t>(tagSize), Size - 10);
    std::vector<uint8_t> tag(Body + 10, Body + end);
    if (version == 3 && (flags & 0x80))
        tag = Resync(tag.data(), tag.size());

    size_t pos = 0;
    if (flags & 0x40) { // extended header: skipped
        if (tag.size() < 4)
            return;
        const int64_t ext = version == 3 ? int64_t(BE32(tag.data())) + 4 : Syncsafe(tag.data());
        if (ext < 4 || ext > int64_t(tag.size()))
            return;
        pos = static_cast<size_t>(ext);
    }
    while (tag.size() - pos >= 10) {
        const uint8_t* h = tag.data() + pos;
        if (!std::all_of(h, h + 4, [](uint8_t c) { return std::isupper(c) || std::isdigit(c); }))
            break; // padding, or not a frame
        int64_t declared = version == 4 ? Syncsafe(h + 4) : int64_t(BE32(h + 4));
        // Several v2.4 writers store plain sizes: taken when only they fit.
        if (version == 4 && !FrameEndsWell(tag, pos, declared) && FrameEndsWell(tag, pos, BE32(h + 4)))
            declared = BE32(h + 4);
        const uint16_t fflags = static_cast<uint16_t>((h[8] << 8) | h[9]);
        if (declared < 0 || declared > int64_t(tag.size() - pos - 10))
            break; // a frame past the tag's end: the rest is not trusted
        const uint8_t* data = h + 10;
        size_t n = static_cast<size_t>(declared);
        pos += 10 + n;

        // What each version's format flags add before the text, or make unreadable.
        bool unreadable, resync = false;
        size_t skip = 0;
        if (version == 3) {
            unreadable = fflags & 0x00C0; // compressed, encrypted
            skip = (fflags & 0x0020) ? 1 : 0; // group identity
        } else {
            unreadable = fflags & 0x000C;
            skip = ((fflags & 0x0040) ? 1 : 0) + ((fflags & 0x0001) ? 4 : 0); // group, data length
            resync = (fflags & 0x0002) || (flags & 0x80);
        }
        if (unreadable || skip > n)
            continue;
        data += skip;
        n -= skip;
        std::vector<uint8_t> plain;
        if (resync) {
            plain = Resync(data, n);
            data = plain.data();
            n = plain.size();
        }
        Frame(std::string_view(reinterpret_cast<const char*>(h), 4), data, n);
    }
}



} // namespace

std::string TagText(std::string_view Raw)
{
    Raw = Raw.substr(0, Raw.find('\0'));
    if (Raw.size() >= 3 && std::memcmp(Raw.data(), "\xEF\xBB\xBF", 3) == 0)
        Raw.remove_prefix(3);
    if (ValidUtf8(Raw))
        return Trim(std::string(Raw));
    std::string out;
    out.reserve(Raw.size() * 2);
    for (char ch : Raw) {
        const auto c = static_cast<uint8_t>(ch);
        AppendUtf8(out, c >= 0x80 && c < 0xA0 ? Cp1252High[c - 0x80] : c);
    }
    return Trim(std::move(out));
}

TTagValues TagsFromInfo(const uint8_t* Body, size_t Size, bool BigEndian)
{
    TTagValues v;
    if (Size < 4 || std::memcmp(Body, "INFO", 4) != 0)
        return v;
    struct TKey {
        const char* Id;
        TTag Key;
    };
    static const TKey keys[] = {{"INAM", TTag::Title}, {"IART", TTag::Artist}, {"IPRD", TTag::Album},
                                {"IPRT", TTag::TrackNumber}, {"ITRK", TTag::TrackNumber},
                                {"ICRD", TTag::Date}, {"IGNR", TTag::Genre}};
    size_t pos = 4;
    while (Size - pos >= 8 && IdLike(Body + pos)) {
        const uint8_t* id = Body + pos;
        const uint32_t n = BigEndian ? BE32(id + 4) : LE32(id + 4);
        const size_t text = pos + 8;
        if (n > Size - text)
            break; // runs past the chunk: the rest is not trusted
        for (const TKey& k : keys)
            if (std::memcmp(id, k.Id, 4) == 0)
                Set(v, k.Key, TagText(std::string_view(reinterpret_cast<const char*>(Body + text), n)));
        pos = text + n;
        // The pad byte of an odd size, unless the writer left it out.
        if ((n & 1) && pos < Size && !(Size - pos >= 8 && IdLike(Body + pos) && Body[pos] != ' '))
            ++pos;
    }
    return v;
}

TTagValues TagsFromId3(const uint8_t* Body, size_t Size)
{
    TTagValues v;
    std::string year; // TYER, when there is no TDRC
    ForEachId3Frame(Body, Size, [&](std::string_view Id, const uint8_t* Data, size_t N) {
        if (Id == "TYER") {
            if (year.empty())
                year = Id3Text(Data, N);
            return;
        }
        static const std::pair<std::string_view, TTag> frames[] = {
            {"TIT2", TTag::Title}, {"TPE1", TTag::Artist}, {"TALB", TTag::Album},
            {"TRCK", TTag::TrackNumber}, {"TDRC", TTag::Date}, {"TCON", TTag::Genre}};
        for (const auto& [frame, key] : frames)
            if (Id == frame)
                Set(v, key, Id3Text(Data, N));
    });
    Set(v, TTag::Date, year);
    return v;
}

std::vector<TPicture> PicturesFromId3(const uint8_t* Body, size_t Size)
{
    std::vector<TPicture> pictures;
    ForEachId3Frame(Body, Size, [&](std::string_view Id, const uint8_t* Data, size_t N) {
        // APIC: encoding, MIME type (Latin-1, NUL), type, description (NUL), data.
        if (Id != "APIC" || N < 4)
            return;
        const uint8_t encoding = Data[0];
        const uint8_t* mimeEnd = static_cast<const uint8_t*>(std::memchr(Data + 1, 0, N - 1));
        if (!mimeEnd || size_t(mimeEnd - Data) + 2 > N)
            return;
        TPicture p;
        p.Mime = TagText(std::string_view(reinterpret_cast<const char*>(Data + 1), size_t(mimeEnd - Data - 1)));
        p.Type = mimeEnd[1];
        const size_t descAt = size_t(mimeEnd - Data) + 2;
        const bool wide = encoding == 1 || encoding == 2;
        size_t descEnd = descAt;
        while (descEnd + (wide ? 1 : 0) < N && (Data[descEnd] != 0 || (wide && Data[descEnd + 1] != 0)))
            descEnd += wide ? 2 : 1;
        if (descEnd + (wide ? 1 : 0) >= N)
            return; // no end to the description: no picture data either
        std::vector<uint8_t> desc(Data + descAt, Data + descEnd);
        desc.insert(desc.begin(), encoding);
        p.Description = Id3Text(desc.data(), desc.size());
        p.Data.assign(Data + descEnd + (wide ? 2 : 1), Data + N);
        pictures.push_back(std::move(p));
    });
    return pictures;
}

TTagValues TagsFromBext(const uint8_t* Body, size_t Size)
{
    TTagValues v;
    const auto text = [&](size_t At, size_t Len) {
        if (At >= Size)
            return std::string();
        return TagText(std::string_view(reinterpret_cast<const char*>(Body + At), std::min(Len, Size - At)));
    };
    Set(v, TTag::Title, text(0, 256));
    if (Size >= 330)
        Set(v, TTag::Date, text(320, 10));
    return v;
}

namespace {

// Fills the keys Into lacks from From.
void Merge(TTagValues& Into, const TTagValues& From)
{
    for (size_t i = 0; i < TagCount; ++i)
        if (Into[i].empty())
            Into[i] = From[i];
}

} // namespace

void TWaveTagReader::Add(std::string_view Id, const uint8_t* Body, size_t Size)
{
    const auto u32 = [&](const uint8_t* p) { return FBigEndian ? BE32(p) : LE32(p); };
    if (Id == "id3 " || Id == "ID3 ") {
        Merge(FId3, TagsFromId3(Body, Size));
        for (TPicture& p : PicturesFromId3(Body, Size))
            FPictures.push_back(std::move(p));
    } else if (Id == "LIST" && Size >= 4 && std::memcmp(Body, "adtl", 4) == 0) {
        // labl: the cue point's identifier, then its name.
        for (size_t pos = 4; Size - pos >= 8;) {
            const uint64_t n = u32(Body + pos + 4);
            if (n > Size - pos - 8)
                break;
            if (std::memcmp(Body + pos, "labl", 4) == 0 && n >= 4)
                FLabels.emplace(u32(Body + pos + 8), TagText(std::string_view(
                                                           reinterpret_cast<const char*>(Body + pos + 12), n - 4)));
            pos += 8 + n + (n & 1);
            if (pos > Size)
                break;
        }
    } else if (Id == "LIST") {
        Merge(FInfo, TagsFromInfo(Body, Size, FBigEndian));
    } else if (Id == "bext") {
        Merge(FBext, TagsFromBext(Body, Size));
    } else if (Id == "NAME" || Id == "AUTH" || Id == "(c) " || Id == "ANNO") {
        std::string text = TagText(std::string_view(reinterpret_cast<const char*>(Body), Size));
        if (Id == "NAME")
            Set(FAiff, TTag::Title, std::move(text));
        else if (Id == "AUTH")
            Set(FAiff, TTag::Artist, std::move(text));
        else if (Id == "ANNO" && !text.empty())
            FNotes.push_back(std::move(text));
        else if (FCopyright.empty())
            FCopyright = std::move(text);
    } else if (Id == "cue " && Size >= 4) {
        // A count, then 24 bytes a point: identifier, position, chunk,
        // chunk start, block start, sample offset.
        const uint64_t count = std::min<uint64_t>(u32(Body), (Size - 4) / 24);
        for (uint64_t k = 0; k < count; ++k) {
            const uint8_t* c = Body + 4 + 24 * k;
            FCues.emplace_back(u32(c), int64_t(u32(c + 20)));
        }
    }
}

std::vector<TCuePoint> TWaveTagReader::Cues() const
{
    std::vector<TCuePoint> cues;
    for (const auto& [id, frame] : FCues) {
        const auto name = FLabels.find(id);
        cues.push_back({frame, name == FLabels.end() ? std::string() : name->second});
    }
    return cues;
}

TStringList TWaveTagReader::Lines() const
{
    TTagValues all = FId3;
    Merge(all, FInfo);
    Merge(all, FBext);
    Merge(all, FAiff);
    TStringList lines;
    for (size_t i = 0; i < TagCount; ++i)
        if (!all[i].empty())
            lines.push_back(std::string(TagNames[i]) + "=" + all[i]);
    if (!FCopyright.empty())
        lines.push_back("COPYRIGHT=" + FCopyright);
    for (const std::string& note : FNotes)
        lines.push_back("COMMENT=" + note);
    return lines;
}

} // namespace velmar
