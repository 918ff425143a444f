#include "vorbis/VelmarOggVorbis.h"

#include "platform/TempFiles.h"
#include "vorbis/OggPages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar {

namespace {

const std::array<const char*, 10> FieldNames = {
    "", "TITLE", "ARTIST", "ALBUM", "TRACKNUMBER", "DATE", "GENRE", "COMMENT", "PERFORMER", "DESCRIPTION"};
const std::array<const char*, 3> ModeNames = {"Sconosciuto", "Mono", "Stereo"};

constexpr int PageHeaderSize = OggPageHeaderSize;
constexpr int SegmentCountAt = OggSegmentCountAt;
constexpr int ChecksumAt = OggChecksumAt;
constexpr int MaxEntryBytes = 250;   // of each comment entry only these are looked at
constexpr int64_t CopyChunk = 1 << 16;

uint32_t GetU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutU32(std::vector<uint8_t>& B, uint32_t V)
{
    for (int i = 0; i < 4; ++i)
        B.push_back(static_cast<uint8_t>(V >> (8 * i)));
}

bool ReadU32(TStream& Stream, uint32_t& Value)
{
    uint8_t b[4];
    if (Stream.Read(b, 4) != 4)
        return false;
    Value = GetU32(b);
    return true;
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Strips control characters and blanks from both ends.
std::string Trim(const std::string& S)
{
    size_t b = 0, e = S.size();
    while (b < e && IsBlank(S[b]))
        ++b;
    while (e > b && IsBlank(S[e - 1]))
        --e;
    return S.substr(b, e - b);
}

std::string UpperAscii(std::string S)
{
    for (char& c : S)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return S;
}

// Nearest integer, halves to even (the default rounding mode).
double RoundHalfEven(double V) { return std::nearbyint(V); }

uint16_t ToU16Clamped(double V)
{
    if (!(V > 0))
        return 0;
    return V >= 65535.0 ? uint16_t(65535) : static_cast<uint16_t>(V);
}

} // namespace

TVelmarOggVorbis::TVelmarOggVorbis(TComponent* AOwner) : TComponent(AOwner) {}

void TVelmarOggVorbis::SetNomedelfile(const std::string& Value)
{
    FNomedelfile = Value;
    std::error_code ec;
    if (!Value.empty() && std::filesystem::exists(Value, ec))
        LoadInfo(Value);
}

void TVelmarOggVorbis::ClearInfo()
{
    FLunghezza = 0;
    FChannelModeID = 0;
    FSampleRate = 0;
    FBitRateNominal = 0;
    FSamples = 0;
    FID3v2Size = 0;
    FTraccia = 0;
    FTitolo.clear();
    FArtista.clear();
    FAlbum.clear();
    FAnno.clear();
    FGenere.clear();
    FCommento.clear();
    FVendor.clear();
    FTempoDelBranoStored = "00:00";
}

bool TVelmarOggVorbis::LoadInfo(const std::string& FileName)
{
    ClearInfo();
    TFileInfo info;
    if (!ParseOggVorbisFile(FileName, info))
        return false;
    const uint8_t* ident = info.IdentHeader.data();
    FLunghezza = static_cast<int32_t>(std::min<int64_t>(info.FileSize, std::numeric_limits<int32_t>::max()));
    FChannelModeID = ident[11];
    FSampleRate = static_cast<uint16_t>(GetU32(ident + 12));
    // The field is signed; zero or less means the header gives no nominal rate.
    const auto nominal = static_cast<int32_t>(GetU32(ident + 20));
    FBitRateNominal = ToU16Clamped(RoundHalfEven(nominal / 1000.0));
    FSamples = info.Samples;
    FID3v2Size = static_cast<int32_t>(info.ID3v2Size);

    const auto& t = info.Tag.Texts;
    FTitolo = t[1];
    FArtista = t[2].empty() ? t[8] : t[2];
    FAlbum = t[3];
    FTraccia = static_cast<uint8_t>(TrackNumberOf(t[4]));
    FAnno = t[5];
    FGenere = t[6];
    FCommento = t[7].empty() ? t[9] : t[7];
    FVendor = t[0];
    return true;
}

double TVelmarOggVorbis::Durata() const
{
    if (FSamples > 0)
        return FSampleRate == 0 ? 0.0 : double(FSamples) / FSampleRate;
    if (FBitRateNominal > 0 && FChannelModeID > 0)
        return double(int64_t(FLunghezza) - FID3v2Size) / FBitRateNominal / FChannelModeID / 125 * 2;
    return 0.0;
}

uint16_t TVelmarOggVorbis::BitRate() const
{
    const double d = Durata();
    if (!(d > 0))
        return 0;
    return ToU16Clamped(RoundHalfEven(double(int64_t(FLunghezza) - FID3v2Size) / d / 125));
}

std::string TVelmarOggVorbis::TempoDelBrano() const
{
    const double d = Durata();
    if (!(d > 0))
        return "00:00";
    const auto total = static_cast<int64_t>(RoundHalfEven(d));
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld", static_cast<long long>(total / 60),
                  static_cast<long long>(total % 60));
    return buf;
}

