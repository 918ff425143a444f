// Broken and hostile files through fennick-cli: each one gets a clear error
// naming it (or is encoded, when it is merely odd), nothing crashes or hangs,
// no output is left for a refused file, and the rest of the batch is encoded.
#include "BadInputs.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <filesystem>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;

namespace {

bool Sanitized()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#else
    return false;
#endif
}

struct CliRun {
    int code = -1;
    std::string err;
};

// fennick-cli on the files, bounded in time and (unless sanitized, which
// needs a large address space of its own) to 4 GB of address space.
CliRun Cli(const TempDir& dir, const std::string& args, const std::string& prefix = "",
           const std::string& program = FENNICK_CLI_PATH)
{
    const std::string err = dir.File("stderr.txt");
    const std::string limit = Sanitized() ? "" : "ulimit -v 4000000; ";
    const std::string cmd = "cd '" + dir.Path() + "' && " + prefix + "timeout 60 sh -c '" + limit + "exec " +
                            program + " --quiet -j 2 -o out " + args + "' 2>'" + err + "'";
    CliRun r;
    int status = std::system(cmd.c_str());
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto b = ReadBytes(err);
    r.err.assign(b.begin(), b.end());
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
    return r;
}

} // namespace

TEST(BadInput, EveryBrokenFileIsRefusedByNameAndTheBatchGoesOn)
{
    TempDir dir;
    WriteBytes(dir.File("buono.wav"), MakeWav16(Sine(22050, 44100, {440, 550}), 2, 44100));
    std::string args = "buono.wav";
    const auto battery = BadInputBattery();
    for (size_t i = 0; i < battery.size(); ++i) {
        WriteBytes(dir.File("bad" + std::to_string(i) + ".wav"), battery[i].bytes);
        args += " bad" + std::to_string(i) + ".wav";
    }
    CliRun r = Cli(dir, args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.find("bad_alloc"), std::string::npos) << r.err;
    EXPECT_TRUE(DecodeOgg(dir.File("out/buono.ogg")).ok);
    for (size_t i = 0; i < battery.size(); ++i) {
        const BadInput& k = battery[i];
        SCOPED_TRACE(k.name);
        const std::string name = "\"bad" + std::to_string(i) + ".wav\"";
        const std::string out = dir.File("out/bad" + std::to_string(i) + ".ogg");
        const auto line = r.err.find(name);
        if (!k.error) {
            if (k.warning)
                EXPECT_NE(r.err.find("attenzione: " + name + " " + k.warning), std::string::npos) << r.err;
            else
                EXPECT_EQ(line, std::string::npos) << r.err;
            EXPECT_TRUE(DecodeOgg(out).ok);
            continue;
        }
        ASSERT_NE(line, std::string::npos) << r.err;
        const std::string text = r.err.substr(line, r.err.find('\n', line) - line);
        EXPECT_NE(text.find(k.error), std::string::npos) << text;
        EXPECT_FALSE(FileExists(out));
    }
}

TEST(BadInput, FilesThatAreNotThereOrNotReadable)
{
    TempDir dir;
    ::chmod(dir.Path().c_str(), 0777);
    WriteBytes(dir.File("buono.wav"), MakeWav16(Sine(22050, 44100, {440}), 1, 44100));
    ::mkdir(dir.File("cartella.wav").c_str(), 0755);
    WriteBytes(dir.File("chiuso.wav"), MakeWav16(Sine(100, 44100, {440}), 1, 44100));
    ::chmod(dir.File("chiuso.wav").c_str(), 0);
    ::mkdir(dir.File("out").c_str(), 0777);
    ::chmod(dir.File("out").c_str(), 0777);
    // As root the permissions would not hold: run as nobody then, a copy of
    // the program that nobody can reach (the build may sit in root's home).
    std::string prefix, program = FENNICK_CLI_PATH;
    if (::geteuid() == 0) {
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        program = dir.File("fennick-cli");
        std::filesystem::copy_file(FENNICK_CLI_PATH, program);
        ::chmod(program.c_str(), 0755);
    }
    CliRun r = Cli(dir, "sparito.wav cartella.wav chiuso.wav buono.wav", prefix, program);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("\"sparito.wav\": il file non esiste"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("\"cartella.wav\": è una cartella"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("\"chiuso.wav\": permesso negato"), std::string::npos)
        << r.err;
    EXPECT_TRUE(DecodeOgg(dir.File("out/buono.ogg")).ok);
    for (const char* gone : {"out/sparito.ogg", "out/cartella.ogg", "out/chiuso.ogg"})
        EXPECT_FALSE(FileExists(dir.File(gone))) << gone;
}
