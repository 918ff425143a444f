#include "engine/EncodeFile.h"

#include "vorbis/VelmarVorbis.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include <dirent.h>

using namespace velmar;
using namespace testing_support;

namespace {

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

} // namespace

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