std::string TVelmarOggVorbis::Modo() const
{
    return FChannelModeID < ModeNames.size() ? ModeNames[FChannelModeID] : ModeNames[0];
}

bool TVelmarOggVorbis::Valido() const
{
    return (FChannelModeID == 1 || FChannelModeID == 2) && FSampleRate > 0 && Durata() > 0.1 &&
           BitRate() > 0;
}

// ---- Reading ------------------------------------------------------------

int64_t TVelmarOggVorbis::ReadID3v2Size(TStream& Stream)
{
    uint8_t b[10] = {};
    Stream.SetPosition(0);
    Stream.Read(b, 10);
    if (std::memcmp(b, "ID3", 3) != 0)
        return 0;
    int64_t size = int64_t(b[6]) * (1 << 21) + int64_t(b[7]) * (1 << 14) + int64_t(b[8]) * (1 << 7) + b[9] + 10;
    if (b[5] & 0x10) // footer present
        size += 10;
    return size > Stream.Size() ? 0 : size;
}

bool TVelmarOggVorbis::ParseOggVorbisFile(const std::string& FileName, TFileInfo& Info)
{
    TFileStream stream(FileName, TFileMode::fmOpenRead);
    return ParseOggVorbisStream(stream, Info);
}

bool TVelmarOggVorbis::ParseOggVorbisStream(TStream& Stream, TFileInfo& Info)
{
    Info.FileSize = Stream.Size();
    Info.ID3v2Size = ReadID3v2Size(Stream);

    Stream.SetPosition(Info.ID3v2Size);
    Stream.Read(Info.FirstPage.data(), Info.FirstPage.size());
    if (std::memcmp(Info.FirstPage.data(), "OggS", 4) != 0)
        return false;

    const int64_t identPos = Info.ID3v2Size + PageHeaderSize + Info.FirstPage[SegmentCountAt];
    Stream.SetPosition(identPos);
    const int64_t identRead = Stream.Read(Info.IdentHeader.data(), Info.IdentHeader.size());
    if (Info.IdentHeader[0] != 1 || std::memcmp(Info.IdentHeader.data() + 1, "vorbis", 6) != 0)
        return false;

    // The first page's body is taken to be exactly the identification packet.
    Info.SecondPagePos = identPos + identRead;
    Stream.SetPosition(Info.SecondPagePos);
    Stream.Read(Info.SecondPage.data(), Info.SecondPage.size());
    const int64_t signaturePos = Info.SecondPagePos + PageHeaderSize + Info.SecondPage[SegmentCountAt];
    Stream.SetPosition(signaturePos);
    auto& sig = Info.Tag.Signature;
    if (Stream.Read(sig.data(), sig.size()) == int64_t(sig.size()) && sig[0] == 3 &&
        std::memcmp(sig.data() + 1, "vorbis", 6) == 0) {
        Info.HasComments = true;
        ReadComments(Stream, Info);
    }

    Info.Samples = ReadTotalSamples(Stream, Info.FileSize);
    return true;
}

