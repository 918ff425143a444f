// Whole archives: folders searched with -R and mirrored under the output
// folder, a run resumed with --salta-esistenti, and the README's recipe for
// GNU parallel.
#include "cli/FennickCli.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/wait.h>
#include <unistd.h>

using namespace velmar::cli;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Runs Command in Dir; its exit code, with stdout in Out.
int Shell(const TempDir& Dir, const std::string& Command, std::string* Out = nullptr)
{
    const std::string out = Dir.File("stdout.txt");
    const int status = std::system(("cd '" + Dir.Path() + "' && " + Command + " >'" + out + "' 2>&1").c_str());
    if (Out) {
        auto b = ReadBytes(out);
        Out->assign(b.begin(), b.end());
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Mkdirs(const std::string& Path) { fs::create_directories(Path); }

// Seconds of 8 kHz mono: each test file has a length of its own.
void Wav(const std::string& Path, int Seconds)
{
    Mkdirs(fs::path(Path).parent_path());
    WriteBytes(Path, MakeWav16(Sine(8000 * Seconds, 8000, {440}), 1, 8000));
}

int64_t SecondsIn(const std::string& Ogg)
{
    const DecodedOgg d = DecodeOgg(Ogg);
    return d.ok ? d.pcmTotal / d.rate : -1;
}

} // namespace

namespace velmar::cli {
void PrintTo(const TJob& J, std::ostream* Os) { *Os << J.Input << " -> " << J.Folder; }
} // namespace velmar::cli

namespace {

// Changes the working folder for as long as it lives.
class InFolder {
public:
    explicit InFolder(const std::string& Path) : FOld(fs::current_path()) { fs::current_path(Path); }
    ~InFolder() { fs::current_path(FOld); }

private:
    fs::path FOld;
};

} // namespace

TEST(Archive, FoldersAreListedInNameOrderAndMirrored)
{
    TempDir dir;
    const std::string a = dir.File("Archivio");
    for (const char* f : {"Artista B/Album/01.wav", "Artista A/Album/02.WAV", "Artista A/Album/01.wav",
                          "Artista A/Album/03.FLAC", "Artista A/Album/04.aif", "Artista A/Album/05.Aiff",
                          "Artista A/Album/06.aifc", "Artista A/Album/07.ogg", "b.wav/c.Wav", "sciolto.wav",
                          "leggimi.txt"}) {
        Mkdirs(fs::path(a + "/" + f).parent_path());
        WriteBytes(a + "/" + f, {});
    }
    Mkdirs(a + "/vuota");
    fs::create_directory_symlink(a, a + "/giro"); // a loop, not followed
    const std::vector<TJob> archive = {
        {a + "/Artista A/Album/01.wav", "/o/Archivio/Artista A/Album"},
        {a + "/Artista A/Album/02.WAV", "/o/Archivio/Artista A/Album"},
        {a + "/Artista A/Album/03.FLAC", "/o/Archivio/Artista A/Album"},
        {a + "/Artista A/Album/04.aif", "/o/Archivio/Artista A/Album"},
        {a + "/Artista A/Album/05.Aiff", "/o/Archivio/Artista A/Album"},
        {a + "/Artista A/Album/06.aifc", "/o/Archivio/Artista A/Album"},
        {a + "/Artista B/Album/01.wav", "/o/Archivio/Artista B/Album"},
        {a + "/b.wav/c.Wav", "/o/Archivio/b.wav"},
        {a + "/sciolto.wav", "/o/Archivio"},
    };
    struct Case {
        std::vector<std::string> args;
        std::vector<TJob> jobs;
        const char* error;
        const char* warning;
    };
    const std::vector<Case> cases = {
        {{"-R", a}, archive, nullptr, nullptr},
        {{"-R", a + "/"}, archive, nullptr, nullptr},
        {{"-R", "."}, {{"./c.Wav", "/o"}}, nullptr, nullptr}, // run in Archivio/b.wav
        {{"-R", a + "/Artista B/.", a + "/sciolto.wav"},
         {{a + "/Artista B/./Album/01.wav", "/o/Artista B/Album"}, {a + "/sciolto.wav", "/o"}}, nullptr, nullptr},
        {{a, a + "/sciolto.wav"}, {{a + "/sciolto.wav", "/o"}}, "Archivio\": è una cartella (-R", nullptr},
        {{"-R", a + "/vuota"}, {}, nullptr, "vuota\" non contiene file .wav"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.args.back());
        TOptions o;
        std::string error;
        ASSERT_TRUE(ParseOptions(k.args, o, error)) << error;
        std::vector<std::string> errors, warnings;
        InFolder in(a + "/b.wav");
        EXPECT_EQ(ListJobs(o, "/o", errors, warnings), k.jobs);
        ASSERT_EQ(errors.size(), k.error ? 1u : 0u);
        if (k.error) {
            EXPECT_NE(errors[0].find(k.error), std::string::npos) << errors[0];
        }
        ASSERT_EQ(warnings.size(), k.warning ? 1u : 0u);
        if (k.warning) {
            EXPECT_NE(warnings[0].find(k.warning), std::string::npos) << warnings[0];
        }
    }
}

// Equal names in different folders stay apart; a second run skips what is
// done, and a third encodes only what changed or went missing.
TEST(Archive, ARecursiveRunIsResumedBySkippingWhatIsDone)
{
    TempDir dir;
    Wav(dir.File("Archivio/A/Album/01.wav"), 1);
    Wav(dir.File("Archivio/B/Album/01.wav"), 2);
    Wav(dir.File("Archivio/B/02.wav"), 3);
    const std::string a1 = dir.File("out/Archivio/A/Album/01.ogg"), b1 = dir.File("out/Archivio/B/Album/01.ogg"),
                      b2 = dir.File("out/Archivio/B/02.ogg");
    const std::string cli = FENNICK_CLI_PATH " -R --salta-esistenti -o out Archivio";
    std::string out;
    ASSERT_EQ(Shell(dir, cli, &out), 0) << out;
    EXPECT_EQ(out, "3 file codificati, 0 saltati, 0 errori → out\n");
    EXPECT_EQ(SecondsIn(a1), 1);
    EXPECT_EQ(SecondsIn(b1), 2);
    EXPECT_EQ(SecondsIn(b2), 3);

    const auto b2Bytes = ReadBytes(b2);
    EXPECT_EQ(Shell(dir, cli, &out), 0);
    EXPECT_EQ(out, "0 file codificati, 3 saltati, 0 errori → out\n");

    fs::remove(a1);
    Wav(dir.File("Archivio/B/Album/01.wav"), 4); // changed since
    fs::last_write_time(b1, fs::last_write_time(dir.File("Archivio/B/Album/01.wav")) - std::chrono::seconds(10));
    EXPECT_EQ(Shell(dir, cli, &out), 0);
    EXPECT_EQ(out, "2 file codificati, 1 saltato, 0 errori → out\n");
    EXPECT_EQ(SecondsIn(a1), 1);
    EXPECT_EQ(SecondsIn(b1), 4);
    EXPECT_EQ(ReadBytes(b2), b2Bytes);
}

// The README's recipe, on this machine only: one fennick-cli per file,
// two at a time, outputs mirrored, and run again it encodes nothing.
TEST(Archive, TheParallelRecipeMirrorsTheArchive)
{
    TempDir dir;
    ASSERT_EQ(Shell(dir, "command -v parallel"), 0) << "GNU parallel (packages.txt) is missing";
    Wav(dir.File("Archivio/L'artista/Primo album/01.wav"), 1);
    Wav(dir.File("Archivio/Altro/Primo album/01.wav"), 2);
    Wav(dir.File("Archivio/Altro/02 due parole.WAV"), 3);
    const std::string bin = fs::path(FENNICK_CLI_PATH).parent_path();
    const std::string recipe = "find Archivio -iname '*.wav' -print0 |\n"
                               "    parallel -0 -S 2/: --workdir . fennick-cli --quiet --salta-esistenti -o ogg/{//} {}\n";
    WriteBytes(dir.File("ricetta.sh"), std::vector<uint8_t>(recipe.begin(), recipe.end()));
    const std::string run = "HOME=. PATH='" + bin + "':\"$PATH\" sh ricetta.sh";
    std::string out;
    ASSERT_EQ(Shell(dir, run, &out), 0) << out;
    EXPECT_EQ(out, "");
    EXPECT_EQ(SecondsIn(dir.File("ogg/Archivio/L'artista/Primo album/01.ogg")), 1);
    EXPECT_EQ(SecondsIn(dir.File("ogg/Archivio/Altro/Primo album/01.ogg")), 2);
    EXPECT_EQ(SecondsIn(dir.File("ogg/Archivio/Altro/02 due parole.ogg")), 3);
    const auto again = fs::last_write_time(dir.File("ogg/Archivio/Altro/02 due parole.ogg"));
    ASSERT_EQ(Shell(dir, run, &out), 0) << out;
    EXPECT_EQ(fs::last_write_time(dir.File("ogg/Archivio/Altro/02 due parole.ogg")), again);
}
