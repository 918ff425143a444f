#include "engine/EncodeFile.h"

#include "vorbis/VelmarVorbis.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <filesystem>

#include <dirent.h>

using namespace velmar;
using namespace testing_support;

namespace {

// A FLAC metadata block: its header (type, not last) and body.
std::vector<uint8_t> Join4(uint8_t Type, const std::vector<uint8_t>& Body)
{
    std::vector<uint8_t> b = {Type, uint8_t(Body.size() >> 16), uint8_t(Body.size() >> 8), uint8_t(Body.size())};
    b.insert(b.end(), Body.begin(), Body.end());
    return b;
}

std::vector<std::string> FolderEntries(const std::string& Path)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(Path.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool HasComment(const DecodedOgg& D)
{
    return std::find(D.comments.begin(), D.comments.end(), "COMMENT=Codificato con Velmar Fennick") !=
           D.comments.end();
}

void PutBE32(std::vector<uint8_t>& B, uint32_t V)
{
    for (int i = 3; i >= 0; --i)
        B.push_back(uint8_t(V >> (8 * i)));
}

// AIFF bytes with chunks appended after the sound data, the FORM size set.
std::vector<uint8_t> WithAiffChunks(std::vector<uint8_t> Aiff,
                                    const std::vector<std::pair<std::string, std::string>>& Chunks)
{
    for (const auto& [id, body] : Chunks) {
        Aiff.insert(Aiff.end(), id.begin(), id.end());
        PutBE32(Aiff, uint32_t(body.size()));
        Aiff.insert(Aiff.end(), body.begin(), body.end());
        if (body.size() & 1)
            Aiff.push_back(0);
    }
    std::vector<uint8_t> size;
    PutBE32(size, uint32_t(Aiff.size() - 8));
    std::copy(size.begin(), size.end(), Aiff.begin() + 4);
    return Aiff;
}

// FLAC bytes whose Vorbis comments are Comments (the writer's go), behind
// an ID3v2 tag of Id3 bytes when there are some.
std::vector<uint8_t> WithFlacComments(const std::vector<uint8_t>& Flac, const TStringList& Comments,
                                      const std::string& Id3 = {})
{
    std::vector<uint8_t> body;
    const std::string vendor = "prova";
    PutU32(body, uint32_t(vendor.size()));
    body.insert(body.end(), vendor.begin(), vendor.end());
    PutU32(body, uint32_t(Comments.size()));
    for (const std::string& c : Comments) {
        PutU32(body, uint32_t(c.size()));
        body.insert(body.end(), c.begin(), c.end());
    }
    std::vector<std::vector<uint8_t>> blocks; // header and body, "last" flag cleared
    size_t pos = 4;
    for (bool last = false; !last && pos + 4 <= Flac.size();) {
        last = Flac[pos] & 0x80;
        const size_t n = (size_t(Flac[pos + 1]) << 16) | (Flac[pos + 2] << 8) | Flac[pos + 3];
        if ((Flac[pos] & 0x7F) != 4)
            blocks.emplace_back(Flac.begin() + long(pos), Flac.begin() + long(pos + 4 + n)).front() &= 0x7F;
        pos += 4 + n;
        if (blocks.size() == 1) // after STREAMINFO
            blocks.push_back(Join4(4, body));
    }
    std::vector<uint8_t> out(Id3.begin(), Id3.end());
    out.insert(out.end(), {'f', 'L', 'a', 'C'});
    blocks.back().front() |= 0x80;
    for (const auto& b : blocks)
        out.insert(out.end(), b.begin(), b.end());
    out.insert(out.end(), Flac.begin() + long(pos), Flac.end());
    return out;
}

} // namespace

// AIFF, AIFF-C and FLAC are known by their content, whatever their name,
// and encoded whole with their tags: decoded by libvorbisfile, each channel
// holds its source's tone at its level.
TEST(EncodeFile, AiffAndFlacAreEncodedWithTheirTagsWhateverTheirName)
{
    LoadCodecLibraries();
    constexpr int Rate = 44100;
    const std::vector<int16_t> src = Sine(Rate, Rate, {440, 1000});
    const std::string id3 = std::string("ID3\4\0\0\0\0\0\x1F", 10) + "TIT2" + std::string("\0\0\0\x06\0\0\x03", 7) +
                            "Primo" + "TALB" + std::string("\0\0\0\x05\0\0\x03", 7) + "Lato";
    const TStringList comments = {"ARTIST=Uno", "ARTIST=Due", "title=Citt\xC3\xA0", "REPLAYGAIN_TRACK_GAIN=-3.1 dB"};
    const std::string aiffTags[] = {"TITLE=Primo", "ARTIST=Autrice", "ALBUM=Lato", "COPYRIGHT=2024 Velmar",
                                    "COMMENT=prima nota", "COMMENT=seconda"};
    struct Case {
        const char* name;
        std::string file;
        std::vector<uint8_t> bytes;
        TStringList tags;
    };
    const Case cases[] = {
        {"AIFF named .flac", "brano.flac",
         WithAiffChunks(SndfileBytes(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, src, 2, Rate),
                        {{"NAME", "Nome"}, {"AUTH", "Autrice"}, {"(c) ", "2024 Velmar"}, {"ANNO", "prima nota"},
                         {"ANNO", "seconda"}, {"ID3 ", id3}}),
         TStringList(std::begin(aiffTags), std::end(aiffTags))},
        {"AIFF-C little-endian", "brano.aifc", SndfileBytes(SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, src, 2, Rate), {}},
        {"FLAC 24-bit named .wav", "brano.wav",
         WithFlacComments(SndfileBytes(SF_FORMAT_FLAC | SF_FORMAT_PCM_24, src, 2, Rate), comments), comments},
        {"FLAC behind an ID3 tag", "brano.flac",
         WithFlacComments(SndfileBytes(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, src, 2, Rate), comments, id3), comments},
        {"WAVE named .aiff", "brano.aiff", MakeWav16(src, 2, Rate), {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TempDir dir;
        WriteBytes(dir.File(k.file), k.bytes);
        TEncodeSettings settings;
        settings.ReplayGain = false; // the source's tags alone
        const TEncodeResult r = EncodeFile(dir.File(k.file), dir.File("brano.ogg"), settings);
        ASSERT_EQ(r.Outcome, TEncodeOutcome::Done) << r.Reason;
        EXPECT_TRUE(r.Warnings.empty());
        const DecodedOgg d = DecodeOgg(dir.File("brano.ogg"));
        ASSERT_TRUE(d.ok);
        ASSERT_EQ(d.channels, 2);
        EXPECT_EQ(d.pcmTotal, Rate);
        EXPECT_NEAR(ToneLevelDb(d.pcm[0], Rate, 440), 20 * std::log10(0.5), 0.2);
        EXPECT_NEAR(ToneLevelDb(d.pcm[1], Rate, 1000), 20 * std::log10(0.5), 0.2);
        EXPECT_LT(ToneLevelDb(d.pcm[0], Rate, 1000), -40); // the channels in their order
        TStringList want = k.tags;
        want.push_back("COMMENT=Codificato con Velmar Fennick");
        EXPECT_EQ(d.comments, want);
    }
}

// Every way a run ends: what stays on disk, and that a file already at the
// output's name is replaced whole or not at all.
TEST(EncodeFile, EachEndLeavesWhatItPromises)
{
    LoadCodecLibraries();
    struct Case {
        const char* name;
        TStopMode stop;          // asked at the first progress report
        bool goodInput;
        TEncodeOutcome outcome;
        bool outputReplaced;
        bool tagged;
        bool skipUpToDate = false;
        bool earlierIsOld = false; // the earlier output an hour older than the input
        bool verify = false;
        bool earlierFile = true; // a file at the output's name before the run
    };
    const Case cases[] = {
        {"to the end", TStopMode::None, true, TEncodeOutcome::Done, true, true},
        // A stopped file never takes an earlier file's place; without one it stays.
        {"skipped", TStopMode::KeepTagged, true, TEncodeOutcome::Discarded, false, false},
        {"cancelled, shown", TStopMode::KeepUntagged, true, TEncodeOutcome::Discarded, false, false},
        {"skipped, new", TStopMode::KeepTagged, true, TEncodeOutcome::Stopped, true, true, false, false, false, false},
        {"cancelled, shown, new", TStopMode::KeepUntagged, true, TEncodeOutcome::Stopped, true, false, false, false,
         false, false},
        {"cancelled, in the background", TStopMode::Discard, true, TEncodeOutcome::Discarded, false, false},
        {"missing input", TStopMode::None, false, TEncodeOutcome::Failed, false, false},
        {"output up to date", TStopMode::None, true, TEncodeOutcome::Skipped, false, false, true},
        {"output out of date", TStopMode::None, true, TEncodeOutcome::Done, true, true, true, true},
        {"checked to the end", TStopMode::None, true, TEncodeOutcome::Done, true, true, false, false, true},
        {"checked, skipped", TStopMode::KeepTagged, true, TEncodeOutcome::Stopped, true, true, false, false, true, false},
    };
    const std::vector<uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TempDir dir;
        const std::string in = dir.File("in/brano.wav"), out = dir.File("out/brano.ogg");
        ASSERT_EQ(std::system(("mkdir -p " + dir.File("in") + " " + dir.File("out")).c_str()), 0);
        if (k.goodInput)
            WriteBytes(in, MakeWav16(Sine(44100 * 20, 44100, {440, 660}, 0.3), 2, 44100));
        if (k.earlierFile)
            WriteBytes(out, earlier);
        if (k.earlierIsOld)
            std::filesystem::last_write_time(out, std::filesystem::last_write_time(in) - std::chrono::hours(1));
        TEncodeControl control;
        TEncodeSettings settings;
        settings.OutSampleRate = 22050;
        settings.SkipUpToDate = k.skipUpToDate;
        settings.Verify = k.verify;
        const TEncodeResult r = EncodeFile(in, out, settings, &control, [&](int Percent) {
            if (Percent > 0 && k.stop != TStopMode::None)
                control.Stop(k.stop);
        });
        EXPECT_EQ(r.Outcome, k.outcome) << r.Reason;
        const DecodedOgg d = DecodeOgg(out);
        if (!k.outputReplaced) {
            if (k.earlierFile) {
                EXPECT_EQ(ReadBytes(out), earlier);
            }
            EXPECT_EQ(FolderEntries(dir.File("out")).size(), k.earlierFile ? 1u : 0u); // no temporary left
            continue;
        }
        EXPECT_EQ(FolderEntries(dir.File("out")), std::vector<std::string>{"brano.ogg"}); // no temporary left
        ASSERT_TRUE(d.ok);
        EXPECT_TRUE(ScanOggPages(out).ok && ScanOggPages(out).lastIsEos);
        EXPECT_EQ(HasComment(d), k.tagged);
        EXPECT_EQ(r.Tagged, k.tagged);
        EXPECT_EQ(d.rate, 22050);
        if (k.stop == TStopMode::None)
            EXPECT_EQ(d.pcmTotal, 22050 * 20);
        else
            EXPECT_LT(d.pcmTotal, 22050 * 20);
    }
}

// The output's folder is made only once the input has been read, and one
// that cannot be made is a reason naming it.
TEST(EncodeFile, TheOutputFolderIsMadeOnlyForAReadableInput)
{
    LoadCodecLibraries();
    enum TInput { None, Wave, Garbage };
    struct Case {
        const char* name;
        TInput input;
        bool blocked; // a file where the folder should go
        const char* reason;
    };
    const Case cases[] = {
        {"readable", Wave, false, nullptr},
        {"missing input", None, false, "il file non esiste"},
        {"not a WAVE file", Garbage, false, ""},
        {"a file in the way", Wave, true, "/out/sub\": impossibile creare la cartella: "},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TempDir dir;
        if (k.input != None)
            WriteBytes(dir.File("a.wav"), k.input == Wave ? MakeWav16(Sine(800, 8000, {440}), 1, 8000)
                                                          : std::vector<uint8_t>(100, 'z'));
        if (k.blocked)
            WriteBytes(dir.File("out"), {'x'});
        const TEncodeResult r = EncodeFile(dir.File("a.wav"), dir.File("out/sub/a.ogg"), TEncodeSettings());
        EXPECT_EQ(r.Outcome, k.reason ? TEncodeOutcome::Failed : TEncodeOutcome::Done) << r.Reason;
        if (k.reason) {
            EXPECT_NE(r.Reason.find(k.reason), std::string::npos) << r.Reason;
        }
        EXPECT_EQ(FileExists(dir.File("out/sub")), !k.reason);
        EXPECT_EQ(FileExists(dir.File("out")), !k.reason || k.blocked);
    }
}

TEST(EncodeFile, AHeldFileTakesItsNameOnlyWhenCommitted)
{
    LoadCodecLibraries();
    TempDir dir;
    const std::string in = dir.File("a.wav"), out = dir.File("a.ogg");
    WriteBytes(in, MakeWav16(Sine(8000, 8000, {440}), 1, 8000));
    TEncodeSettings settings;
    settings.OutSampleRate = 8000;

    TEncodeResult kept = EncodeToPart(in, out, settings);
    ASSERT_EQ(kept.Outcome, TEncodeOutcome::Done) << kept.Reason;
    EXPECT_FALSE(FileExists(out));
    EXPECT_TRUE(HasComment(DecodeOgg(kept.Part)));
    CommitPart(kept);
    EXPECT_TRUE(HasComment(DecodeOgg(out)));

    TEncodeResult dropped = EncodeToPart(in, dir.File("b.ogg"), settings);
    DiscardPart(dropped);
    EXPECT_EQ(dropped.Outcome, TEncodeOutcome::Discarded);
    EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"a.ogg", "a.wav"}));
}