// Vendor string, count, then the comments; every length is checked against
// the end of the file before it moves the position.
void TVelmarOggVorbis::ReadComments(TStream& Stream, TFileInfo& Info)
{
    int64_t pos = Stream.Position();
    uint32_t count = 0;
    for (uint64_t i = 0;; ++i) {
        uint32_t len = 0;
        if (!ReadU32(Stream, len))
            break;
        const int64_t start = pos + 4;
        if (start + int64_t(len) > Info.FileSize)
            break;
        char buf[MaxEntryBytes] = {};
        Stream.Read(buf, std::min<int64_t>(len, MaxEntryBytes));
        StoreComment(Trim(std::string(buf, sizeof buf)), Info, i == 0);
        pos = start + len;
        Stream.SetPosition(pos);
        if (i == 0) {
            if (!ReadU32(Stream, count))
                break;
            Info.Tag.CommentCount = static_cast<int32_t>(count);
            pos += 4;
        }
        if (i + 1 > count) {
            Info.CommentsComplete = true;
            break;
        }
    }
    Info.CommentEndPos = pos;
}

// The vendor string is the first entry, whatever it holds; later entries
// count only as NAME=value.
void TVelmarOggVorbis::StoreComment(const std::string& Text, TFileInfo& Info, bool IsVendor)
{
    auto& texts = Info.Tag.Texts;
    if (IsVendor) {
        texts[0] = Text;
        return;
    }
    const size_t eq = Text.find('=');
    if (eq == std::string::npos)
        return;
    const std::string name = UpperAscii(Text.substr(0, eq));
    const std::string value = Utf8ToText(Trim(Text.substr(eq + 1)));
    for (size_t k = 1; k < FieldNames.size(); ++k)
        if (name == FieldNames[k])
            texts[k] = value;
}

// Looks for the last "OggS" in the final 12 060 bytes, in overlapping
// windows from the end backwards, never before the start of the file.
int32_t TVelmarOggVorbis::ReadTotalSamples(TStream& Stream, int64_t Size)
{
    constexpr int Stride = 241, Window = 251;
    uint8_t win[Window];
    for (int k = 1; k <= 50; ++k) {
        const int64_t start = Size - int64_t(Stride) * k - 10;
        const int64_t lo = std::max<int64_t>(start, 0);
        const int64_t hi = std::min<int64_t>(start + Window, Size);
        int64_t got = 0;
        if (hi > lo) {
            Stream.SetPosition(lo);
            got = Stream.Read(win, hi - lo);
        }
        for (int64_t pos = start + Stride; pos >= lo; --pos) {
            const int64_t off = pos - lo;
            if (off + 4 > got || std::memcmp(win + off, "OggS", 4) != 0)
                continue;
            uint8_t header[14] = {};
            Stream.SetPosition(pos);
            Stream.Read(header, sizeof header);
            return static_cast<int32_t>(GetU32(header + 6));
        }
        if (start <= 0)
            break;
    }
    return 0;
}

int TVelmarOggVorbis::TrackNumberOf(const std::string& Text)
{
    const std::string number = Text.substr(0, Text.find('/'));
    size_t i = 0;
    bool negative = false;
    if (i < number.size() && (number[i] == '+' || number[i] == '-'))
        negative = number[i++] == '-';
    if (i == number.size())
        return 0;
    int64_t value = 0;
    for (; i < number.size(); ++i) {
        if (number[i] < '0' || number[i] > '9')
            return 0;
        value = value * 10 + (number[i] - '0');
        if (value > int64_t(std::numeric_limits<int32_t>::max()) + 1)
            return 0;
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int32_t>::max())
        return 0;
    return static_cast<int>(value);
}

// Strings stay UTF-8. Only a sequence cut short at the end (by the
// 250-byte limit) is dropped, so no broken character is kept or written.
std::string TVelmarOggVorbis::Utf8ToText(const std::string& Bytes)
{
    size_t n = Bytes.size();
    size_t lead = n;
    for (size_t back = 0; back < 4 && lead > 0; ++back) {
        --lead;
        if ((static_cast<unsigned char>(Bytes[lead]) & 0xC0) != 0x80)
            break;
    }
    if (lead < n) {
        const auto c = static_cast<unsigned char>(Bytes[lead]);
        const size_t want = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (n - lead < want)
            n = lead;
    }
    return Bytes.substr(0, n);
}

std::string TVelmarOggVorbis::TextToUtf8(const std::string& Text) { return Text; }

// ---- Writing ------------------------------------------------------------

