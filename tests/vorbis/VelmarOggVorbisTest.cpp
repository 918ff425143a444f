#include "vorbis/VelmarOggVorbis.h"

#include "TestSupport.h"
#include "VelmarOggVorbisTestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmar;
using namespace testing_support;
using namespace oggvorbis_test;

namespace {

const std::string Marker = "Codificato con Velmar Fennick";
const std::string TestVendor = "Velmar test";

class OggVorbisInfo : public ::testing::Test {
protected:
    TempDir dir;
    std::string Put(const Bytes& B, const std::string& Name = "a.ogg")
    {
        std::string path = dir.File(Name);
        WriteBytes(path, B);
        return path;
    }
    // The hidden files in the folder: a rewrite's temporary files.
    std::vector<std::string> Hidden()
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            if (e.path().filename().string()[0] == '.')
                names.push_back(e.path().filename().string());
        return names;
    }
};

// A stream whose comment header is exactly the given entries, behind a known vendor.
Bytes WithComments(const std::vector<std::string>& Entries)
{
    SineFile f;
    f.commentPacket = CommentPacket(TestVendor, Entries);
    return EncodeSine(f);
}

Bytes Le32(uint32_t V) { return {uint8_t(V), uint8_t(V >> 8), uint8_t(V >> 16), uint8_t(V >> 24)}; }

// Identification page, zeros up to Total bytes (when larger), then a last page with Granule.
Bytes CraftedStream(uint32_t Rate, uint8_t Channels, int32_t Nominal, std::optional<int64_t> Granule,
                    size_t Total = 0)
{
    Bytes out = BuildPages({{IdentPacket(Rate, Channels, Nominal)}});
    Bytes last;
    if (Granule) {
        Bytes both = BuildPages({{IdentPacket(Rate, Channels, Nominal)}, {Bytes(12, 0x55), *Granule, true}});
        last.assign(both.begin() + long(out.size()), both.end());
    }
    if (Total > out.size() + last.size())
        out.resize(Total - last.size(), 0);
    out.insert(out.end(), last.begin(), last.end());
    return out;
}

} // namespace

// ---- Reading the comment fields ------------------------------------------

struct FieldCase {
    const char* name;
    std::vector<std::string> comments;
    std::string titolo{}, artista{}, album{}, anno{}, genere{}, commento{};
    uint16_t traccia = 0;
};

TEST_F(OggVorbisInfo, ReadsCommentFields)
{
    const std::string a294(294, 'a'), a244(244, 'a'), a243(243, 'a');
    const std::vector<FieldCase> cases = {
        {.name = "later TITLE replaces earlier, names in any case", .comments = {"TITLE=x", "title=y"}, .titolo = "y"},
        {.name = "PERFORMER stands in for ARTIST", .comments = {"PERFORMER=P"}, .artista = "P"},
        {.name = "ARTIST wins over PERFORMER", .comments = {"ARTIST=A", "PERFORMER=P"}, .artista = "A"},
        {.name = "DESCRIPTION stands in for COMMENT", .comments = {"DESCRIPTION=D"}, .commento = "D"},
        {.name = "COMMENT wins over DESCRIPTION", .comments = {"DESCRIPTION=D", "COMMENT=C"}, .commento = "C"},
        {.name = "track 7/12", .comments = {"TRACKNUMBER=7/12"}, .traccia = 7},
        {.name = "track 300 keeps its low 8 bits", .comments = {"TRACKNUMBER=300"}, .traccia = 44},
        {.name = "track that is no number", .comments = {"TRACKNUMBER=7a"}, .traccia = 0},
        {.name = "blanks around values go, other names are ignored",
         .comments = {"ALBUM=  a b  ", "DATE=2024", "GENRE=Jazz", "ENCODER=x"},
         .album = "a b", .anno = "2024", .genere = "Jazz"},
        {.name = "300-byte comment read as its first 250 bytes", .comments = {"TITLE=" + a294}, .titolo = a244},
        {.name = "a character cut by the 250-byte limit is dropped",
         .comments = {"TITLE=" + a243 + "\xC3\xA9"}, .titolo = a243},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SineFile f;
        f.comments = c.comments;
        std::string path = Put(EncodeSine(f));
        TVelmarOggVorbis ogg;
        ASSERT_TRUE(ogg.LoadInfo(path));
        EXPECT_EQ(ogg.Titolo(), c.titolo);
        EXPECT_EQ(ogg.Artista(), c.artista);
        EXPECT_EQ(ogg.Album(), c.album);
        EXPECT_EQ(ogg.Anno(), c.anno);
        EXPECT_EQ(ogg.Genere(), c.genere);
        EXPECT_EQ(ogg.Commento(), c.commento);
        EXPECT_EQ(ogg.Traccia(), c.traccia);
        EXPECT_EQ(ogg.Vendor(), DecodeOgg(path).vendor);
    }
}

