#include "vorbis/VorbisComments.h"

#include "platform/Classes.h"
#include "platform/TempFiles.h"
#include "vorbis/OggPages.h"

#include <cstdio>
#include <cstring>

#include <sys/stat.h>

namespace velmar {

namespace {

using TBytes = std::vector<uint8_t>;

constexpr int64_t CopyChunk = 1 << 16;

uint32_t GetU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void SetU32(uint8_t* p, uint32_t V)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(V >> (8 * i));
}

void PutU32(TBytes& B, uint32_t V)
{
    B.resize(B.size() + 4);
    SetU32(B.data() + B.size() - 4, V);
}

void Seal(TBytes& Page)
{
    SetU32(Page.data() + OggChecksumAt, 0);
    SetU32(Page.data() + OggChecksumAt, OggChecksumUpdate(0, Page.data(), Page.size()));
}

// One page at the stream's position, whole: false at the end of the stream
// or when what is there is not a whole page; AtEnd tells the two apart.
bool ReadPage(TStream& S, TBytes& Page, bool* AtEnd = nullptr)
{
    Page.resize(OggPageHeaderSize);
    const int64_t head = S.Read(Page.data(), OggPageHeaderSize);
    if (AtEnd)
        *AtEnd = head == 0;
    if (head != OggPageHeaderSize || std::memcmp(Page.data(), "OggS", 4) != 0 || Page[4] != 0)
        return false;
    const int segments = Page[OggSegmentCountAt];
    Page.resize(OggPageHeaderSize + segments);
    if (S.Read(Page.data() + OggPageHeaderSize, segments) != segments)
        return false;
    int64_t body = 0;
    for (int k = 0; k < segments; ++k)
        body += Page[OggPageHeaderSize + k];
    const size_t at = Page.size();
    Page.resize(at + static_cast<size_t>(body));
    return S.Read(Page.data() + at, body) == body;
}

bool IsHeader(const TBytes& Packet, uint8_t Type)
{
    return Packet.size() >= 7 && Packet[0] == Type && std::memcmp(Packet.data() + 1, "vorbis", 6) == 0;
}

// The stream's first pages up to the end of its three header packets, which
// must end a page (the audio starts on a page of its own); the first page
// holds the identification packet alone.
bool ReadHeaders(TStream& S, TBytes& FirstPage, std::vector<TBytes>& Packets, int& Pages, uint32_t& Serial)
{
    std::vector<TBytes>& packets = Packets;
    packets.assign(1, {});
    TBytes page;
    for (Pages = 0; packets.size() <= 3; ++Pages) {
        if (!ReadPage(S, page))
            return false;
        if (Pages == 0) {
            Serial = GetU32(page.data() + OggSerialAt);
            FirstPage = page;
        } else if (GetU32(page.data() + OggSerialAt) != Serial) {
            return false;
        }
        const int segments = page[OggSegmentCountAt];
        size_t at = OggPageHeaderSize + size_t(segments);
        for (int k = 0; k < segments; ++k) {
            if (packets.size() > 3)
                return false; // more than the headers on their last page
            const uint8_t v = page[OggPageHeaderSize + k];
            packets.back().insert(packets.back().end(), page.begin() + long(at), page.begin() + long(at + v));
            at += v;
            if (v < 255)
                packets.emplace_back();
        }
        if (Pages == 0 && packets.size() != 2)
            return false;
    }
    return IsHeader(packets[0], 1) && IsHeader(packets[1], 3) && IsHeader(packets[2], 5) && packets[3].empty();
}

// The entries of a comment packet; false when it is broken.
bool EntriesOf(const TBytes& Packet, std::vector<std::string>& Entries)
{
    if (Packet.size() < 11)
        return false;
    uint64_t at = 11 + uint64_t(GetU32(Packet.data() + 7));
    if (at + 4 > Packet.size())
        return false;
    const uint32_t count = GetU32(Packet.data() + at);
    at += 4;
    for (uint32_t k = 0; k < count; ++k) {
        if (at + 4 > Packet.size())
            return false;
        const uint64_t n = GetU32(Packet.data() + at);
        at += 4;
        if (n > Packet.size() - at)
            return false;
        Entries.emplace_back(Packet.begin() + long(at), Packet.begin() + long(at + n));
        at += n;
    }
    return true;
}

// The comment packet: the old one's vendor, then Comments.
bool BuildComment(const TBytes& Old, const std::vector<std::string>& Comments, TBytes& New)
{
    if (Old.size() < 11)
        return false;
    const uint64_t vendor = GetU32(Old.data() + 7);
    if (vendor > Old.size() - 11)
        return false;
    New.assign(Old.begin(), Old.begin() + long(11 + vendor));
    PutU32(New, static_cast<uint32_t>(Comments.size()));
    for (const std::string& c : Comments) {
        PutU32(New, static_cast<uint32_t>(c.size()));
        New.insert(New.end(), c.begin(), c.end());
    }
    New.push_back(1); // framing
    return true;
}

// The comment and set-up packets laid out on pages numbered from 1, the
// last page ending with the set-up packet.
std::vector<TBytes> LayOut(const TBytes& Comment, const TBytes& Setup, uint32_t Serial)
{
    struct TSegment {
        const uint8_t* Data;
        uint8_t Size;
        bool Ends; // the packet's last
    };
    std::vector<TSegment> segments;
    for (const TBytes* p : {&Comment, &Setup}) {
        size_t at = 0;
        for (;;) {
            const size_t n = std::min<size_t>(255, p->size() - at);
            segments.push_back({p->data() + at, static_cast<uint8_t>(n), n < 255});
            at += n;
            if (n < 255)
                break;
        }
    }
    std::vector<TBytes> pages;
    bool continued = false;
    for (size_t first = 0; first < segments.size();) {
        const size_t count = std::min<size_t>(255, segments.size() - first);
        bool ends = false;
        TBytes page(OggPageHeaderSize, 0);
        std::memcpy(page.data(), "OggS", 4);
        page[OggHeaderTypeAt] = continued ? 1 : 0;
        SetU32(page.data() + OggSerialAt, Serial);
        SetU32(page.data() + OggSequenceAt, static_cast<uint32_t>(pages.size() + 1));
        page[OggSegmentCountAt] = static_cast<uint8_t>(count);
        for (size_t k = first; k < first + count; ++k) {
            page.push_back(segments[k].Size);
            ends = ends || segments[k].Ends;
        }
        for (size_t k = first; k < first + count; ++k)
            page.insert(page.end(), segments[k].Data, segments[k].Data + segments[k].Size);
        // Header packets have granule 0; a page where none ends, -1.
        const uint64_t granule = ends ? 0 : ~uint64_t(0);
        SetU32(page.data() + OggGranuleAt, static_cast<uint32_t>(granule));
        SetU32(page.data() + OggGranuleAt + 4, static_cast<uint32_t>(granule >> 32));
        Seal(page);
        continued = !segments[first + count - 1].Ends;
        pages.push_back(std::move(page));
        first += count;
    }
    return pages;
}

// The rest of Source, page by page, each renumbered by Shift.
bool CopyRenumbered(TStream& Source, TStream& Target, int64_t Shift)
{
    TBytes page;
    for (;;) {
        bool atEnd = false;
        if (!ReadPage(Source, page, &atEnd))
            return atEnd;
        SetU32(page.data() + OggSequenceAt, static_cast<uint32_t>(GetU32(page.data() + OggSequenceAt) + Shift));
        Seal(page);
        Target.WriteBuffer(page.data(), static_cast<int64_t>(page.size()));
    }
}

void CopyRest(TStream& Source, TStream& Target)
{
    TBytes buf(CopyChunk);
    for (int64_t got; (got = Source.Read(buf.data(), CopyChunk)) > 0;)
        Target.WriteBuffer(buf.data(), got);
}

} // namespace

