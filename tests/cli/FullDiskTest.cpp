// No room to write: the encoding fails and says so, leaving no truncated
// file; a rewrite fails and leaves the file as it was. The room is a
// file-size limit (RLIMIT_FSIZE), which gives real short writes without a
// small disk to mount.
#include "vorbis/VelmarOggVorbis.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;

namespace {

// Runs fennick-cli --quiet Args in Dir with files limited to Limit bytes
// (its stderr too, so the names are kept short); its stderr into Err.
int RunLimited(const std::vector<std::string>& Args, rlim_t Limit, std::string& Err, const TempDir& Dir)
{
    const std::string errFile = Dir.File("stderr.txt");
    std::vector<char*> argv{const_cast<char*>(FENNICK_CLI_PATH), const_cast<char*>("--quiet")};
    for (const std::string& a : Args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const rlimit limit{Limit, Limit};
        if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0 || ::chdir(Dir.Path().c_str()) != 0 ||
            ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(126);
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
        ::execv(FENNICK_CLI_PATH, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const auto b = ReadBytes(errFile);
    Err.assign(b.begin(), b.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(FullDisk, AWriteThatFindsNoRoomFailsTheFileAndLeavesNothing)
{
    TempDir dir;
    const std::string out = dir.File("out");
    WriteBytes(dir.File("lungo.wav"), MakeWav16(Sine(44100 * 30, 44100, {440, 660}, 0.3), 2, 44100));
    WriteBytes(dir.File("corto.wav"), MakeWav16(Sine(4410, 44100, {440}), 1, 44100));
    const std::vector<uint8_t> earlier = {'p', 'r', 'i', 'm', 'a'};
    std::filesystem::create_directory(out);
    WriteBytes(out + "/lungo.ogg", earlier);
    for (rlim_t limit : {rlim_t(1000), rlim_t(64 * 1024)}) { // in the headers, and in the audio
        SCOPED_TRACE(limit);
        std::string err;
        const int code = RunLimited({"-j", "1", "-o", "out", "lungo.wav", "corto.wav"}, limit, err, dir);
        EXPECT_EQ(code, 1);
        EXPECT_NE(err.find("lungo.wav\": "), std::string::npos) << err;
        EXPECT_NE(err.find(velmar::TestoErrno(EFBIG)), std::string::npos) << err;
        EXPECT_EQ(ReadBytes(out + "/lungo.ogg"), earlier);
        EXPECT_EQ(DecodeOgg(out + "/corto.ogg").ok, limit > 1000); // the next file goes on
        for (const auto& e : std::filesystem::directory_iterator(out)) // no temporary left
            EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
        std::filesystem::remove(out + "/corto.ogg");
    }
}

TEST(FullDisk, ARewriteThatFindsNoRoomLeavesTheFileIntact)
{
    TempDir dir;
    WriteBytes(dir.File("brano.wav"), MakeWav16(Sine(44100 * 2, 44100, {440}), 1, 44100));
    std::string err;
    ASSERT_EQ(RunLimited({"-o", ".", "brano.wav"}, RLIM_INFINITY, err, dir), 0) << err;
    const std::string target = dir.File("brano.ogg");
    const auto before = ReadBytes(target);

    // This process, for the length of the rewrite.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{before.size() / 2, old.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    velmar::TVelmarOggVorbis oggo;
    oggo.SetNomedelfile(target);
    oggo.SetCommento("Un commento più lungo, che non trova più posto");
    const bool written = oggo.WriteTags(target);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(target), before);
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}