// ---- Technical values and the computed properties ------------------------

struct TimeCase {
    const char* name;
    uint32_t rate;
    uint8_t channels;
    int32_t nominal;
    std::optional<int64_t> granule;
    size_t total;  // bytes of Ogg data, padded with zeros before the last page
    size_t id3;    // ID3v2 body bytes in front (0: none)
    double durata;
    const char* tempo;
    uint16_t bitRate, bitRateNominal;
    const char* modo;
    bool valido;
};

TEST_F(OggVorbisInfo, DurationBitRateAndMode)
{
    const std::vector<TimeCase> cases = {
        {"samples ten times the rate", 8000, 1, 0, 80000, 12500, 0, 10.0, "00:10", 10, 0, "Mono", true},
        {"65.4 s in a file shorter than 251 bytes", 10000, 2, 0, 654000, 0, 0, 65.4, "01:05", 0, 0, "Stereo", false},
        {"minutes past 59", 8000, 2, 0, 29800000, 0, 0, 3725.0, "62:05", 0, 0, "Stereo", false},
        {"2.5 s rounds to even", 10, 1, 0, 25, 0, 0, 2.5, "00:02", 0, 0, "Mono", false},
        {"3.5 s rounds to even", 10, 1, 0, 35, 0, 0, 3.5, "00:04", 0, 0, "Mono", false},
        // No page in the last 12 060 bytes: estimate from the nominal rate.
        {"estimate from the nominal rate", 44100, 2, 128000, std::nullopt, 160000, 90, 10.0, "00:10", 128, 128,
         "Stereo", true},
        {"nominal 127.5 kbit/s rounds to even", 44100, 2, 127500, std::nullopt, 160000, 0, 10.0, "00:10", 128, 128,
         "Stereo", true},
        {"nominal 128.5 kbit/s rounds to even", 44100, 2, 128500, std::nullopt, 160000, 0, 10.0, "00:10", 128, 128,
         "Stereo", true},
        {"negative nominal rate means none", 44100, 2, -1000000, std::nullopt, 160000, 0, 0, "00:00", 0, 0,
         "Stereo", false},
        {"nothing to go by", 44100, 1, 0, std::nullopt, 0, 0, 0, "00:00", 0, 0, "Mono", false},
        {"six channels", 8000, 6, 0, 80000, 12500, 0, 10.0, "00:10", 10, 0, "Sconosciuto", false},
        {"no channels", 8000, 0, 0, 80000, 12500, 0, 10.0, "00:10", 10, 0, "Sconosciuto", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = c.id3 ? Id3v2Tag(c.id3, false) : Bytes{};
        Bytes ogg = CraftedStream(c.rate, c.channels, c.nominal, c.granule, c.total);
        file.insert(file.end(), ogg.begin(), ogg.end());
        if (std::string(c.name).find("251") != std::string::npos) {
            ASSERT_LT(file.size(), 251u);
        }
        TVelmarOggVorbis info;
        ASSERT_TRUE(info.LoadInfo(Put(file)));
        EXPECT_EQ(info.Lunghezza(), int32_t(file.size()));
        EXPECT_EQ(info.ID3v2(), c.id3 > 0);
        EXPECT_DOUBLE_EQ(info.Durata(), c.durata);
        EXPECT_EQ(info.TempoDelBrano(), c.tempo);
        EXPECT_EQ(info.BitRate(), c.bitRate);
        EXPECT_EQ(info.BitRateNominal(), c.bitRateNominal);
        EXPECT_EQ(info.Modo(), c.modo);
        EXPECT_EQ(info.ChannelModeID(), c.channels);
        EXPECT_EQ(info.Valido(), c.valido);
        // Values assigned to computed properties never show.
        info.SetDurata(99);
        info.SetTempoDelBrano("99:99");
        info.SetModo("x");
        info.SetBitRate(999);
        EXPECT_DOUBLE_EQ(info.Durata(), c.durata);
        EXPECT_EQ(info.TempoDelBrano(), c.tempo);
        EXPECT_EQ(info.Modo(), c.modo);
        EXPECT_EQ(info.BitRate(), c.bitRate);
    }
}

TEST_F(OggVorbisInfo, EncodedFileAgreesWithLibvorbisfile)
{
    SineFile f;
    f.seconds = 10.0;
    f.comments = {"TITLE=t"};
    std::string path = Put(EncodeSine(f));
    DecodedOgg ref = DecodeOgg(path);
    ASSERT_TRUE(ref.ok);
    TVelmarOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadInfo(path));
    EXPECT_EQ(ogg.Samples(), ref.pcmTotal);
    EXPECT_EQ(ogg.SampleRate(), ref.rate);
    EXPECT_EQ(ogg.ChannelModeID(), ref.channels);
    EXPECT_DOUBLE_EQ(ogg.Durata(), 10.0);
    EXPECT_EQ(ogg.TempoDelBrano(), "00:10");
    EXPECT_TRUE(ogg.Valido());
    EXPECT_EQ(ogg.Vendor(), ref.vendor);
}

