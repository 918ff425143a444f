#include "cli/FennickCli.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>

using namespace velmar::cli;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

std::string Text(const std::string& File)
{
    auto bytes = ReadBytes(File);
    return std::string(bytes.begin(), bytes.end());
}

// Runs fennick-cli with HOME in Dir and returns its exit code, stdout and stderr.
Result RunCli(const TempDir& Dir, const std::string& Args)
{
    const std::string errFile = Dir.File("stderr.txt"), outFile = Dir.File("stdout.txt");
    const std::string cmd = "cd '" + Dir.Path() + "' && HOME='" + Dir.Path() + "' XDG_CONFIG_HOME='" +
                            Dir.Path() + "/.config' " FENNICK_CLI_PATH " " + Args + " 2>'" + errFile +
                            "' >'" + outFile + "'";
    Result r;
    int status = std::system(cmd.c_str());
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Text(outFile);
    r.err = Text(errFile);
    return r;
}

// Runs Command (fennick-cli is CLI) with sh in Dir, HOME there; its exit
// code and stderr.
Result RunShell(const TempDir& Dir, std::string Command)
{
    Command.replace(Command.find("CLI"), 3, FENNICK_CLI_PATH);
    const std::string cmd = "cd '" + Dir.Path() + "' && export HOME='" + Dir.Path() + "' && { " + Command +
                            "; } 2>'" + Dir.File("stderr.txt") + "'";
    Result r;
    const int status = std::system(cmd.c_str());
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = Text(Dir.File("stderr.txt"));
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
        {{"-q", "-1.5", "a.wav"}, false, "qualità non valida"},
        {{"-q", "x", "a.wav"}, false, "qualità non valida"},
        {{"-r", "44000", "a.wav"}, false, "frequenza non valida"},
        {{"-j", "0", "a.wav"}, false, "numero di processi"},
        {{"-o"}, false, "manca il valore"},
        {{"--bogus", "a.wav"}, false, "opzione sconosciuta"},
        {{}, false, "nessun file"},
        {{"--help"}, true, ""},
        {{"--ricampionamento", "veloce", "a.wav"}, true, ""},
        {{"--ricampionamento", "lenta", "a.wav"}, false, "ricampionamento non valido"},
        {{"-j", "\xd9\xa3", "a.wav"}, false, "numero di processi"}, // an Arabic-Indic three
        {{"--version"}, true, ""},
        {{"-R", "--ricorsivo", "--salta-esistenti", "--nessun-tag", "--verifica", "cartella"}, true, ""},
        {{"-q", "4,5", "-q", "-1", "-q", "10", "-q", "0.25", "a.wav"}, true, ""},
        {{"-q", "10.5", "a.wav"}, false, "qualità non valida"},
        {{"-q", "4x", "a.wav"}, false, "qualità non valida"},
        {{"-b", "128", "-m", "96", "-M", "160", "--managed", "--downmix", "a.wav"}, true, ""},
        {{"-b", "0", "a.wav"}, false, "velocità in bit non valida"},
        {{"-s", "4294967295", "-n", "%a/%t", "a.wav"}, true, ""},
        {{"-s", "4294967296", "a.wav"}, false, "numero di serie non valido"},
        {{"-t", "T", "-a", "A", "-l", "L", "-N", "3", "-d", "2024", "-G", "G", "-c", "X=y", "a.wav"}, true, ""},
        {{"-c", "senza uguale", "a.wav"}, false, "commento non valido"},
        {{"-c", "=vuoto", "a.wav"}, false, "commento non valido"},
        {{"-", "a.wav", "--", "-"}, false, "una volta sola"},
        {{"--verifica", "-"}, false, "--verifica"},
        {{"--verifica", "-o", "ogg", "-"}, true, ""},
    };
    for (const Case& k : cases) {
        TOptions o;
        std::string error;
        EXPECT_EQ(ParseOptions(k.args, o, error), k.ok) << error;
        EXPECT_NE(error.find(k.error), std::string::npos) << error;
    }
    TOptions o;
    std::string error;
    ASSERT_TRUE(ParseOptions({"-q", "7,5", "-r", "22050", "-o", "/out", "-t", "uno", "-t", "due", "-c", "ARTIST=a",
                              "-c", "ARTIST=b", "x.wav"},
                             o, error));
    EXPECT_EQ(o.Compression, static_cast<float>(double(7.5f) * 0.1)); // as oggenc computes it
    EXPECT_TRUE(o.Mode.QualitySet());
    EXPECT_EQ(o.Tags, (std::vector<std::string>{"TITLE=due", "ARTIST=a", "ARTIST=b"}));
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

    // Nothing written, no folder made.
    EXPECT_EQ(RunCli(dir, "--quiet missing.wav").code, 1);
    EXPECT_FALSE(FileExists(dir.File("Musica")));

    Result ok = RunCli(dir, "--quiet good.wav");
    EXPECT_EQ(ok.code, 0) << ok.err;
    EXPECT_EQ(ok.err + ok.out, "");
    // The default folder: the documents folder (here the home folder) + Musica.
    DecodedOgg d = DecodeOgg(dir.File("Musica/good.ogg"));
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(WithoutReplayGain(d.comments), std::vector<std::string>{"COMMENT=Codificato con Velmar Fennick"});

    Result mixed = RunCli(dir, "-o out good.wav missing.wav bad.wav");
    EXPECT_EQ(mixed.code, 1);
    EXPECT_EQ(Lines(mixed.err), 2) << mixed.err;
    EXPECT_NE(mixed.err.find("\"missing.wav\""), std::string::npos) << mixed.err;
    EXPECT_NE(mixed.err.find("\"bad.wav\": non è un file WAVE"), std::string::npos) << mixed.err;
    EXPECT_EQ(mixed.out, "1 file codificato, 0 saltati, 2 errori → out\n");
    EXPECT_TRUE(DecodeOgg(dir.File("out/good.ogg")).ok); // the others are encoded
    EXPECT_FALSE(FileExists(dir.File("out/bad.ogg")));
    EXPECT_FALSE(FileExists(dir.File("out/missing.ogg")));

    // A name with a newline or an escape sequence stays on its one line; a
    // file written whole with a warning counts as written.
    WriteBytes(dir.File("riga\nnuova\x1b[2J.wav"), std::vector<uint8_t>(100, 'z'));
    std::vector<uint8_t> cut = MakeWav16(Sine(8000, 8000, {440}), 1, 8000);
    cut[40] = 0xFF; // the data chunk claims more than the file holds
    WriteBytes(dir.File("corto.wav"), cut);
    Result odd = RunCli(dir, "-o odd 'riga\nnuova\x1b[2J.wav' corto.wav");
    EXPECT_EQ(odd.code, 1);
    EXPECT_EQ(Lines(odd.err), 2) << odd.err;
    EXPECT_NE(odd.err.find("\"riga?nuova?[2J.wav\": non è un file WAVE"), std::string::npos) << odd.err;
    EXPECT_NE(odd.err.find("attenzione: \"corto.wav\" è troncato"), std::string::npos) << odd.err;
    Result warned = RunCli(dir, "--quiet -o odd corto.wav");
    EXPECT_EQ(warned.code, 0) << warned.err;

    Result usage = RunCli(dir, "-q 12 good.wav");
    EXPECT_EQ(usage.code, 2);
    EXPECT_EQ(usage.err, "fennick-cli: qualità non valida: 12 (da -1 a 10, anche con decimali)\nUsa --help per l'aiuto.\n");
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