bool TVelmarOggVorbis::WriteTags(const std::string& FileName)
{
    TFileStream source(FileName, TFileMode::fmOpenRead);
    TFileInfo info;
    if (!ParseOggVorbisStream(source, info) || !LayoutAllowsRewrite(info))
        return false;
    FillTexts(info);
    const std::vector<uint8_t> data = BuildCommentData(info);
    std::fill_n(info.SecondPage.begin() + ChecksumAt, 4, uint8_t(0));
    if (!RebuildSegmentTable(info, static_cast<int64_t>(data.size())))
        return false;
    return RewriteWithComments(source, FileName, data, info);
}

// Only this layout can be rewritten in place of the second page: the first
// page's body is just the identification packet, and the comment header
// is read completely and ends, as the first packet, on the second page,
// which lies wholly in the file.
bool TVelmarOggVorbis::LayoutAllowsRewrite(const TFileInfo& Info)
{
    const int firstSegments = Info.FirstPage[SegmentCountAt];
    int64_t firstBody = 0;
    for (int k = 0; k < firstSegments; ++k)
        firstBody += Info.FirstPage[PageHeaderSize + k];
    if (Info.SecondPagePos != Info.ID3v2Size + PageHeaderSize + firstSegments + firstBody)
        return false;
    const auto& page = Info.SecondPage;
    if (std::memcmp(page.data(), "OggS", 4) != 0 || !Info.HasComments || !Info.CommentsComplete)
        return false;
    const int segments = page[SegmentCountAt];
    int64_t body = 0, packet = 0;
    bool packetEnds = false;
    for (int k = 0; k < segments; ++k) {
        const uint8_t v = page[PageHeaderSize + k];
        body += v;
        if (!packetEnds) {
            packet += v;
            packetEnds = v < 255;
        }
    }
    const int64_t bodyPos = Info.SecondPagePos + PageHeaderSize + segments;
    return packetEnds && bodyPos + body <= Info.FileSize && Info.CommentEndPos <= bodyPos + packet;
}

void TVelmarOggVorbis::FillTexts(TFileInfo& Info) const
{
    auto& t = Info.Tag.Texts;
    t[1] = Trim(FTitolo);
    t[2] = Trim(FArtista);
    t[3] = Trim(FAlbum);
    t[4] = FTraccia > 0 ? std::to_string(FTraccia) : std::string();
    t[5] = Trim(FAnno);
    t[6] = Trim(FGenere);
    t[7] = Trim(FCommento);
    t[8].clear();
    t[9].clear();
}

// Signature, vendor, count and NAME=value entries; no framing byte, the
// file's own one follows.
std::vector<uint8_t> TVelmarOggVorbis::BuildCommentData(const TFileInfo& Info)
{
    const auto& t = Info.Tag.Texts;
    std::vector<uint8_t> d(Info.Tag.Signature.begin(), Info.Tag.Signature.end());
    PutU32(d, static_cast<uint32_t>(t[0].size()));
    d.insert(d.end(), t[0].begin(), t[0].end());
    PutU32(d, static_cast<uint32_t>(std::count_if(t.begin() + 1, t.end(), [](auto& s) { return !s.empty(); })));
    for (size_t k = 1; k < t.size(); ++k) {
        if (t[k].empty())
            continue;
        const std::string entry = std::string(FieldNames[k]) + "=" + TextToUtf8(t[k]);
        PutU32(d, static_cast<uint32_t>(entry.size()));
        d.insert(d.end(), entry.begin(), entry.end());
    }
    return d;
}

// Replaces the lacing values of the comment packet (the first on the second
// page) for a packet whose comment data are NewSize bytes. False when the
// page would need more than 255 lacing values.
bool TVelmarOggVorbis::RebuildSegmentTable(TFileInfo& Info, int64_t NewSize)
{
    auto& page = Info.SecondPage;
    const int segments = page[SegmentCountAt];
    int j = 0; // lacing values of the old packet
    int64_t oldPacket = 0;
    while (j < segments) {
        const uint8_t v = page[PageHeaderSize + j++];
        oldPacket += v;
        if (v < 255)
            break;
    }
    const int64_t oldData = Info.CommentEndPos - Info.SecondPagePos - PageHeaderSize - segments;
    const int64_t packet = oldPacket + NewSize - oldData;
    const int64_t newSegments = packet / 255 + 1 + (segments - j);
    if (packet < 0 || newSegments > 255)
        return false;

    std::array<uint8_t, 255> lacing{};
    size_t n = 0;
    for (int64_t k = 0; k < packet / 255; ++k)
        lacing[n++] = 255;
    lacing[n++] = static_cast<uint8_t>(packet % 255);
    for (int k = j; k < segments; ++k)
        lacing[n++] = page[PageHeaderSize + k];
    std::copy_n(lacing.begin(), n, page.begin() + PageHeaderSize);
    page[SegmentCountAt] = static_cast<uint8_t>(n);
    return true;
}