bool ReplaceVorbisComments(const std::string& File, const std::vector<std::string>& Comments,
                           std::shared_ptr<TTemporaryHold>* Hold)
{
    return EditVorbisComments(File, [&](const std::vector<std::string>&) { return Comments; }, Hold);
}

bool RemoveVorbisComment(const std::string& File, const std::string& Entry, std::shared_ptr<TTemporaryHold>* Hold)
{
    return EditVorbisComments(
        File,
        [&](std::vector<std::string> Entries) {
            std::erase(Entries, Entry);
            return Entries;
        },
        Hold);
}

bool EditVorbisComments(const std::string& File,
                        const std::function<std::vector<std::string>(std::vector<std::string>)>& Edit,
                        std::shared_ptr<TTemporaryHold>* Hold)
{
    std::string tempName;
    try {
        TFileStream source(File, TFileMode::fmOpenRead);
        struct stat st {};
        if (::fstat(source.Handle(), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
        TBytes first, comment;
        std::vector<TBytes> packets;
        int oldPages = 0;
        uint32_t serial = 0;
        std::vector<std::string> entries;
        if (!ReadHeaders(source, first, packets, oldPages, serial) || !EntriesOf(packets[1], entries) ||
            !BuildComment(packets[1], Edit(std::move(entries)), comment))
            return false;
        const std::vector<TBytes> pages = LayOut(comment, packets[2], serial);
        const int64_t shift = int64_t(1 + pages.size()) - oldPages;

        const std::unique_ptr<TFileStream> made = TFileStream::CreateTemporaryFor(File);
        TFileStream& temp = *made;
        tempName = temp.FileName();
        if (::fchmod(temp.Handle(), st.st_mode & 07777) != 0)
            throw EStreamError(TMotivo::ScritturaImpossibile, tempName);
        temp.WriteBuffer(first.data(), static_cast<int64_t>(first.size()));
        for (const TBytes& p : pages)
            temp.WriteBuffer(p.data(), static_cast<int64_t>(p.size()));
        if (shift == 0)
            CopyRest(source, temp);
        else if (!CopyRenumbered(source, temp, shift))
            throw EStreamError(TMotivo::DatiDanneggiati, File);
        temp.Flush();
        if (Hold)
            *Hold = std::make_shared<TTemporaryHold>(temp.Handle());
        if (std::rename(tempName.c_str(), File.c_str()) != 0)
            throw EStreamError(TMotivo::RinominaImpossibile, File);
    } catch (const std::exception&) {
        if (!tempName.empty())
            std::remove(tempName.c_str());
        if (Hold)
            Hold->reset();
        return false;
    }
    SyncFolderOf(File);
    return true;
}

} // namespace velmar