// The source's tags reach the output as written, at any length, valid
// UTF-8, beside the program's comment.
TEST(FennickCli, TheSourcesTagsReachTheOutputAsWritten)
{
    TempDir dir;
    const auto tagged = [&](const std::string& Name, const std::string& Title, const std::string& Track) {
        std::vector<uint8_t> wav = MakeWav16(Sine(8000, 8000, {440}), 1, 8000);
        std::vector<uint8_t> info;
        PutTag(info, "INFO");
        const std::vector<std::pair<const char*, std::string>> fields = {
            {"INAM", Title}, {"IART", "Artista"}, {"ITRK", Track}, {"ICRD", "2024"}};
        for (const auto& [id, text] : fields)
            PutChunk(info, id, std::vector<uint8_t>(text.begin(), text.end() + 1));
        PutChunk(wav, "LIST", info);
        for (int i = 0; i < 4; ++i) // the RIFF size, with the LIST chunk
            wav[4 + i] = static_cast<uint8_t>((wav.size() - 8) >> (8 * i));
        WriteBytes(dir.File(Name + ".wav"), wav);
    };
    const std::string comment = "COMMENT=Codificato con Velmar Fennick";
    const std::string longTitle = std::string(150, 'x') + std::string(150, 'y');
    struct Row {
        std::string title, track, options;
        std::string titleOut; // as the output carries it
    };
    const Row rows[] = {
        {"Canzone d\xE0more", "7", "", "Canzone d\xC3\xA0more"}, // Latin-1 becomes UTF-8
        {"Citt\xC3\xA0", "4/12", "", "Citt\xC3\xA0"},
        {longTitle, "300", "", longTitle},
        {"Lato A", "A1", "", "Lato A"},
        {"Senza", "7", "--nessun-tag", ""},
    };
    int n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.track + " " + r.options);
        const std::string name = "t" + std::to_string(n++);
        tagged(name, r.title, r.track);
        ASSERT_EQ(RunCli(dir, "--quiet -o . " + r.options + " " + name + ".wav").code, 0);
        const std::vector<std::string> want =
            r.options.empty() ? std::vector<std::string>{"TITLE=" + r.titleOut, "ARTIST=Artista", "TRACKNUMBER=" + r.track,
                                                         "DATE=2024", comment}
                              : std::vector<std::string>{comment};
        EXPECT_EQ(WithoutReplayGain(DecodeOgg(dir.File(name + ".ogg")).comments), want);
    }
}

