#include "engine/VelmarBatch.h"

#include "vorbis/VelmarVorbis.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace velmar;
using namespace testing_support;

namespace {

size_t FilesIn(const std::string& Folder)
{
    size_t n = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(Folder))
        n += e.is_regular_file();
    return n;
}

} // namespace

// Held parts appear only when committed; every item's events come in order;
// a name taken twice is written under another name, with a warning.
TEST(VelmarBatch, HeldItemsEndInOrderAndNeverShareAnOutput)
{
    LoadCodecLibraries();
    TempDir dir;
    ASSERT_EQ(std::system(("mkdir -p " + dir.File("a") + " " + dir.File("b") + " " + dir.File("out")).c_str()), 0);
    const auto wav = MakeWav16(Sine(44100 * 3, 44100, {440}, 0.3), 1, 44100);
    WriteBytes(dir.File("a/x.wav"), wav);
    WriteBytes(dir.File("b/x.wav"), wav);
    WriteBytes(dir.File("a/y.wav"), wav);

    std::mutex m;
    std::map<size_t, std::string> trace; // per item: S(tart), P(rogress), E(nd)
    std::map<size_t, TEncodeResult> results;
    TVelmarBatch::TEvents events;
    events.OnStart = [&](size_t i) { std::lock_guard<std::mutex> l(m); trace[i] += 'S'; };
    events.OnProgress = [&](size_t i, int) {
        std::lock_guard<std::mutex> l(m);
        if (trace[i].back() != 'P')
            trace[i] += 'P';
    };
    events.OnEnd = [&](size_t i, TEncodeResult& r) {
        std::lock_guard<std::mutex> l(m);
        trace[i] += 'E';
        results[i] = r;
    };
    {
        TVelmarBatch batch(TEncodeSettings{}, 2, true, events);
        for (const char* f : {"a/x.wav", "missing.wav", "b/x.wav", "a/y.wav"})
            batch.Add(dir.File(f), dir.File("out"));
        batch.Close();
        batch.Wait();
    }
    EXPECT_EQ(trace, (std::map<size_t, std::string>{{0, "SPE"}, {1, "SE"}, {2, "SPE"}, {3, "SPE"}}));
    EXPECT_EQ(results[1].Outcome, TEncodeOutcome::Failed);
    EXPECT_EQ(results[1].Reason, "il file non esiste");
    EXPECT_EQ(results[2].Output, dir.File("out/x (2).ogg"));
    ASSERT_EQ(results[2].Warnings.size(), 1u);
    EXPECT_NE(results[2].Warnings[0].find("\"x (2).ogg\""), std::string::npos);
    EXPECT_FALSE(FileExists(dir.File("out/x.ogg")));
    for (size_t i : {0, 2, 3}) {
        ASSERT_EQ(results[i].Outcome, TEncodeOutcome::Done) << results[i].Reason;
        CommitPart(results[i]);
        EXPECT_TRUE(DecodeOgg(results[i].Output).ok) << results[i].Output;
    }
    EXPECT_EQ(FilesIn(dir.File("out")), 3u);
}

// Stopping everything, also what is added afterwards, leaves no file at all.
TEST(VelmarBatch, DiscardingEverythingLeavesNothing)
{
    LoadCodecLibraries();
    TempDir dir;
    ASSERT_EQ(std::system(("mkdir -p " + dir.File("out")).c_str()), 0);
    WriteBytes(dir.File("long.wav"), MakeWav16(Sine(44100 * 30, 44100, {440, 550}, 0.3), 2, 44100));
    std::atomic<int> ended{0};
    TVelmarBatch::TEvents events;
    TVelmarBatch* self = nullptr;
    events.OnProgress = [&](size_t, int Percent) {
        if (Percent > 0)
            self->StopAll(TStopMode::Discard);
    };
    events.OnEnd = [&](size_t, TEncodeResult& r) {
        EXPECT_EQ(r.Outcome, TEncodeOutcome::Discarded);
        ++ended;
    };
    TVelmarBatch batch(TEncodeSettings{}, 2, false, events);
    self = &batch;
    for (int i = 0; i < 3; ++i)
        batch.Add(dir.File("long.wav"), dir.File("out"));
    while (ended < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    batch.Add(dir.File("long.wav"), dir.File("out"));
    batch.Close();
    batch.Wait();
    EXPECT_EQ(ended, 4);
    EXPECT_EQ(FilesIn(dir.File("out")), 0u);
}
