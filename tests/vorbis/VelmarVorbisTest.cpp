#include "vorbis/VelmarVorbis.h"

#include "sources/VelmarConverters.h"
#include "sources/VelmarWave.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <mutex>

using namespace velmar;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// The chain of the wizard, on one file, waiting for the run's end.
struct Chain {
    TComponent owner;
    TVelmarWaveIn* wave;
    TVelmarRateConverter* rate;
    TVelmarVorbisOut* vorbis;
    std::mutex m;
    std::condition_variable cv;
    bool ended = false;
    std::string error;

    Chain(const std::string& in, const std::string& out, int outRate, float quality = 0.4f)
    {
        LoadCodecLibraries();
        wave = TComponent::Create<TVelmarWaveIn>(&owner);
        rate = TComponent::Create<TVelmarRateConverter>(&owner);
        vorbis = TComponent::Create<TVelmarVorbisOut>(&owner);
        wave->SetFileName(in);
        rate->SetInput(wave);
        rate->SetOutSampleRate(outRate);
        vorbis->SetInput(rate);
        vorbis->SetFileName(out);
        vorbis->SetCompression(quality);
        vorbis->OnDone = [this](TComponent*) { End({}); };
        vorbis->OnThreadException = [this](TComponent*, const std::exception& e) { End(e.what()); };
    }
    void End(const std::string& e)
    {
        std::lock_guard<std::mutex> g(m);
        error = e;
        ended = true;
        cv.notify_all();
    }
    // Runs to the end; returns the failure, empty on success.
    std::string Run()
    {
        vorbis->Run();
        std::unique_lock<std::mutex> g(m);
        EXPECT_TRUE(cv.wait_for(g, 60s, [this] { return ended; }));
        ended = false;
        return error;
    }
};

double Rms(const std::vector<float>& s)
{
    double e = 0;
    for (float v : s)
        e += double(v) * v;
    return std::sqrt(e / std::max<size_t>(1, s.size()));
}

} // namespace

TEST(VelmarVorbis, EncodesWhatTheIndependentDecoderReadsBack)
{
    struct Case {
        const char* name;
        std::vector<double> freqs; // one tone per channel
        int inRate, outRate;
    };
    const std::vector<Case> cases = {
        {"mono 44100", {440}, 44100, 44100},
        {"stereo 48000 to 44100", {500, 1500}, 48000, 44100},
        {"stereo 22050 to 44100", {700, 300}, 22050, 44100},
        {"mono 44100 to 8000", {1000}, 44100, 8000},
        {"5.1 44100 (LFE low)", {300, 500, 700, 60, 900, 1300}, 44100, 44100},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TempDir dir;
        const int ch = static_cast<int>(k.freqs.size());
        const int frames = k.inRate * 2;
        WriteBytes(dir.File("in.wav"), MakeWav16(Sine(frames, k.inRate, k.freqs), ch, k.inRate));
        Chain c(dir.File("in.wav"), dir.File("out.ogg"), k.outRate);
        ASSERT_EQ(c.Run(), "");

        DecodedOgg d = DecodeOgg(dir.File("out.ogg"));
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.channels, ch);
        EXPECT_EQ(d.rate, k.outRate);
        const double wantFrames = double(frames) * k.outRate / k.inRate;
        EXPECT_NEAR(double(d.pcm[0].size()), wantFrames, 2.0);

        OggPages p = ScanOggPages(dir.File("out.ogg"));
        EXPECT_TRUE(p.ok);
        EXPECT_TRUE(p.lastIsEos);
        EXPECT_EQ(p.lastGranule, int64_t(d.pcm[0].size()));
        for (uint32_t s : p.serials)
            EXPECT_EQ(s, 0u);

        // Each WAVE channel's tone comes back on that channel, in Vorbis order.
        static const int order6[] = {0, 2, 1, 4, 5, 3};
        for (int v = 0; v < ch; ++v) {
            const int wav = ch == 6 ? order6[v] : v;
            const double own = ToneLevelDb(d.pcm[v], double(k.outRate), k.freqs[wav]);
            EXPECT_NEAR(own, 20 * std::log10(0.5), 2.5) << "channel " << v;
            for (int o = 0; o < ch; ++o) {
                if (k.freqs[o] != k.freqs[wav]) {
                    EXPECT_LT(ToneLevelDb(d.pcm[v], double(k.outRate), k.freqs[o]), own - 30) << "channel " << v;
                }
            }
        }
    }
}