// ---- Writing the comment header ------------------------------------------

struct WriteCase {
    const char* name;
    std::vector<std::string> fileComments;
    std::function<void(TVelmarOggVorbis&)> change;
    std::vector<std::string> expected;
};

TEST_F(OggVorbisInfo, WriteTagsRewritesTheFieldsAndKeepsTheAudio)
{
    const std::string a294(294, 'a'), a244(244, 'a');
    const auto none = [](TVelmarOggVorbis&) {};
    const std::vector<WriteCase> cases = {
        {"PERFORMER becomes ARTIST, other comments go", {"PERFORMER=P", "ENCODER=e", "TITLE=t"}, none,
         {"TITLE=t", "ARTIST=P"}},
        {"DESCRIPTION becomes COMMENT", {"DESCRIPTION=D"}, none, {"COMMENT=D"}},
        {"track 7/12 written as 7", {"TRACKNUMBER=7/12"}, none, {"TRACKNUMBER=7"}},
        {"track 0 writes no TRACKNUMBER", {"TRACKNUMBER=5"}, [](auto& o) { o.SetTraccia(0); }, {}},
        {"300-byte comment written back shortened", {"TITLE=" + a294}, none, {"TITLE=" + a244}},
        {"every field in order, blanks stripped", {"COMMENT=old"},
         [](auto& o) {
             o.SetTitolo("  T ");
             o.SetArtista("A");
             o.SetAlbum("B");
             o.SetTraccia(12);
             o.SetAnno("2024");
             o.SetGenere("G");
             o.SetCommento(Marker);
         },
         {"TITLE=T", "ARTIST=A", "ALBUM=B", "TRACKNUMBER=12", "DATE=2024", "GENRE=G", "COMMENT=" + Marker}},
        {"UTF-8 text kept", {}, [](auto& o) { o.SetTitolo("Perché così"); }, {"TITLE=Perché così"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SineFile f;
        f.comments = c.fileComments;
        std::string path = Put(EncodeSine(f));
        DecodedOgg before = DecodeOgg(path);
        ASSERT_TRUE(before.ok);

        TVelmarOggVorbis ogg;
        ASSERT_TRUE(ogg.LoadInfo(path));
        c.change(ogg);
        ASSERT_TRUE(ogg.WriteTags(path));

        DecodedOgg after = DecodeOgg(path);
        ASSERT_TRUE(after.ok);
        EXPECT_EQ(after.comments, c.expected);
        EXPECT_EQ(after.vendor, before.vendor);
        EXPECT_EQ(after.pcmTotal, before.pcmTotal);
        EXPECT_TRUE(after.pcm == before.pcm);
        EXPECT_TRUE(ScanOggPages(path).ok);
        EXPECT_EQ(Hidden(), std::vector<std::string>{});
    }
}

TEST_F(OggVorbisInfo, TaggingAsTheProgramDoes)
{
    std::string path = Put(EncodeSine({}));
    TVelmarOggVorbis ogg;
    ogg.SetNomedelfile(path);
    EXPECT_TRUE(ogg.Valido());
    ogg.SetCommento(Marker);
    ASSERT_TRUE(ogg.WriteTags(path));
    EXPECT_EQ(DecodeOgg(path).comments, std::vector<std::string>{"COMMENT=" + Marker});

    // WriteTags leaves the properties; writing the same name again reloads.
    ogg.SetCommento("");
    ogg.SetNomedelfile(path);
    EXPECT_EQ(ogg.Commento(), Marker);
}

// The first entry is the vendor string whatever it holds.
TEST_F(OggVorbisInfo, VendorWithEqualsSignIsReadAndKept)
{
    SineFile f;
    f.commentPacket = CommentPacket("enc=1", {"TITLE=t"});
    std::string path = Put(EncodeSine(f));
    TVelmarOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadInfo(path));
    EXPECT_EQ(ogg.Vendor(), "enc=1");
    EXPECT_EQ(ogg.Titolo(), "t");
    ASSERT_TRUE(ogg.WriteTags(path));
    DecodedOgg after = DecodeOgg(path);
    EXPECT_EQ(after.vendor, "enc=1");
    EXPECT_EQ(after.comments, std::vector<std::string>{"TITLE=t"});
}

// The comment packet is 26 + vendor + title bytes long here; the title length
// decides whether a change moves it across a lacing-value boundary.
struct GrowthCase {
    const char* name;
    int packetMod255; // old comment packet size mod 255
    int newTitleLength; // -1: no title afterwards
    int addedLacing;
};

TEST_F(OggVorbisInfo, GrowthMovesOnlyTheSecondPage)
{
    const std::vector<GrowthCase> cases = {
        {"grows 20 bytes within the lacing values", 100, 20, 0},
        {"grows 20 bytes across a lacing value", 240, 20, 1},
        {"shrinks by dropping the title", 100, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int fixed = 26 + int(TestVendor.size());
        const int oldTitle = ((c.packetMod255 - fixed) % 255 + 255) % 255;
        const int newTitle = c.newTitleLength < 0 ? -1 : oldTitle + c.newTitleLength;
        std::string path = Put(WithComments({"TITLE=" + std::string(size_t(oldTitle), 't')}));
        const Bytes old = ReadBytes(path);
        const auto oldPages = ListPages(old);
        ASSERT_GE(oldPages.size(), 3u);
        int oldPacket = 0;
        for (uint8_t v : oldPages[1].lacing) {
            oldPacket += v;
            if (v < 255)
                break;
        }
        ASSERT_EQ(oldPacket, fixed + oldTitle);
        ASSERT_EQ(oldPacket % 255, c.packetMod255);

        TVelmarOggVorbis ogg;
        ASSERT_TRUE(ogg.LoadInfo(path));
        ogg.SetTitolo(newTitle < 0 ? "" : std::string(size_t(newTitle), 't'));
        ASSERT_TRUE(ogg.WriteTags(path));

        const Bytes now = ReadBytes(path);
        const auto pages = ListPages(now);
        ASSERT_EQ(pages.size(), oldPages.size());
        const long dataGrowth = newTitle < 0 ? -(4 + 6 + oldTitle) : newTitle - oldTitle;
        const long lacingGrowth = long(pages[1].lacing.size()) - long(oldPages[1].lacing.size());
        EXPECT_EQ(lacingGrowth, c.addedLacing);
        EXPECT_EQ(long(now.size()) - long(old.size()), dataGrowth + lacingGrowth);
        // Pages before and after the second are byte for byte the same.
        EXPECT_TRUE(std::equal(old.begin(), old.begin() + long(oldPages[1].offset), now.begin()));
        EXPECT_TRUE(std::equal(old.begin() + long(oldPages[2].offset), old.end(),
                               now.begin() + long(pages[2].offset), now.end()));
        // So is the second page's header up to its checksum.
        EXPECT_TRUE(std::equal(old.begin() + long(oldPages[1].offset), old.begin() + long(oldPages[1].offset + 22),
                               now.begin() + long(pages[1].offset)));
        EXPECT_TRUE(ScanOggPages(path).ok); // libogg verifies every checksum
        EXPECT_TRUE(DecodeOgg(path).ok);
    }
}

TEST_F(OggVorbisInfo, Id3v2TagIsCopiedUnchanged)
{
    for (bool footer : {false, true}) {
        SCOPED_TRACE(footer ? "with footer" : "without footer");
        const Bytes tag = Id3v2Tag(300, footer);
        SineFile f;
        f.prefix = tag;
        f.comments = {"TITLE=t"};
        std::string path = Put(EncodeSine(f));

        TVelmarOggVorbis ogg;
        ASSERT_TRUE(ogg.LoadInfo(path));
        EXPECT_TRUE(ogg.ID3v2());
        EXPECT_EQ(ogg.ID3v2Size(), int32_t(tag.size()));
        EXPECT_EQ(ogg.Titolo(), "t");
        ogg.SetCommento(Marker);
        ASSERT_TRUE(ogg.WriteTags(path));

        const Bytes now = ReadBytes(path);
        ASSERT_GT(now.size(), tag.size());
        EXPECT_TRUE(std::equal(tag.begin(), tag.end(), now.begin()));
        std::string stream = Put(Bytes(now.begin() + long(tag.size()), now.end()), "stream.ogg");
        EXPECT_TRUE(ScanOggPages(stream).ok);
        EXPECT_EQ(DecodeOgg(stream).comments, (std::vector<std::string>{"TITLE=t", "COMMENT=" + Marker}));
    }
}

// ---- Files it must not rewrite -------------------------------------------

TEST_F(OggVorbisInfo, RefusesWhatTheSecondPageCannotHold)
{
    std::string path = Put(WithComments({}));
    const Bytes original = ReadBytes(path);
    const auto page = ListPages(original)[1];
    ASSERT_EQ(page.lacing[0], 16 + TestVendor.size()); // comment packet in one lacing value
    const int rest = int(page.lacing.size()) - 1;       // the setup header's lacing values
    // New packet: signature 7, vendor 4 + V, count 4, entry 4 + "COMMENT=" + n, framing 1.
    const int maxPacket = 255 * (255 - rest) - 1;
    const int maxText = maxPacket - (7 + 4 + int(TestVendor.size()) + 4 + 4 + 8 + 1);

    for (int extra : {0, 1}) {
        SCOPED_TRACE(extra ? "one byte too many" : "exactly 255 lacing values");
        WriteBytes(path, original);
        TVelmarOggVorbis ogg;
        ogg.SetCommento(std::string(size_t(maxText + extra), 'c'));
        if (extra) {
            EXPECT_FALSE(ogg.WriteTags(path));
            EXPECT_EQ(ReadBytes(path), original);
        } else {
            ASSERT_TRUE(ogg.WriteTags(path));
            EXPECT_EQ(ListPages(ReadBytes(path))[1].lacing.size(), 255u);
            EXPECT_EQ(DecodeOgg(path).comments, std::vector<std::string>{"COMMENT=" + std::string(size_t(maxText), 'c')});
        }
        EXPECT_EQ(Hidden(), std::vector<std::string>{});
    }
}

struct SpanCase {
    const char* name;
    std::vector<std::string> entries;
    std::string title; // the last entry's value, read when the reading stays whole
};

TEST_F(OggVorbisInfo, RefusesACommentHeaderSpanningPages)
{
    // 27 + vendor + 270 * 240 + 198 = 65 025 bytes: 255 lacing values of 255,
    // the closing 0 on the next page.
    std::vector<std::string> fill(270, "X=" + std::string(234, 'x'));
    fill.push_back("TITLE=" + std::string(188, 't'));
    std::vector<std::string> many(300, "X=" + std::string(238, 'x'));
    many.push_back("TITLE=t");
    const std::vector<SpanCase> cases = {
        {"longer than a page", many, ""},
        {"fills the page exactly, ends on the next", fill, std::string(188, 't')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = Put(WithComments(c.entries));
        const Bytes original = ReadBytes(path);
        const auto pages = ListPages(original);
        ASSERT_GE(pages.size(), 3u);
        ASSERT_EQ(pages[1].lacing.size(), 255u);
        ASSERT_TRUE(std::all_of(pages[1].lacing.begin(), pages[1].lacing.end(), [](uint8_t v) { return v == 255; }));
        ASSERT_EQ(original[pages[2].offset + 5] & 1, 1); // continued packet

        TVelmarOggVorbis ogg;
        EXPECT_TRUE(ogg.LoadInfo(path));
        if (!c.title.empty()) {
            EXPECT_EQ(ogg.Titolo(), c.title);
        }
        ogg.SetCommento(Marker);
        EXPECT_FALSE(ogg.WriteTags(path));
        EXPECT_EQ(ReadBytes(path), original);
        EXPECT_EQ(Hidden(), std::vector<std::string>{});
    }
}

// The first page carries a second packet that looks like a comment page: it
// is read as a comment page, but not rewritten.
TEST_F(OggVorbisInfo, RefusesAFirstPageWithMoreThanTheIdentificationPacket)
{
    SineFile decoy;
    decoy.commentPacket = CommentPacket(TestVendor, {"TITLE=decoy"});
    const Bytes decoyFile = EncodeSine(decoy);
    const auto decoyPages = ListPages(decoyFile);
    const Bytes fakePage(decoyFile.begin() + long(decoyPages[1].offset), decoyFile.begin() + long(decoyPages[1].End()));

    const Bytes real = WithComments({"TITLE=real"});
    const auto pages = ListPages(real);
    const Bytes ident(real.begin() + long(pages[0].headerSize), real.begin() + long(pages[0].End()));
    Bytes file = RawPage(2, 0, uint32_t(real[14] | real[15] << 8 | real[16] << 16 | real[17] << 24), 0,
                         {ident, fakePage});
    file.insert(file.end(), real.begin() + long(pages[1].offset), real.end());
    std::string path = Put(file);

    TVelmarOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadInfo(path));
    EXPECT_EQ(ogg.Titolo(), "decoy");
    ogg.SetCommento(Marker);
    EXPECT_FALSE(ogg.WriteTags(path));
    EXPECT_EQ(ReadBytes(path), file);
}

TEST_F(OggVorbisInfo, RefusesPagesThatDoNotHoldTogether)
{
    const Bytes ident = IdentPacket(8000, 1, 0);
    // The count promises an entry that lies in the next packet.
    Bytes shortPacket = CommentPacket(TestVendor, {"TITLE=t"}, 2, false);
    const Bytes nextPacket{3, 0, 0, 0, 'A', '=', 'b', 1, 5, 'v', 'o', 'r', 'b', 'i', 's'};
    Bytes pastPacket = RawPage(2, 0, 9, 0, {ident});
    for (const Bytes& page : {RawPage(0, 0, 9, 1, {shortPacket, nextPacket}), RawPage(4, 4000, 9, 2, {Bytes(40, 7)})})
        pastPacket.insert(pastPacket.end(), page.begin(), page.end());

    Bytes cut = WithComments({"TITLE=t"});
    const auto pages = ListPages(cut);
    cut.resize(pages[1].offset + pages[1].headerSize + pages[1].lacing[0] + 10);

    for (const auto& [name, bytes] : std::vector<std::pair<const char*, Bytes>>{
             {"comments run past their packet", pastPacket}, {"second page cut short", cut}}) {
        SCOPED_TRACE(name);
        std::string path = Put(bytes);
        TVelmarOggVorbis ogg;
        ASSERT_TRUE(ogg.LoadInfo(path));
        EXPECT_EQ(ogg.Titolo(), "t");
        ogg.SetCommento(Marker);
        EXPECT_FALSE(ogg.WriteTags(path));
        EXPECT_EQ(ReadBytes(path), bytes);
        EXPECT_EQ(Hidden(), std::vector<std::string>{});
    }
}

struct BrokenCommentsCase {
    const char* name;
    Bytes packet;
};

// Counts and lengths that run past the data: the reading stops inside the
// file, keeps what it read, and a rewrite is refused.
TEST_F(OggVorbisInfo, BoundedReadingOfBrokenCommentHeaders)
{
    Bytes pastEnd = CommentPacket(TestVendor, {"TITLE=t"}, 2, false);
    for (uint8_t b : Le32(0x7FFFFFF0))
        pastEnd.push_back(b);
    const std::vector<BrokenCommentsCase> cases = {
        {"count far above the entries", CommentPacket(TestVendor, {"TITLE=t"}, 0xFFFFFFFFu)},
        {"count with the top bit set", CommentPacket(TestVendor, {"TITLE=t"}, 0x80000000u)},
        {"count above the entries", CommentPacket(TestVendor, {"TITLE=t"}, 2000000)},
        {"length beyond the end of the file", pastEnd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SineFile f;
        f.commentPacket = c.packet;
        std::string path = Put(EncodeSine(f));
        const Bytes original = ReadBytes(path);
        TVelmarOggVorbis ogg;
        ASSERT_TRUE(ogg.LoadInfo(path));
        EXPECT_EQ(ogg.Titolo(), "t");
        EXPECT_EQ(ogg.Vendor(), TestVendor);
        EXPECT_GT(ogg.Samples(), 0);
        EXPECT_FALSE(ogg.WriteTags(path));
        EXPECT_EQ(ReadBytes(path), original);
    }
}

TEST_F(OggVorbisInfo, NotOggVorbisLoadsNothingAndIsNotWritten)
{
    TVelmarOggVorbis ogg;
    SineFile good;
    good.comments = {"TITLE=t", "COMMENT=c"};
    ASSERT_TRUE(ogg.LoadInfo(Put(EncodeSine(good), "good.ogg")));

    Bytes notVorbis = BuildPages({{Bytes{0x80, 't', 'h', 'e', 'o', 'r', 'a', 0, 0, 0}}});
    const std::vector<std::pair<const char*, Bytes>> files = {
        {"a WAVE file", MakeWav16(Sine(800, 8000, {440.0}), 1, 8000)},
        {"an Ogg stream of another codec", notVorbis},
        {"an empty file", {}},
        {"a lone capture pattern", {'O', 'g', 'g', 'S'}},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        std::string path = Put(bytes);
        EXPECT_FALSE(ogg.LoadInfo(path));
        EXPECT_EQ(ogg.Titolo(), "");
        EXPECT_EQ(ogg.Commento(), "");
        EXPECT_EQ(ogg.Lunghezza(), 0);
        EXPECT_EQ(ogg.ChannelModeID(), 0);
        EXPECT_EQ(ogg.TempoDelBrano(), "00:00");
        EXPECT_FALSE(ogg.Valido());
        ogg.SetCommento(Marker);
        EXPECT_FALSE(ogg.WriteTags(path));
        EXPECT_EQ(ReadBytes(path), bytes);
        EXPECT_EQ(Hidden(), std::vector<std::string>{});
    }
}

TEST_F(OggVorbisInfo, MissingCommentHeaderKeepsTechnicalValuesAndIsNotWritten)
{
    Bytes bytes = BuildPages({{IdentPacket(8000, 2, 64000)},
                              {Bytes{5, 'v', 'o', 'r', 'b', 'i', 's', 0, 0, 0}},
                              {Bytes(20, 0x11), 8000, true}});
    std::string path = Put(bytes);
    TVelmarOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadInfo(path));
    EXPECT_EQ(ogg.ChannelModeID(), 2);
    EXPECT_EQ(ogg.SampleRate(), 8000);
    EXPECT_EQ(ogg.BitRateNominal(), 64);
    EXPECT_EQ(ogg.Samples(), 8000);
    EXPECT_EQ(ogg.Vendor(), "");
    ogg.SetCommento(Marker);
    EXPECT_FALSE(ogg.WriteTags(path));
    EXPECT_EQ(ReadBytes(path), bytes);
}

// ---- Never losing the file -----------------------------------------------

using Step = TVelmarOggVorbis::TRewriteStep;

struct FailureCase {
    const char* name;
    Step step;
    int occurrence; // fail the n-th call of that step
};

TEST_F(OggVorbisInfo, AFailingStepLeavesTheOriginalIntact)
{
    const std::vector<FailureCase> cases = {
        {"temporary file not creatable", Step::rsCreateTemp, 1},
        {"first write fails", Step::rsWrite, 1},
        {"a later write fails", Step::rsWrite, 4},
        {"flush fails", Step::rsFlush, 1},
        {"rename fails", Step::rsRename, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = Put(EncodeSine({}));
        const Bytes original = ReadBytes(path);
        TVelmarOggVorbis ogg;
        ogg.SetCommento(Marker);
        int seen = 0;
        ogg.SetRewriteHook([&](Step s) {
            if (s != c.step)
                return true;
            return ++seen != c.occurrence;
        });
        EXPECT_FALSE(ogg.WriteTags(path));
        EXPECT_EQ(seen, c.occurrence); // the failure was really injected
        EXPECT_EQ(ReadBytes(path), original);
        EXPECT_EQ(Hidden(), std::vector<std::string>{});
    }
}

TEST_F(OggVorbisInfo, TheOriginalStaysInPlaceUntilTheRename)
{
    std::string path = Put(EncodeSine({}));
    const Bytes original = ReadBytes(path);
    TVelmarOggVorbis ogg;
    ogg.SetCommento(Marker);
    std::vector<Step> steps;
    ogg.SetRewriteHook([&](Step s) {
        EXPECT_EQ(ReadBytes(path), original);
        if (steps.empty() || steps.back() != s)
            steps.push_back(s);
        return true;
    });
    ASSERT_TRUE(ogg.WriteTags(path));
    EXPECT_EQ(steps, (std::vector<Step>{Step::rsCreateTemp, Step::rsWrite, Step::rsFlush, Step::rsRename}));
    EXPECT_EQ(DecodeOgg(path).comments, std::vector<std::string>{"COMMENT=" + Marker});
    EXPECT_EQ(Hidden(), std::vector<std::string>{});
}

// The rewrite's temporary file is a new one of its own: a folder, a file or
// a link someone put at the old fixed name "NAME~" stays as it was, and a
// link there does not redirect the write.
TEST_F(OggVorbisInfo, WhatLiesBesideTheFileIsNotTouched)
{
    const std::string elsewhere = dir.File("elsewhere");
    WriteBytes(elsewhere, Bytes(10, 0xEE));
    for (const char* what : {"folder", "file", "link"}) {
        SCOPED_TRACE(what);
        std::string path = Put(EncodeSine({}));
        const std::string planted = path + "~";
        std::filesystem::remove_all(planted);
        if (std::string(what) == "folder")
            ASSERT_EQ(::mkdir(planted.c_str(), 0755), 0);
        else if (std::string(what) == "file")
            WriteBytes(planted, Bytes(100000, 0xEE));
        else
            std::filesystem::create_symlink(elsewhere, planted);
        TVelmarOggVorbis ogg;
        ogg.SetCommento(Marker);
        ASSERT_TRUE(ogg.WriteTags(path));
        EXPECT_EQ(DecodeOgg(path).comments, std::vector<std::string>{"COMMENT=" + Marker});
        EXPECT_EQ(Hidden(), std::vector<std::string>{});
        EXPECT_EQ(ReadBytes(elsewhere), Bytes(10, 0xEE));
        struct stat st {};
        ASSERT_EQ(::lstat(planted.c_str(), &st), 0);
        if (std::string(what) == "file") {
            EXPECT_EQ(ReadBytes(planted), Bytes(100000, 0xEE));
        }
    }
}

TEST_F(OggVorbisInfo, RewrittenFileKeepsThePermissions)
{
    for (mode_t mode : {mode_t(0640), mode_t(0444), mode_t(0604)}) {
        SCOPED_TRACE(mode);
        std::string path = Put(EncodeSine({}));
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        TVelmarOggVorbis ogg;
        ogg.SetCommento(Marker);
        ASSERT_TRUE(ogg.WriteTags(path));
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(DecodeOgg(path).comments, std::vector<std::string>{"COMMENT=" + Marker});
        ::chmod(path.c_str(), 0644);
    }
}

TEST_F(OggVorbisInfo, RewrittenFileKeepsItsOwnerWhenThatIsAllowed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only a privileged user can create files for another owner";
    std::string path = Put(EncodeSine({}));
    ASSERT_EQ(::chown(path.c_str(), 4321, 4322), 0);
    TVelmarOggVorbis ogg;
    ogg.SetCommento(Marker);
    ASSERT_TRUE(ogg.WriteTags(path));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
}

// ---- The file name property ----------------------------------------------

TEST_F(OggVorbisInfo, FileNameOfAMissingFileKeepsThePreviousValues)
{
    SineFile f;
    f.comments = {"TITLE=t"};
    std::string path = Put(EncodeSine(f));
    TVelmarOggVorbis ogg;
    ogg.SetNomedelfile(path);
    ASSERT_EQ(ogg.Titolo(), "t");
    const std::string missing = dir.File("missing.ogg");
    ogg.SetNomedelfile(missing);
    EXPECT_EQ(ogg.Nomedelfile(), missing);
    EXPECT_EQ(ogg.Titolo(), "t");
    EXPECT_THROW(ogg.LoadInfo(missing), EStreamError);
    EXPECT_THROW(ogg.WriteTags(missing), EStreamError);
    EXPECT_FALSE(FileExists(missing + "~"));
}
