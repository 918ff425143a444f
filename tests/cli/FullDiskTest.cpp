// A full disk: the encoding fails and says so, leaving no truncated file;
// the tagging fails and leaves the encoded file as it was.
#include "vorbis/VelmarOggVorbis.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;

namespace {

// A tmpfs of Kib KiB at Dir/disk, for as long as the object lives.
class SmallDisk {
public:
    SmallDisk(const TempDir& dir, int kib) : FPath(dir.File("disk"))
    {
        ::mkdir(FPath.c_str(), 0755);
        const std::string opts = "size=" + std::to_string(kib) + "k";
        FMounted = ::geteuid() == 0 && ::mount("tmpfs", FPath.c_str(), "tmpfs", 0, opts.c_str()) == 0;
    }
    ~SmallDisk()
    {
        if (FMounted)
            ::umount(FPath.c_str());
    }
    bool Mounted() const { return FMounted; }
    const std::string& Path() const { return FPath; }
    // Takes all the space that is left.
    void Fill() const
    {
        std::vector<uint8_t> block(4096, 0);
        FILE* f = std::fopen((FPath + "/filler").c_str(), "wb");
        while (f && std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
        }
        if (f)
            std::fclose(f);
    }

private:
    std::string FPath;
    bool FMounted = false;
};

int RunCli(const std::string& args, std::string& err, const TempDir& dir)
{
    const std::string errFile = dir.File("stderr.txt");
    int status = std::system((std::string(FENNICK_CLI_PATH) + " --quiet " + args + " 2>'" + errFile + "'").c_str());
    auto b = ReadBytes(errFile);
    err.assign(b.begin(), b.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(FullDisk, EncodingIntoAFullDiskFailsAndLeavesNoFile)
{
    TempDir dir;
    SmallDisk disk(dir, 64);
    if (!disk.Mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    WriteBytes(dir.File("lungo.wav"), MakeWav16(Sine(44100 * 30, 44100, {440, 660}, 0.3), 2, 44100));
    WriteBytes(dir.File("corto.wav"), MakeWav16(Sine(4410, 44100, {440}), 1, 44100));
    std::string err;
    int code = RunCli("-j 1 -o '" + disk.Path() + "' '" + dir.File("lungo.wav") + "' '" + dir.File("corto.wav") + "'",
                      err, dir);
    EXPECT_EQ(code, 1);
    EXPECT_NE(err.find("lungo.wav\": "), std::string::npos) << err;
    EXPECT_NE(err.find("il disco è pieno"), std::string::npos) << err;
    EXPECT_FALSE(FileExists(disk.Path() + "/lungo.ogg"));
    EXPECT_TRUE(DecodeOgg(disk.Path() + "/corto.ogg").ok); // the space freed went to the next file
}

TEST(FullDisk, TaggingIntoAFullDiskLeavesTheEncodedFileIntact)
{
    TempDir dir;
    SmallDisk disk(dir, 256);
    if (!disk.Mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    WriteBytes(dir.File("brano.wav"), MakeWav16(Sine(44100 * 2, 44100, {440}), 1, 44100));
    std::string err;
    // Encode without tagging space trouble first, then take the rest of the disk.
    ASSERT_EQ(RunCli("-o '" + dir.Path() + "' '" + dir.File("brano.wav") + "'", err, dir), 0) << err;
    const std::string target = disk.Path() + "/brano.ogg";
    const auto before = ReadBytes(dir.File("brano.ogg"));
    WriteBytes(target, before);
    disk.Fill();

    velmar::TVelmarOggVorbis oggo;
    oggo.SetNomedelfile(target);
    oggo.SetCommento("Un commento più lungo, che non trova più posto sul disco");
    EXPECT_FALSE(oggo.WriteTags(target));
    EXPECT_EQ(ReadBytes(target), before);
    EXPECT_FALSE(FileExists(target + "~"));
}