// Names from tags, tags from the command line over the source's, and a
// serial of each output's own: outputs chain into one valid file, and the
// same command gives the same bytes again.
TEST(FennickCli, NamesTagsAndSerialsFromTheCommandLine)
{
    TempDir dir;
    std::vector<uint8_t> wav = MakeWav16(Sine(8000, 8000, {440}), 1, 8000);
    WriteBytes(dir.File("senza.wav"), wav);
    std::vector<uint8_t> info;
    PutTag(info, "INFO");
    for (const auto& [id, text] : std::vector<std::pair<const char*, std::string>>{{"INAM", "Uno"}, {"IART", "Voci"}})
        PutChunk(info, id, std::vector<uint8_t>(text.begin(), text.end() + 1));
    PutChunk(wav, "LIST", info);
    for (int i = 0; i < 4; ++i)
        wav[4 + i] = static_cast<uint8_t>((wav.size() - 8) >> (8 * i));
    WriteBytes(dir.File("con.wav"), wav);

    ASSERT_EQ(RunCli(dir, "--quiet -o a -n '%a/%n %t' -a Altre -N 3 -c GENRE=Jazz -s 7 con.wav senza.wav").code, 0);
    const std::string first = dir.File("a/Altre/03 Uno.ogg"), second = dir.File("a/Altre/03 senza.ogg");
    EXPECT_EQ(WithoutReplayGain(DecodeOgg(first).comments), (std::vector<std::string>{"TITLE=Uno", "ARTIST=Altre", "TRACKNUMBER=3",
                                                                   "GENRE=Jazz", "COMMENT=Codificato con Velmar Fennick"}));
    EXPECT_EQ(ScanOggPages(first).serials.at(0), 7u);
    EXPECT_EQ(ScanOggPages(second).serials.at(0), 8u);
    // Joined, they are one chained stream of two.
    std::vector<uint8_t> chained = ReadBytes(first), tail = ReadBytes(second);
    chained.insert(chained.end(), tail.begin(), tail.end());
    WriteBytes(dir.File("catena.ogg"), chained);
    EXPECT_TRUE(ScanOggPages(dir.File("catena.ogg")).ok);
    EXPECT_EQ(DecodeOgg(dir.File("catena.ogg")).pcmTotal, 2 * 44100); // each a second, at 44.1 kHz

    // Without -s: each output a serial of its own, never 0, again the same.
    ASSERT_EQ(RunCli(dir, "--quiet -o b con.wav senza.wav").code, 0);
    const uint32_t s1 = ScanOggPages(dir.File("b/con.ogg")).serials.at(0);
    const uint32_t s2 = ScanOggPages(dir.File("b/senza.ogg")).serials.at(0);
    EXPECT_NE(s1, 0u);
    EXPECT_NE(s1, s2);
    const std::vector<uint8_t> before = ReadBytes(dir.File("b/con.ogg"));
    ASSERT_EQ(RunCli(dir, "--quiet -o b con.wav").code, 0);
    EXPECT_EQ(ReadBytes(dir.File("b/con.ogg")), before);
}

namespace {

// The value of a comment, or "" when the file has none of that name.
std::string CommentValue(const std::string& Ogg, const std::string& Name)
{
    for (const std::string& c : DecodeOgg(Ogg).comments)
        if (c.rfind(Name + "=", 0) == 0)
            return c.substr(Name.size() + 1);
    return {};
}

} // namespace

