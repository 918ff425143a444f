#include "platform/TempFiles.h"

#include "platform/Classes.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using namespace velmar;
using namespace testing_support;

// Only what a dead run of ours left goes: a file being written (or a part
// waiting for its name) stays, and so does every file of the user's.
TEST(TempFiles, ASweepTakesOnlyWhatADeadRunLeft)
{
    TempDir dir;
    const std::vector<uint8_t> ogg = {'O', 'g', 'g', 'S', 0, 2, 0, 0};
    const std::vector<uint8_t> text = {'n', 'o', 't', 'e'};
    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
        bool stays;
    };
    const Row rows[] = {
        {".Brano.ogg.Ab12Cd", ogg, false},  // a killed writer's stream
        {".Brano.ogg.xY9zz0", {}, false},   // killed before it wrote
        {".Brano.ogg.Ab12Cd~", ogg, true},  // not our shape
        {".Brano.wav.Ab12Cd", ogg, true},
        {".Brano.ogg.Ab12C", ogg, true},
        {".Brano.ogg.Ab_2Cd", ogg, true},
        {"Brano.ogg.Ab12Cd", ogg, true},
        {".Appunti.ogg.Ab12Cd", text, true}, // ours by name, not by content
        {"Brano.ogg", ogg, true},
    };
    for (const Row& r : rows)
        WriteBytes(dir.File(r.name), r.bytes);
    std::filesystem::create_symlink(dir.File("Brano.ogg"), dir.File(".Link.ogg.Ab12Cd"));
    // Being written, and a finished part whose writer has closed it.
    auto writing = TFileStream::CreateTemporaryFor(dir.File("Uno.ogg"));
    writing->WriteBuffer(ogg.data(), int64_t(ogg.size()));
    std::unique_ptr<TTemporaryHold> hold;
    std::string held;
    {
        auto part = TFileStream::CreateTemporaryFor(dir.File("Due.ogg"));
        part->WriteBuffer(ogg.data(), int64_t(ogg.size()));
        held = part->FileName();
        hold = std::make_unique<TTemporaryHold>(part->Handle());
    }
    RemoveStaleTemporaries(dir.Path());
    for (const Row& r : rows)
        EXPECT_EQ(FileExists(dir.File(r.name)), r.stays) << r.name;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File(".Link.ogg.Ab12Cd")));
    EXPECT_TRUE(FileExists(writing->FileName()));
    EXPECT_TRUE(FileExists(held));
    // Once nobody holds them, they are a dead run's too.
    const std::string written = writing->FileName();
    writing.reset();
    hold.reset();
    RemoveStaleTemporaries(dir.Path());
    EXPECT_FALSE(FileExists(written));
    EXPECT_FALSE(FileExists(held));
}

// A name too long for the folder keeps its extension, so a sweep still
// knows it; a part's own rewrite is named after the same output.
TEST(TempFiles, NamesKeepTheOutputsShape)
{
    const std::string longName = std::string(300, 'n') + ".ogg";
    const std::string made = TemporaryNameFor("/d/" + longName, "Ab12Cd");
    EXPECT_LE(made.size() - 3, 255u);
    EXPECT_TRUE(IsTemporaryName(made.substr(3)));
    EXPECT_EQ(TemporaryNameFor("/d/.Brano.ogg.Ab12Cd", "Xy34Zw"), "/d/.Brano.ogg.Xy34Zw");
}