void TVelmarOggVorbis::Step(TRewriteStep AStep)
{
    if (FRewriteHook && !FRewriteHook(AStep))
        throw EStreamError("Rewrite step failed");
}

void TVelmarOggVorbis::WriteToTemp(TStream& Temp, const void* Buffer, int64_t Count)
{
    Step(TRewriteStep::rsWrite);
    Temp.WriteBuffer(Buffer, Count);
}

// Count < 0 copies to the end of Source.
void TVelmarOggVorbis::CopyToTemp(TStream& Source, TStream& Temp, int64_t From, int64_t Count)
{
    std::vector<uint8_t> buf(CopyChunk);
    Source.SetPosition(From);
    while (Count != 0) {
        const int64_t want = Count < 0 ? CopyChunk : std::min(Count, CopyChunk);
        const int64_t got = Source.Read(buf.data(), want);
        if (got == 0 && Count < 0)
            return;
        if (got != want && Count > 0)
            throw EStreamError("Stream read error");
        WriteToTemp(Temp, buf.data(), got);
        if (Count > 0)
            Count -= got;
    }
}

// Writes the copy next to the file and renames it over the file, so that at
// every moment one complete version exists under the name.
bool TVelmarOggVorbis::RewriteWithComments(TFileStream& Source, const std::string& FileName,
                                           const std::vector<uint8_t>& Data, TFileInfo& Info)
{
    struct stat st {};
    if (::fstat(Source.Handle(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    std::string tempName;
    try {
        {
            Step(TRewriteStep::rsCreateTemp);
            const std::unique_ptr<TFileStream> made = TFileStream::CreateTemporaryFor(FileName);
            TFileStream& temp = *made;
            tempName = temp.FileName();
            // Keep the owner where allowed: only a privileged caller may give a file away.
            const bool ownerKept = ::fchown(temp.Handle(), st.st_uid, st.st_gid) == 0;
            (void)ownerKept;
            if (::fchmod(temp.Handle(), st.st_mode & 07777) != 0)
                throw EStreamError("Cannot set the permissions of \"" + tempName + "\"");
            CopyToTemp(Source, temp, 0, Info.SecondPagePos);
            WriteToTemp(temp, Info.SecondPage.data(), PageHeaderSize + Info.SecondPage[SegmentCountAt]);
            WriteToTemp(temp, Data.data(), static_cast<int64_t>(Data.size()));
            CopyToTemp(Source, temp, Info.CommentEndPos, -1);
            UpdatePageChecksum(temp, Info);
            Step(TRewriteStep::rsFlush);
            temp.Flush();
        }
        Step(TRewriteStep::rsRename);
        if (::rename(tempName.c_str(), FileName.c_str()) != 0)
            throw EStreamError("Cannot rename \"" + tempName + "\"");
    } catch (const std::exception&) {
        if (!tempName.empty())
            ::unlink(tempName.c_str());
        return false;
    }
    SyncFolderOf(FileName);
    return true;
}

void TVelmarOggVorbis::UpdatePageChecksum(TStream& Stream, const TFileInfo& Info)
{
    const auto& page = Info.SecondPage;
    const int segments = page[SegmentCountAt];
    uint32_t checksum = OggChecksumUpdate(0, page.data(), size_t(PageHeaderSize + segments));
    uint8_t buf[255];
    Stream.SetPosition(Info.SecondPagePos + PageHeaderSize + segments);
    for (int k = 0; k < segments; ++k) {
        const uint8_t v = page[PageHeaderSize + k];
        Stream.ReadBuffer(buf, v);
        checksum = OggChecksumUpdate(checksum, buf, v);
    }
    std::vector<uint8_t> le;
    PutU32(le, checksum);
    Stream.SetPosition(Info.SecondPagePos + ChecksumAt);
    WriteToTemp(Stream, le.data(), 4);
}

} // namespace velmar