// The files of one folder are an album: every one carries the album's gain
// (their loudness as one programme) beside its own. 1 kHz in both channels
// at -23 and -13 dBFS read -23 and -13 LUFS (BS.1770), so together
// 10 log10((10^-2.3 + 10^-1.3) / 2) = -15.60 LUFS.
TEST(FennickCli, AlbumGainsByFolderAndKeptDates)
{
    TempDir dir;
    const auto tone = [&](const std::string& Name, double Dbfs) {
        std::filesystem::create_directories(std::filesystem::path(dir.File(Name)).parent_path());
        WriteBytes(dir.File(Name), MakeWav16(Sine(48000 * 5, 48000, {1000, 1000}, std::pow(10, Dbfs / 20)), 2, 48000));
        std::filesystem::last_write_time(dir.File(Name), std::filesystem::file_time_type::clock::now() - 100h);
    };
    tone("uno/a.wav", -23);
    tone("uno/b.wav", -13);
    tone("due/c.wav", -23);
    ASSERT_EQ(RunCli(dir, "--quiet -o out -r 48000 --album-gain --mantieni-data -R uno due").code, 0);
    struct Row {
        const char* file;
        double track, album, albumPeak;
    };
    const Row rows[] = {
        {"out/uno/a.ogg", 5.00, -2.40, 0.2239},
        {"out/uno/b.ogg", -5.00, -2.40, 0.2239},
        {"out/due/c.ogg", 5.00, 5.00, 0.0708},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        const std::string out = dir.File(r.file);
        EXPECT_NEAR(std::stod(CommentValue(out, "REPLAYGAIN_TRACK_GAIN")), r.track, 0.05);
        // The measure keeps a histogram (constant memory): 0.1 LU bins.
        EXPECT_NEAR(std::stod(CommentValue(out, "REPLAYGAIN_ALBUM_GAIN")), r.album, 0.1);
        EXPECT_NEAR(std::stod(CommentValue(out, "REPLAYGAIN_ALBUM_PEAK")), r.albumPeak, 2e-4);
        EXPECT_NE(CommentValue(out, "REPLAYGAIN_TRACK_GAIN").find(" dB"), std::string::npos);
        const std::string in = dir.File(std::string(r.file).substr(4, std::string(r.file).size() - 8) + ".wav");
        EXPECT_EQ(std::filesystem::last_write_time(out), std::filesystem::last_write_time(in));
    }
    // And without: no gain at all, the file's own date.
    ASSERT_EQ(RunCli(dir, "--quiet -o senza --nessun-replaygain uno/a.wav").code, 0);
    EXPECT_EQ(CommentValue(dir.File("senza/a.ogg"), "REPLAYGAIN_TRACK_GAIN"), "");
    EXPECT_GT(std::filesystem::last_write_time(dir.File("senza/a.ogg")), std::filesystem::last_write_time(dir.File("uno/a.wav")));
}

namespace {

// The picture block inside a METADATA_BLOCK_PICTURE comment: its type and data.
std::pair<uint32_t, std::vector<uint8_t>> PictureIn(const std::string& Comment)
{
    std::vector<uint8_t> b;
    uint32_t v = 0;
    int bits = 0;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (char c : Comment.substr(Comment.find('=') + 1)) {
        const char* p = c ? std::strchr(alphabet, c) : nullptr;
        if (!p)
            break;
        v = v << 6 | uint32_t(p - alphabet);
        if ((bits += 6) >= 8)
            b.push_back(static_cast<uint8_t>(v >> (bits -= 8)));
    }
    const auto be = [&](size_t At) {
        return uint32_t(b.at(At)) << 24 | uint32_t(b.at(At + 1)) << 16 | uint32_t(b.at(At + 2)) << 8 | b.at(At + 3);
    };
    size_t at = 8 + be(4);
    at += 4 + be(at) + 16;
    return {be(0), std::vector<uint8_t>(b.begin() + long(at + 4), b.begin() + long(at + 4 + be(at)))};
}

std::vector<std::string> Starting(const std::vector<std::string>& Comments, const std::string& Prefix)
{
    std::vector<std::string> out;
    for (const std::string& c : Comments)
        if (c.rfind(Prefix, 0) == 0)
            out.push_back(c);
    return out;
}

} // namespace