TEST(VelmarVorbis, EmptyInputGivesACompleteEmptyStream)
{
    TempDir dir;
    WriteBytes(dir.File("in.wav"), MakeWav16({}, 2, 44100));
    Chain c(dir.File("in.wav"), dir.File("out.ogg"), 44100);
    ASSERT_EQ(c.Run(), "");
    OggPages p = ScanOggPages(dir.File("out.ogg"));
    EXPECT_TRUE(p.ok);
    EXPECT_TRUE(p.lastIsEos);
    DecodedOgg d = DecodeOgg(dir.File("out.ogg"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.pcm[0].size(), 0u);
}

TEST(VelmarVorbis, StoppedFileIsStillAValidStream)
{
    TempDir dir;
    const int frames = 44100 * 60;
    WriteBytes(dir.File("in.wav"), MakeWav16(Sine(frames, 44100, {440, 440}), 2, 44100));
    Chain c(dir.File("in.wav"), dir.File("out.ogg"), 44100);
    c.vorbis->OnProgress = [&](TComponent*) {
        if (c.vorbis->Progress() >= 5)
            c.vorbis->Stop();
    };
    ASSERT_EQ(c.Run(), "");
    OggPages p = ScanOggPages(dir.File("out.ogg"));
    EXPECT_TRUE(p.ok);
    EXPECT_TRUE(p.lastIsEos);
    DecodedOgg d = DecodeOgg(dir.File("out.ogg"));
    ASSERT_TRUE(d.ok);
    EXPECT_GT(d.pcm[0].size(), 0u);
    EXPECT_LT(d.pcm[0].size(), size_t(frames / 2));
    EXPECT_EQ(p.lastGranule, int64_t(d.pcm[0].size()));
}

TEST(VelmarVorbis, QualityChangesTheSize)
{
    TempDir dir;
    std::vector<int16_t> noise(44100 * 2 * 3);
    uint32_t x = 1;
    for (auto& v : noise)
        v = static_cast<int16_t>((x = x * 1664525u + 1013904223u) >> 18);
    WriteBytes(dir.File("in.wav"), MakeWav16(noise, 2, 44100));
    Chain low(dir.File("in.wav"), dir.File("q1.ogg"), 44100, 0.1f);
    ASSERT_EQ(low.Run(), "");
    Chain high(dir.File("in.wav"), dir.File("q9.ogg"), 44100, 0.9f);
    ASSERT_EQ(high.Run(), "");
    EXPECT_GT(ReadBytes(dir.File("q9.ogg")).size(), 2 * ReadBytes(dir.File("q1.ogg")).size());
}

TEST(VelmarVorbis, SampleScaleAndDroppedPartialFrame)
{
    TempDir dir;
    // A stereo data chunk with a dangling odd sample: only whole frames are encoded.
    std::vector<int16_t> s = Sine(20000, 44100, {1000, 1000}, 1.0);
    s.push_back(123);
    WriteBytes(dir.File("in.wav"), MakeWav16(s, 2, 44100));
    Chain c(dir.File("in.wav"), dir.File("out.ogg"), 44100);
    ASSERT_EQ(c.Run(), "");
    DecodedOgg d = DecodeOgg(dir.File("out.ogg"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.pcm[0].size(), 20000u);
    EXPECT_NEAR(Rms(d.pcm[0]), std::sqrt(0.5), 0.05); // full scale stays full scale
}

TEST(VelmarVorbis, FailedRunsLeaveNoFileAndReportTheReason)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<uint8_t> input;
        std::string output;
        const char* reason;
    };
    std::vector<uint8_t> good = MakeWav16(Sine(1000, 44100, {440}), 1, 44100);
    const std::vector<Case> cases = {
        {"bad input", std::vector<uint8_t>(50, 'x'), dir.File("a.ogg"), "non è un file WAVE"},
        {"no output name", good, "", "File name is not assigned."},
        {"folder missing", good, dir.File("missing/a.ogg"), "la cartella non esiste"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        WriteBytes(dir.File("in.wav"), k.input);
        Chain c(dir.File("in.wav"), k.output, 44100);
        std::string e = c.Run();
        EXPECT_NE(e.find(k.reason), std::string::npos) << e;
        if (!k.output.empty()) {
            EXPECT_FALSE(FileExists(k.output));
        }
        EXPECT_FALSE(c.vorbis->Busy());
        EXPECT_FALSE(c.wave->Busy());
    }
}

namespace {
// A stream that accepts Limit bytes and then reports a full disk.
class FullDisk : public TMemoryStream {
public:
    explicit FullDisk(int64_t limit) : Limit(limit) {}
    int64_t Write(const void* b, int64_t n) override
    {
        int64_t room = std::max<int64_t>(0, Limit - Size());
        return TMemoryStream::Write(b, std::min(n, room));
    }
    int64_t Limit;
};
} // namespace

TEST(VelmarVorbis, ShortWritesFailTheRun)
{
    TempDir dir;
    WriteBytes(dir.File("in.wav"), MakeWav16(Sine(44100 * 5, 44100, {440, 660}), 2, 44100));
    for (int64_t limit : {100, 20000}) { // in the headers, and in the audio
        SCOPED_TRACE(limit);
        FullDisk disk(limit);
        Chain c(dir.File("in.wav"), "", 44100);
        c.vorbis->SetStream(&disk);
        EXPECT_EQ(c.Run(), "impossibile scrivere il file: scrittura incompleta");
    }
}

TEST(VelmarVorbis, CommentsGoIntoTheHeaderOnceWithTheFirstValueOfAName)
{
    TempDir dir;
    WriteBytes(dir.File("in.wav"), MakeWav16(Sine(4410, 44100, {440}), 1, 44100));
    Chain c(dir.File("in.wav"), dir.File("out.ogg"), 44100);
    c.vorbis->SetComments({"TITLE=uno", "ARTIST=due", "title=tre"});
    ASSERT_EQ(c.Run(), "");
    DecodedOgg d = DecodeOgg(dir.File("out.ogg"));
    std::vector<std::string> want{"TITLE=uno", "ARTIST=due", "title=uno"};
    EXPECT_EQ(d.comments, want);
    EXPECT_TRUE(c.vorbis->Comments().empty()); // cleared after the run
    ASSERT_EQ(c.Run(), "");
    EXPECT_TRUE(DecodeOgg(dir.File("out.ogg")).comments.empty());
}

TEST(CodecBinding, MissingLibrariesAreNamedInOrder)
{
    struct Case {
        const char* name;
        bool ogg, vorbis, enc, file; // which are missing
        const char* message;
    };
    const Case cases[] = {
        {"vorbisfile", false, false, false, true, "vorbisfile.dll library could not be loaded."},
        {"ogg and vorbisenc", true, false, true, false, "ogg.dll library could not be loaded."},
        {"vorbisenc and vorbisfile", false, false, true, true, "vorbisfile.dll library could not be loaded."},
        {"vorbis", false, true, false, false, "vorbis.dll library could not be loaded."},
        {"vorbisenc", false, false, true, false, "vorbisenc.dll library could not be loaded."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        // A library without the entry points counts as missing too.
        ogg::SetLibraryFile(k.ogg ? "libm.so.6" : "libogg.so.0");
        Codec::SetLibraryFile(k.vorbis ? "libnot-there.so.0" : "libvorbis.so.0");
        VorbisEnc::SetLibraryFile(k.enc ? "libnot-there.so.2" : "libvorbisenc.so.2");
        VorbisFile::SetLibraryFile(k.file ? "libnot-there.so.3" : "libvorbisfile.so.3");
        LoadCodecLibraries();
        try {
            TVelmarVorbisOut out;
            ADD_FAILURE() << "created";
        } catch (const VelmarException& e) {
            EXPECT_STREQ(e.what(), k.message);
        }
    }
    ogg::SetLibraryFile("libogg.so.0");
    Codec::SetLibraryFile("libvorbis.so.0");
    VorbisEnc::SetLibraryFile("libvorbisenc.so.2");
    VorbisFile::SetLibraryFile("libvorbisfile.so.3");
    LoadCodecLibraries();
    EXPECT_TRUE(ogg::OggLibLoaded && Codec::VorbisLibLoaded && VorbisEnc::VorbisEncLibLoaded &&
                VorbisFile::VorbisFileLibLoaded);
    EXPECT_NO_THROW(TVelmarVorbisOut());
}

TEST(VelmarVorbis, AFailedRunLeavesAnEarlierFileOfTheSameNameAsItWas)
{
    TempDir dir;
    const std::vector<uint8_t> earlier{'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    WriteBytes(dir.File("out.ogg"), earlier);
    WriteBytes(dir.File("in.wav"), MakeWav16(Sine(44100 * 5, 44100, {440, 660}), 2, 44100));
    Chain c(dir.File("in.wav"), dir.File("out.ogg"), 44100);
    // A step fails in the middle of the file.
    c.vorbis->OnProgress = [&](TComponent*) {
        if (c.vorbis->Progress() >= 20)
            throw VelmarException("disk went away");
    };
    EXPECT_EQ(c.Run(), "disk went away");
    EXPECT_EQ(ReadBytes(dir.File("out.ogg")), earlier);
    EXPECT_FALSE(FileExists(dir.File("out.ogg.part")));

    c.vorbis->OnProgress = nullptr;
    ASSERT_EQ(c.Run(), "");
    EXPECT_TRUE(DecodeOgg(dir.File("out.ogg")).ok); // a complete one replaces it
    EXPECT_FALSE(FileExists(dir.File("out.ogg.part")));
}
