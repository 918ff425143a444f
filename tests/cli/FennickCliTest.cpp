#include "cli/FennickCli.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sys/wait.h>

using namespace velmar::cli;
using namespace testing_support;

namespace {

struct Result {
    int code = -1;
    std::string err;
};

// Runs fennick-cli with HOME in Dir and returns its exit code and stderr.
Result RunCli(const TempDir& Dir, const std::string& Args)
{
    const std::string errFile = Dir.File("stderr.txt");
    const std::string cmd = "cd '" + Dir.Path() + "' && HOME='" + Dir.Path() + "' XDG_CONFIG_HOME='" +
                            Dir.Path() + "/.config' " FENNICK_CLI_PATH " " + Args + " 2>'" + errFile +
                            "' >/dev/null";
    Result r;
    int status = std::system(cmd.c_str());
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto bytes = ReadBytes(errFile);
    r.err.assign(bytes.begin(), bytes.end());
    return r;
}

int Lines(const std::string& s)
{
    return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
}

} // namespace

TEST(FennickCli, OptionsAreCheckedWithItalianMessages)
{
    struct Case {
        std::vector<std::string> args;
        bool ok;
        const char* error;
    };
    const std::vector<Case> cases = {
        {{"a.wav"}, true, ""},
        {{"-q", "9", "-r", "8000", "-j", "2", "--quiet", "a.wav", "b.wav"}, true, ""},
        {{"-q", "0", "a.wav"}, false, "qualità non valida"},
        {{"-q", "x", "a.wav"}, false, "qualità non valida"},
        {{"-r", "44000", "a.wav"}, false, "frequenza non valida"},
        {{"-j", "0", "a.wav"}, false, "numero di processi"},
        {{"-o"}, false, "manca il valore"},
        {{"--bogus", "a.wav"}, false, "opzione sconosciuta"},
        {{}, false, "nessun file"},
        {{"--help"}, true, ""},
        {{"--version"}, true, ""},
        {{"--ricampionamento", "veloce", "a.wav"}, true, ""},
        {{"--ricampionamento", "lenta", "a.wav"}, false, "ricampionamento non valido"},
    };
    for (const Case& k : cases) {
        TOptions o;
        std::string error;
        EXPECT_EQ(ParseOptions(k.args, o, error), k.ok) << error;
        EXPECT_NE(error.find(k.error), std::string::npos) << error;
    }
    TOptions o;
    std::string error;
    ASSERT_TRUE(ParseOptions({"-q", "7", "-r", "22050", "-o", "/out", "x.wav"}, o, error));
    EXPECT_EQ(o.Quality, 7);
    EXPECT_EQ(o.Rate, 22050);
    EXPECT_EQ(o.OutputDir, "/out");
    EXPECT_EQ(o.Files, std::vector<std::string>{"x.wav"});
    EXPECT_TRUE(o.HighQualityResampling);
    TOptions fast;
    ASSERT_TRUE(ParseOptions({"--ricampionamento", "veloce", "x.wav"}, fast, error));
    EXPECT_FALSE(fast.HighQualityResampling);
}

TEST(FennickCli, ExitCodesAndOneLinePerFailure)
{
    TempDir dir;
    WriteBytes(dir.File("good.wav"), MakeWav16(Sine(8000, 8000, {440}), 1, 8000));
    WriteBytes(dir.File("bad.wav"), std::vector<uint8_t>(100, 'z'));

    Result ok = RunCli(dir, "--quiet good.wav");
    EXPECT_EQ(ok.code, 0) << ok.err;
    EXPECT_EQ(ok.err, "");
    // The default folder: the documents folder (here the home folder) + Musica.
    DecodedOgg d = DecodeOgg(dir.File("Musica/good.ogg"));
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.comments, std::vector<std::string>{"COMMENT=Codificato con Velmar Fennick"});

    Result mixed = RunCli(dir, "-o out good.wav missing.wav bad.wav");
    EXPECT_EQ(mixed.code, 1);
    EXPECT_EQ(Lines(mixed.err), 2) << mixed.err;
    EXPECT_NE(mixed.err.find("\"missing.wav\""), std::string::npos) << mixed.err;
    EXPECT_NE(mixed.err.find("\"bad.wav\": Cannot read"), std::string::npos) << mixed.err;
    EXPECT_TRUE(DecodeOgg(dir.File("out/good.ogg")).ok); // the others are encoded
    EXPECT_FALSE(FileExists(dir.File("out/bad.ogg")));
    EXPECT_FALSE(FileExists(dir.File("out/missing.ogg")));

    Result usage = RunCli(dir, "-q 12 good.wav");
    EXPECT_EQ(usage.code, 2);
    EXPECT_NE(usage.err.find("Uso: fennick-cli"), std::string::npos);
    EXPECT_EQ(RunCli(dir, "--help").code, 0);
}

TEST(FennickCli, NeverOverwritesItsInputOrTwoOutputsAtOnce)
{
    TempDir dir;
    auto wav = MakeWav16(Sine(8000, 8000, {440}), 1, 8000);
    WriteBytes(dir.File("same.ogg"), wav); // a WAVE file named .ogg
    std::system(("mkdir -p '" + dir.File("sub") + "'").c_str());
    WriteBytes(dir.File("x.wav"), wav);
    WriteBytes(dir.File("sub/x.wav"), wav);

    Result r = RunCli(dir, "--quiet -o . same.ogg x.wav sub/x.wav");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(ReadBytes(dir.File("same.ogg")), wav);
    EXPECT_NE(r.err.find("\"sub/x.wav\" è salvato come \"x (2).ogg\""), std::string::npos) << r.err;
    EXPECT_TRUE(DecodeOgg(dir.File("x.ogg")).ok);
    EXPECT_TRUE(DecodeOgg(dir.File("x (2).ogg")).ok);
}