// A WAV's ID3 picture and its cue points reach the output: the picture byte
// for byte, the markers as chapters at the output's times; what cannot be
// carried is said; --nessun-tag leaves them out.
TEST(FennickCli, PicturesAndChaptersFromTheSource)
{
    TempDir dir;
    const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                      0, 0, 1, 0, 0, 0, 1, 0, 8, 2, 0, 0, 0, 7, 7, 7};
    // ID3v2.3: an APIC frame (front cover) in an "id3 " chunk.
    std::vector<uint8_t> apic = {0};
    for (char c : std::string("image/png"))
        apic.push_back(uint8_t(c));
    apic.insert(apic.end(), {0, 3, 'F', 'r', 'o', 'n', 't', 'e', 0});
    apic.insert(apic.end(), png.begin(), png.end());
    std::vector<uint8_t> id3 = {'I', 'D', '3', 3, 0, 0};
    const uint32_t tagSize = uint32_t(10 + apic.size());
    for (int s = 21; s >= 0; s -= 7)
        id3.push_back(uint8_t((tagSize >> s) & 0x7F));
    id3.insert(id3.end(), {'A', 'P', 'I', 'C'});
    for (int s = 24; s >= 0; s -= 8)
        id3.push_back(uint8_t(apic.size() >> s));
    id3.insert(id3.end(), {0, 0});
    id3.insert(id3.end(), apic.begin(), apic.end());
    // Two cue points, at 0.5 s and 1.25 s of 48 kHz; the second named by labl.
    std::vector<uint8_t> cue;
    PutU32(cue, 2);
    for (auto [id, frame] : std::vector<std::pair<uint32_t, uint32_t>>{{1, 24000}, {2, 60000}}) {
        PutU32(cue, id);
        PutU32(cue, frame);
        PutTag(cue, "data");
        PutU32(cue, 0);
        PutU32(cue, 0);
        PutU32(cue, frame);
    }
    std::vector<uint8_t> adtl, labl;
    PutTag(adtl, "adtl");
    PutU32(labl, 2);
    for (char c : std::string("Ritornello"))
        labl.push_back(uint8_t(c));
    labl.push_back(0);
    PutChunk(adtl, "labl", labl);
    std::vector<uint8_t> wav = MakeWav16(Sine(48000 * 2, 48000, {440, 660}), 2, 48000);
    PutChunk(wav, "id3 ", id3);
    PutChunk(wav, "cue ", cue);
    PutChunk(wav, "LIST", adtl);
    for (int i = 0; i < 4; ++i)
        wav[4 + i] = static_cast<uint8_t>((wav.size() - 8) >> (8 * i));
    WriteBytes(dir.File("con.wav"), wav);

    ASSERT_EQ(RunCli(dir, "--quiet -o out -r 44100 con.wav").code, 0);
    const std::vector<std::string> comments = DecodeOgg(dir.File("out/con.ogg")).comments;
    const auto pictures = Starting(comments, "METADATA_BLOCK_PICTURE=");
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(PictureIn(pictures[0]), std::make_pair(uint32_t(3), png));
    EXPECT_EQ(Starting(comments, "CHAPTER"), (std::vector<std::string>{"CHAPTER001=00:00:00.500", "CHAPTER002=00:00:01.250",
                                                                        "CHAPTER002NAME=Ritornello"}));

    // A FLAC file's PICTURE block, the same way (here a back cover).
    std::vector<uint8_t> flac = SndfileBytes(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, Sine(8000, 8000, {440}), 1, 8000);
    ASSERT_GT(flac.size(), 42u);
    std::vector<uint8_t> block = {0, 0, 0, 4, 0, 0, 0, 9};
    for (char c : std::string("image/png"))
        block.push_back(uint8_t(c));
    block.insert(block.end(), 20, 0); // no description, sizes not said
    for (int s = 24; s >= 0; s -= 8)
        block.push_back(uint8_t(png.size() >> s));
    block.insert(block.end(), png.begin(), png.end());
    std::vector<uint8_t> header = {uint8_t(6 | (flac[4] & 0x80)), 0, uint8_t(block.size() >> 8), uint8_t(block.size())};
    flac[4] &= 0x7F; // STREAMINFO is no longer the last block
    flac.insert(flac.begin() + 42, header.begin(), header.end());
    flac.insert(flac.begin() + 46, block.begin(), block.end());
    WriteBytes(dir.File("con.flac"), flac);
    ASSERT_EQ(RunCli(dir, "--quiet -o out con.flac").code, 0);
    const auto fromFlac = Starting(DecodeOgg(dir.File("out/con.ogg")).comments, "METADATA_BLOCK_PICTURE=");
    ASSERT_EQ(fromFlac.size(), 1u);
    EXPECT_EQ(PictureIn(fromFlac[0]), std::make_pair(uint32_t(4), png));

    // A cover file instead, one too big, one that is no picture; and none at all.
    WriteBytes(dir.File("grande.png"), std::vector<uint8_t>((16u << 20) + 1, 0x89));
    WriteBytes(dir.File("testo.jpg"), {'c', 'i', 'a', 'o'});
    WriteBytes(dir.File("front.PNG"), png);
    struct Row {
        const char* options;
        size_t pictures;
        const char* warning;
    };
    const Row rows[] = {
        {"--copertina front.PNG", 1, nullptr},
        {"--copertina grande.png", 1, "\"grande.png\": supera i 16 MiB"},
        {"--copertina testo.jpg", 0, "\"testo.jpg\": non è un JPEG né un PNG"},
        {"--nessun-tag", 0, nullptr},
        {"--nessun-tag --copertina auto", 1, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.options);
        const Result res = RunCli(dir, std::string("-o out2 ") + r.options + " con.wav");
        EXPECT_EQ(res.code, 0) << res.err;
        const auto got = DecodeOgg(dir.File("out2/con.ogg")).comments;
        EXPECT_EQ(Starting(got, "METADATA_BLOCK_PICTURE=").size(), r.pictures);
        if (r.warning) {
            EXPECT_NE(res.err.find(r.warning), std::string::npos) << res.err;
        }
        if (std::string(r.options).find("nessun-tag") != std::string::npos) {
            EXPECT_TRUE(Starting(got, "CHAPTER").empty());
        }
    }
}

