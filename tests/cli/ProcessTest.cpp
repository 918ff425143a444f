// fennick-cli among other processes: interrupted by a signal mid-file,
// and two runs writing the same output at once.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Starts fennick-cli with Args in Dir, its stderr into Dir/Err, the three
// stop signals at their default action whatever this process inherited.
pid_t StartCli(const TempDir& Dir, const std::vector<std::string>& Args, const std::string& Err)
{
    std::vector<char*> argv{const_cast<char*>(FENNICK_CLI_PATH)};
    for (const std::string& a : Args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string err = Dir.File(Err);
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        std::signal(s, SIG_DFL);
    const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::chdir(Dir.Path().c_str()) != 0)
        ::_exit(126);
    ::dup2(fd, STDERR_FILENO);
    ::dup2(fd, STDOUT_FILENO);
    ::execv(FENNICK_CLI_PATH, argv.data());
    ::_exit(127);
}

// The exit code, or minus the signal that ended the process.
int ExitCode(pid_t Pid)
{
    int status = 0;
    ::waitpid(Pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1000;
}

std::vector<std::string> Entries(const std::string& Folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Waits until Folder holds at least N entries.
bool WaitForEntries(const std::string& Folder, size_t N)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Entries(Folder).size() < N && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Entries(Folder).size() >= N;
}

std::string Text(const std::string& File)
{
    auto b = ReadBytes(File);
    return std::string(b.begin(), b.end());
}

} // namespace

TEST(Process, ASignalRemovesTheTemporaryFilesAndKeepsEarlierOutputs)
{
    TempDir dir;
    const auto wav = MakeWav16(Sine(44100 * 30, 44100, {440, 660}, 0.3), 2, 44100);
    for (const char* f : {"a.wav", "b.wav", "c.wav"})
        WriteBytes(dir.File(f), wav);
    const std::vector<uint8_t> earlier = {'p', 'r', 'i', 'm', 'a'};
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(signal);
        const std::string out = dir.File("out" + std::to_string(signal));
        fs::create_directory(out);
        WriteBytes(out + "/a.ogg", earlier);
        const pid_t pid = StartCli(dir, {"-j", "2", "-o", out, "a.wav", "b.wav", "c.wav"}, "err.txt");
        // Mid-file: once an encoder has created its temporary file.
        ASSERT_TRUE(WaitForEntries(out, 2));
        ::kill(pid, signal);
        // Ended by the signal after its clean-up, so that a shell loop stops.
        EXPECT_EQ(ExitCode(pid), -signal);
        EXPECT_NE(Text(dir.File("err.txt")).find("fennick-cli: interrotto\n"), std::string::npos)
            << Text(dir.File("err.txt"));
        EXPECT_EQ(Entries(out), std::vector<std::string>{"a.ogg"});
        EXPECT_EQ(ReadBytes(out + "/a.ogg"), earlier);
    }
}

// Two runs converting different files of one name into one folder at once:
// whichever renames last wins, and what stays is one whole stream.
TEST(Process, TwoRunsOnOneOutputLeaveOneWholeFile)
{
    TempDir dir;
    fs::create_directories(dir.File("p"));
    fs::create_directories(dir.File("q"));
    WriteBytes(dir.File("p/A.wav"), MakeWav16(Sine(44100 * 10, 44100, {440, 660}, 0.3), 2, 44100));
    WriteBytes(dir.File("q/A.wav"), MakeWav16(Sine(44100 * 11, 44100, {550, 770}, 0.3), 2, 44100));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const std::string out = dir.File("out" + std::to_string(round));
        const pid_t p = StartCli(dir, {"--quiet", "-o", out, "p/A.wav"}, "p.txt");
        const pid_t q = StartCli(dir, {"--quiet", "-o", out, "q/A.wav"}, "q.txt");
        const int pCode = ExitCode(p), qCode = ExitCode(q);
        // Both written, or one refused with its reason.
        EXPECT_TRUE(pCode == 0 || qCode == 0);
        EXPECT_TRUE(pCode == 0 || Text(dir.File("p.txt")).find("\"p/A.wav\": ") != std::string::npos);
        EXPECT_TRUE(qCode == 0 || Text(dir.File("q.txt")).find("\"q/A.wav\": ") != std::string::npos);
        EXPECT_EQ(Entries(out), std::vector<std::string>{"A.ogg"});
        const OggPages pages = ScanOggPages(out + "/A.ogg");
        EXPECT_TRUE(pages.ok && pages.lastIsEos);
        EXPECT_EQ(std::count(pages.serials.begin(), pages.serials.end(), pages.serials.at(0)), pages.pages);
        const DecodedOgg d = DecodeOgg(out + "/A.ogg");
        EXPECT_TRUE(d.pcmTotal == 44100 * 10 || d.pcmTotal == 44100 * 11) << d.pcmTotal;
    }
}

// A run killed outright leaves its temporary file; the next run into that
// folder removes it, and leaves the user's own hidden files alone.
TEST(Process, TheNextRunRemovesWhatAKilledRunLeft)
{
    TempDir dir;
    WriteBytes(dir.File("a.wav"), MakeWav16(Sine(44100 * 30, 44100, {440, 660}, 0.3), 2, 44100));
    WriteBytes(dir.File("b.wav"), MakeWav16(Sine(4410, 44100, {440}), 1, 44100));
    const std::string out = dir.File("out");
    fs::create_directory(out);
    const std::vector<uint8_t> mine = {'m', 'i', 'o'};
    WriteBytes(out + "/.appunti", mine);
    WriteBytes(out + "/.Mio.ogg.Ab12Cd", mine);
    const pid_t pid = StartCli(dir, {"-o", out, "a.wav"}, "err.txt");
    ASSERT_TRUE(WaitForEntries(out, 3));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(ExitCode(pid), -SIGKILL);
    ASSERT_EQ(Entries(out).size(), 3u); // the dead run's temporary file
    EXPECT_EQ(ExitCode(StartCli(dir, {"--quiet", "-o", out, "b.wav"}, "err.txt")), 0);
    EXPECT_EQ(Entries(out), (std::vector<std::string>{".Mio.ogg.Ab12Cd", ".appunti", "b.ogg"}));
    EXPECT_EQ(ReadBytes(out + "/.Mio.ogg.Ab12Cd"), mine);
}
