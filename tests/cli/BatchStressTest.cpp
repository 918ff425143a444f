// A long batch keeps no descriptor open behind it.
#include "cli/FennickCli.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sstream>

using namespace testing_support;

namespace {
int OpenDescriptors()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}
} // namespace

TEST(BatchStress, FiveHundredFilesLeaveNoDescriptorOpen)
{
    TempDir dir;
    velmar::cli::TOptions o;
    o.Jobs = 2;
    o.Quiet = true;
    o.OutputDir = dir.File("out");
    const auto wav = MakeWav16(Sine(800, 8000, {440}), 1, 8000);
    for (int i = 0; i < 500; ++i) {
        const std::string name = dir.File("f" + std::to_string(i) + (i % 50 == 49 ? ".bad.wav" : ".wav"));
        WriteBytes(name, i % 50 == 49 ? std::vector<uint8_t>(30, 'x') : wav);
        o.Files.push_back(name);
    }
    const int before = OpenDescriptors();
    std::ostringstream out, err;
    EXPECT_EQ(velmar::cli::RunBatch(o, out, err), 1);
    EXPECT_EQ(OpenDescriptors(), before);
    const std::string lines = err.str();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 10) << lines;
    EXPECT_TRUE(DecodeOgg(dir.File("out/f0.ogg")).ok);
    EXPECT_TRUE(DecodeOgg(dir.File("out/f498.ogg")).ok);
}