// "-" through real pipes: a WAVE file of unknown length as ffmpeg writes it,
// and a FLAC file, give the stream the same samples given by name give, on
// the standard output with the summary on stderr, or in stdin.ogg under -o;
// a reader of the stream that goes away ends the run as SIGPIPE would.
TEST(FennickCli, TheStandardInputThroughPipes)
{
    TempDir dir;
    const std::vector<int16_t> src = Sine(3 * 44100, 44100, {440, 660});
    std::vector<uint8_t> wav = MakeWav16(src, 2, 44100);
    WriteBytes(dir.File("brano.wav"), wav);
    for (size_t at : {4, 40})
        std::memset(wav.data() + at, 0xFF, 4);
    WriteBytes(dir.File("ffmpeg.wav"), wav);
    WriteBytes(dir.File("brano.flac"), SndfileBytes(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, src, 2, 44100));
    // The standard output gets no ReplayGain (its header cannot be written
    // again at the end): the file by name, without it, has a header as long.
    ASSERT_EQ(RunCli(dir, "--quiet --nessun-replaygain -o nome brano.wav").code, 0);
    const std::string named = dir.File("nome/brano.ogg");
    for (const char* in : {"ffmpeg.wav", "brano.flac"}) {
        SCOPED_TRACE(in);
        const Result r = RunShell(dir, std::string("cat ") + in + " | CLI - > flusso.ogg");
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "1 file codificato, 0 saltati, 0 errori → uscita standard\n");
        // The same packets: the same pages and samples, under another serial.
        EXPECT_EQ(ReadBytes(dir.File("flusso.ogg")).size(), ReadBytes(named).size());
        EXPECT_EQ(DecodeOgg(dir.File("flusso.ogg")).pcm, DecodeOgg(named).pcm);
    }
    EXPECT_EQ(RunShell(dir, "cat brano.flac | CLI --quiet -o cartella -").code, 0);
    EXPECT_EQ(DecodeOgg(dir.File("cartella/stdin.ogg")).pcm, DecodeOgg(named).pcm);

    // More than a pipe holds (64 KiB), so the writes must meet the closed end.
    WriteBytes(dir.File("lungo.wav"), MakeWav16(Sine(30 * 44100, 44100, {440, 660}), 2, 44100));
    const Result closed = RunShell(dir, "{ CLI - < lungo.wav; echo $? > stato; } | head -c 100 > /dev/null");
    EXPECT_EQ(Text(dir.File("stato")), "141\n");
    EXPECT_EQ(closed.err, "fennick-cli: interrotto\n");
}
