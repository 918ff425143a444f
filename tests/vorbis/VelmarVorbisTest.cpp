#include "vorbis/VelmarVorbis.h"

#include "sources/VelmarConverters.h"
#include "sources/VelmarWave.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <condition_variable>
#include <filesystem>
#include <thread>
#include <mutex>
#include <set>

using namespace velmar;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// The chain of the wizard, on one file (or on an input the test builds),
// waiting for the run's end.
struct Chain {
    TComponent owner;
    TVelmarWaveIn* wave = nullptr;
    TVelmarRateConverter* rate;
    TVelmarVorbisOut* vorbis;
    std::mutex m;
    std::condition_variable cv;
    bool ended = false;
    std::string error;

    Chain(const std::string& in, const std::string& out, int outRate, float quality = 0.4f)
        : Chain(nullptr, out, outRate, quality)
    {
        wave = TComponent::Create<TVelmarWaveIn>(&owner);
        wave->SetFileName(in);
        rate->SetInput(wave);
    }
    Chain(TVelmarInput* source, const std::string& out, int outRate, float quality = 0.4f)
    {
        LoadCodecLibraries();
        rate = TComponent::Create<TVelmarRateConverter>(&owner);
        vorbis = TComponent::Create<TVelmarVorbisOut>(&owner);
        rate->SetInput(source);
        rate->SetOutSampleRate(outRate);
        vorbis->SetInput(rate);
        vorbis->SetFileName(out);
        vorbis->SetCompression(quality);
        vorbis->OnDone = [this](TComponent*) { End({}); };
        vorbis->OnThreadException = [this](TComponent*, const std::exception& e) { End(e.what()); };
    }
    ~Chain() { owner.DestroyComponent(vorbis); } // before the input it may pull from
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
        return Wait();
    }
    std::string Wait()
    {
        std::unique_lock<std::mutex> g(m);
        EXPECT_TRUE(cv.wait_for(g, 60s, [this] { return ended; }));
        ended = false;
        return error;
    }
};

// The names in a folder, sorted.
std::vector<std::string> Listing(const std::string& Dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// For each Vorbis channel, the WAVE channel it carries.
int WaveChannel(int Channels, int Vorbis)
{
    static const int c3[] = {0, 2, 1}, c6[] = {0, 2, 1, 4, 5, 3};
    return Channels == 3 ? c3[Vorbis] : Channels == 6 ? c6[Vorbis] : Vorbis;
}

double Rms(const std::vector<float>& s)
{
    double e = 0;
    for (float v : s)
        e += double(v) * v;
    return std::sqrt(e / std::max<size_t>(1, s.size()));
}

// Interleaved floats: a sine of Freq[c] Hz at Amp on channel c.
std::vector<float> FloatSine(int Frames, int Rate, const std::vector<double>& Freq, double Amp)
{
    std::vector<float> s;
    for (int i = 0; i < Frames; ++i)
        for (double f : Freq)
            s.push_back(static_cast<float>(Amp * std::sin(2 * M_PI * f * i / Rate)));
    return s;
}

} // namespace

TEST(VelmarVorbis, EncodesWhatTheIndependentDecoderReadsBack)
{
    struct Case {
        const char* name;
        std::vector<double> freqs; // one tone per channel
        int inRate, outRate;
        // Float samples at +6 dBFS handed in from memory, instead of a
        // 16-bit WAVE file at -6 dBFS.
        bool asFloat = false;
        bool highQuality = false;
    };
    const std::vector<Case> cases = {
        {"mono 44100", {440}, 44100, 44100},
        {"stereo 48000 to 44100", {500, 1500}, 48000, 44100},
        {"stereo 22050 to 44100", {700, 300}, 22050, 44100},
        {"mono 44100 to 8000", {1000}, 44100, 8000},
        {"5.1 44100 (LFE low)", {300, 500, 700, 60, 900, 1300}, 44100, 44100},
        // Rates whose blocks once ran past the converter's output block.
        {"mono 41263 to 44100", {440}, 41263, 44100},
        {"stereo 41263 to 44100", {500, 1500}, 41263, 44100},
        {"3 channels 16377 to 44100", {300, 700, 1100}, 16377, 44100},
        // Beyond full scale, kept all the way.
        {"float stereo 44100", {500, 1500}, 44100, 44100, true},
        {"float 3 channels 44100", {300, 500, 700}, 44100, 44100, true},
        {"float stereo 48000 to 44100, high quality", {500, 1500}, 48000, 44100, true, true},
        {"float mono 22050 to 44100, whole frames", {700}, 22050, 44100, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TempDir dir;
        const int ch = static_cast<int>(k.freqs.size());
        const int frames = k.inRate * 2;
        const double amp = k.asFloat ? 2.0 : 0.5;
        TComponent sources;
        std::unique_ptr<Chain> made;
        if (k.asFloat) {
            auto* in = TComponent::Create<MemoryInput>(
                &sources, FloatsToBytes(FloatSine(frames, k.inRate, k.freqs, amp)), ch, k.inRate,
                TSampleFormat::Float32);
            made = std::make_unique<Chain>(in, dir.File("out.ogg"), k.outRate);
        } else {
            WriteBytes(dir.File("in.wav"), MakeWav16(Sine(frames, k.inRate, k.freqs, amp), ch, k.inRate));
            made = std::make_unique<Chain>(dir.File("in.wav"), dir.File("out.ogg"), k.outRate);
        }
        Chain& c = *made;
        c.rate->SetAltaQualita(k.highQuality);
        ASSERT_EQ(c.Run(), "");

        DecodedOgg d = DecodeOgg(dir.File("out.ogg"));
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.channels, ch);
        EXPECT_EQ(d.rate, k.outRate);
        const double wantFrames = double(frames) * k.outRate / k.inRate;
        EXPECT_NEAR(double(d.pcm[0].size()), wantFrames, 2.0);
        EXPECT_EQ(c.vorbis->FramesFed(), int64_t(d.pcm[0].size()));

        OggPages p = ScanOggPages(dir.File("out.ogg"));
        EXPECT_TRUE(p.ok);
        EXPECT_TRUE(p.lastIsEos);
        EXPECT_EQ(p.lastGranule, int64_t(d.pcm[0].size()));
        for (uint32_t s : p.serials)
            EXPECT_EQ(s, 0u);

        // Each WAVE channel's tone comes back on that channel, in Vorbis order.
        for (int v = 0; v < ch; ++v) {
            const int wav = WaveChannel(ch, v);
            const double own = ToneLevelDb(d.pcm[v], double(k.outRate), k.freqs[wav]);
            EXPECT_NEAR(own, 20 * std::log10(amp), 2.5) << "channel " << v;
            for (int o = 0; o < ch; ++o) {
                if (k.freqs[o] != k.freqs[wav]) {
                    EXPECT_LT(ToneLevelDb(d.pcm[v], double(k.outRate), k.freqs[o]), own - 30) << "channel " << v;
                }
            }
            if (!k.asFloat)
                continue;
            EXPECT_NEAR(*std::max_element(d.pcm[v].begin(), d.pcm[v].end()), amp, 0.1) << "channel " << v;
            if (k.inRate != k.outRate)
                continue;
            // Sample for sample, within the codec's error.
            const std::vector<float> src = FloatSine(frames, k.inRate, k.freqs, amp);
            double err = 0, sig = 0;
            for (int i = 0; i < frames; ++i) {
                const double x = src[size_t(i * ch + wav)], y = d.pcm[v][size_t(i)];
                err += (y - x) * (y - x);
                sig += x * x;
            }
            EXPECT_LT(10 * std::log10(err / sig), -25.0) << "channel " << v;
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
    // Each failure follows a run that succeeded, as in a batch.
    WriteBytes(dir.File("in.wav"), good);
    Chain c(dir.File("in.wav"), dir.File("first.ogg"), 44100);
    ASSERT_EQ(c.Run(), "");
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        WriteBytes(dir.File("in.wav"), k.input);
        c.vorbis->SetFileName(k.output);
        std::string e = c.Run();
        EXPECT_NE(e.find(k.reason), std::string::npos) << e;
        EXPECT_FALSE(c.vorbis->Busy());
        EXPECT_FALSE(c.wave->Busy());
        // Nothing but the earlier output, no temporary file either.
        EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"first.ogg", "in.wav"}));
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

TEST(VelmarVorbis, CommentsGoIntoTheHeaderAsGivenInOrder)
{
    TempDir dir;
    WriteBytes(dir.File("in.wav"), MakeWav16(Sine(4410, 44100, {440}), 1, 44100));
    Chain c(dir.File("in.wav"), dir.File("out.ogg"), 44100);
    // A name given twice keeps both values; what is no comment stays out.
    c.vorbis->SetComments({"TITLE=uno", "ARTIST=due", "title=tre", "senza uguale", "=vuoto", "ARTIST=a=b"});
    ASSERT_EQ(c.Run(), "");
    DecodedOgg d = DecodeOgg(dir.File("out.ogg"));
    std::vector<std::string> want{"TITLE=uno", "ARTIST=due", "title=tre", "ARTIST=a=b"};
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
        {"vorbisfile", false, false, false, true, "manca la libreria libnot-there.so.3"},
        {"ogg and vorbisenc", true, false, true, false, "manca la libreria libm.so.6"},
        {"vorbisenc and vorbisfile", false, false, true, true, "manca la libreria libnot-there.so.3"},
        {"vorbis", false, true, false, false, "manca la libreria libnot-there.so.0"},
        {"vorbisenc", false, false, true, false, "manca la libreria libnot-there.so.2"},
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
    const std::vector<std::string> only{"in.wav", "out.ogg"}; // no temporary file left
    EXPECT_EQ(Listing(dir.Path()), only);
    EXPECT_EQ(c.vorbis->TemporaryFileName(), "");

    c.vorbis->OnProgress = nullptr;
    ASSERT_EQ(c.Run(), "");
    EXPECT_TRUE(DecodeOgg(dir.File("out.ogg")).ok); // a complete one replaces it
    EXPECT_EQ(Listing(dir.Path()), only);
}

TEST(VelmarVorbis, TwoWritersOfOneOutputEachLeaveAWholeStream)
{
    // The longest name a folder takes: the temporary one must still fit.
    for (const std::string& name : {std::string("out.ogg"), std::string(251, 'n') + ".ogg"}) {
        SCOPED_TRACE(name.size());
        TempDir dir;
        const int framesA = 44100, framesB = 3 * 44100;
        WriteBytes(dir.File("a.wav"), MakeWav16(Sine(framesA, 44100, {440, 660}), 2, 44100));
        WriteBytes(dir.File("b.wav"), MakeWav16(Sine(framesB, 44100, {550}), 1, 44100));
        for (int round = 0; round < 3; ++round) {
            Chain a(dir.File("a.wav"), dir.File(name), 44100), b(dir.File("b.wav"), dir.File(name), 44100);
            std::mutex seenLock;
            std::set<std::string> seen;
            for (Chain* c : {&a, &b}) {
                c->vorbis->OnProgress = [c, &seen, &seenLock](TComponent*) {
                    const std::string t = c->vorbis->TemporaryFileName();
                    std::lock_guard<std::mutex> g(seenLock);
                    if (!t.empty() && FileExists(t))
                        seen.insert(t);
                };
            }
            a.vorbis->Run();
            b.vorbis->Run();
            ASSERT_EQ(a.Wait(), "");
            ASSERT_EQ(b.Wait(), "");
            // Each writer had a hidden file of its own next to the output.
            EXPECT_EQ(seen.size(), 2u);
            for (const std::string& t : seen)
                EXPECT_EQ(t.rfind(dir.Path() + "/.", 0), 0u) << t;

            DecodedOgg d = DecodeOgg(dir.File(name));
            ASSERT_TRUE(d.ok);
            EXPECT_TRUE(ScanOggPages(dir.File(name)).ok);
            const int64_t frames = int64_t(d.pcm[0].size());
            EXPECT_TRUE((d.channels == 2 && frames == framesA) || (d.channels == 1 && frames == framesB))
                << d.channels << " channels, " << frames << " frames";
            EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"a.wav", "b.wav", name}));
        }
    }
}

TEST(VelmarVorbis, LengthIsCheckedAgainstWhatTheInputDeclared)
{
    struct Case {
        const char* name;
        int64_t declared; // bytes; -1: not known
        bool ok;
        bool exact = true; // false: the declared size is an estimate
    };
    const int frames = 30000; // stereo 16-bit: 120000 bytes, four blocks
    const Case cases[] = {
        {"as declared", frames * 4, true},
        {"not declared", -1, true},
        {"fewer than declared", frames * 8, false},
        {"more than declared", frames * 2, false},
        // A reader that loses or repeats one piece of 4 frames: as many
        // frames as the run has blocks, so no tolerance per block hides it.
        {"one piece lost", (frames + 4) * 4, false},
        {"one piece doubled", (frames - 4) * 4, false},
        {"an estimate is no promise", frames * 8, true, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TempDir dir;
        WriteBytes(dir.File("out.ogg"), {'o', 'l', 'd'});
        TComponent sources;
        auto* in = TComponent::Create<MemoryInput>(&sources, Samples16ToBytes(Sine(frames, 44100, {440, 660})), 2,
                                                   44100);
        in->Declared = k.declared;
        in->Exact = k.exact;
        Chain c(in, dir.File("out.ogg"), 44100);
        const std::string e = c.Run();
        EXPECT_EQ(c.vorbis->FramesFed(), frames);
        EXPECT_EQ(c.vorbis->FramesExpected(), k.declared < 0 ? -1 : k.declared / 4);
        if (k.ok) {
            EXPECT_EQ(e, "");
            EXPECT_EQ(int64_t(DecodeOgg(dir.File("out.ogg")).pcm.at(0).size()), frames);
        } else {
            EXPECT_NE(e.find("la lunghezza codificata non torna: codificati 30000 campioni per canale su"),
                      std::string::npos) << e;
            EXPECT_EQ(ReadBytes(dir.File("out.ogg")), (std::vector<uint8_t>{'o', 'l', 'd'}));
        }
        EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"out.ogg"});
    }
}

namespace {

// The audio packets of the one stream in an Ogg file, in order.
std::vector<std::vector<uint8_t>> AudioPackets(const std::string& Path)
{
    const std::vector<uint8_t> bytes = ReadBytes(Path);
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buf = ogg_sync_buffer(&sync, long(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), buf);
    ogg_sync_wrote(&sync, long(bytes.size()));
    ogg_stream_state stream;
    bool started = false;
    ogg_page page;
    ogg_packet packet;
    std::vector<std::vector<uint8_t>> packets;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (!started)
            ogg_stream_init(&stream, ogg_page_serialno(&page));
        started = true;
        ogg_stream_pagein(&stream, &page);
        while (ogg_stream_packetout(&stream, &packet) == 1)
            packets.emplace_back(packet.packet, packet.packet + packet.bytes);
    }
    if (started)
        ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    if (packets.size() >= 3)
        packets.erase(packets.begin(), packets.begin() + 3);
    return packets;
}

// libvorbis driven directly, as oggenc drives it for its options: Setup
// prepares the vorbis_info, then planar floats go in 1024 frames at a time.
std::vector<std::vector<uint8_t>> ReferencePackets(const std::vector<std::vector<float>>& Planar, int Rate,
                                                   const std::function<void(vorbis_info&)>& Setup)
{
    vorbis_info vi;
    vorbis_info_init(&vi);
    Setup(vi);
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &vi);
    vorbis_block_init(&dsp, &block);
    std::vector<std::vector<uint8_t>> packets;
    ogg_packet p;
    const auto drain = [&] {
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            while (vorbis_bitrate_flushpacket(&dsp, &p) == 1)
                packets.emplace_back(p.packet, p.packet + p.bytes);
        }
    };
    const size_t frames = Planar[0].size();
    for (size_t done = 0; done < frames;) {
        const size_t n = std::min<size_t>(1024, frames - done);
        float** b = vorbis_analysis_buffer(&dsp, int(n));
        for (size_t c = 0; c < Planar.size(); ++c)
            std::copy_n(Planar[c].begin() + long(done), n, b[c]);
        vorbis_analysis_wrote(&dsp, int(n));
        drain();
        done += n;
    }
    vorbis_analysis_wrote(&dsp, 0);
    drain();
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_info_clear(&vi);
    (void)Rate;
    return packets;
}

} // namespace

// Each of oggenc's ways of choosing the bit rate, and its stereo-to-mono
// mix, give the packets libvorbis itself gives for them.
TEST(VelmarVorbis, ModesAndDownmixGiveTheReferencePackets)
{
    TempDir dir;
    const int rate = 44100;
    const std::vector<int16_t> pcm = Sine(rate * 2, rate, {440, 3300}, 0.6);
    WriteBytes(dir.File("in.wav"), MakeWav16(pcm, 2, rate));
    std::vector<std::vector<float>> stereo(2), mono(1);
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
        const float l = pcm[i] / 32768.0f, r = pcm[i + 1] / 32768.0f;
        stereo[0].push_back(l);
        stereo[1].push_back(r);
        mono[0].push_back((l + r) * 0.5f);
    }
    const auto managedOff = [](vorbis_info& vi) { vorbis_encode_ctl(&vi, OV_ECTL_RATEMANAGE2_SET, nullptr); };
    struct Row {
        const char* name;
        float quality;
        TVorbisMode mode;
        bool downmix;
        std::function<void(vorbis_info&, int)> setup; // Channels
    };
    const Row rows[] = {
        {"quality 4", 0.4f, {}, false,
         [](vorbis_info& vi, int ch) { vorbis_encode_init_vbr(&vi, ch, 44100, 0.4f); }},
        {"quality -1", -0.1f, {.Quality = true}, false,
         [](vorbis_info& vi, int ch) { vorbis_encode_init_vbr(&vi, ch, 44100, -0.1f); }},
        {"average 96 kbit/s", 0.4f, {.Nominal = 96}, false,
         [&](vorbis_info& vi, int ch) {
             vorbis_encode_setup_managed(&vi, ch, 44100, -1, 96000, -1);
             managedOff(vi);
             vorbis_encode_setup_init(&vi);
         }},
        {"managed average 128", 0.4f, {.Nominal = 128, .Managed = true}, false,
         [](vorbis_info& vi, int ch) {
             vorbis_encode_setup_managed(&vi, ch, 44100, -1, 128000, -1);
             vorbis_encode_setup_init(&vi);
         }},
        {"managed 64 to 112", 0.4f, {.Minimum = 64, .Maximum = 112, .Managed = true}, false,
         [](vorbis_info& vi, int ch) {
             vorbis_encode_setup_managed(&vi, ch, 44100, 112000, -1000, 64000);
             ovectl_ratemanage2_arg ai;
             vorbis_encode_ctl(&vi, OV_ECTL_RATEMANAGE2_GET, &ai);
             ai.bitrate_average_kbps = -1;
             vorbis_encode_ctl(&vi, OV_ECTL_RATEMANAGE2_SET, &ai);
             vorbis_encode_setup_init(&vi);
         }},
        {"mixed to mono", 0.4f, {}, true,
         [](vorbis_info& vi, int ch) { vorbis_encode_init_vbr(&vi, ch, 44100, 0.4f); }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Chain c(dir.File("in.wav"), dir.File("out.ogg"), rate, r.quality);
        c.vorbis->SetMode(r.mode);
        c.vorbis->SetDownmix(r.downmix);
        ASSERT_EQ(c.Run(), "");
        const auto& planar = r.downmix ? mono : stereo;
        const auto want = ReferencePackets(planar, rate, [&](vorbis_info& vi) { r.setup(vi, int(planar.size())); });
        const auto got = AudioPackets(dir.File("out.ogg"));
        EXPECT_EQ(got.size(), want.size());
        EXPECT_TRUE(got == want);
    }
    // Only stereo is mixed to mono.
    WriteBytes(dir.File("tre.wav"), MakeWav16(Sine(4410, rate, {440, 550, 660}), 3, rate));
    Chain three(dir.File("tre.wav"), dir.File("tre.ogg"), rate);
    three.vorbis->SetDownmix(true);
    EXPECT_NE(three.Run().find("solo un file stereo, questo ha 3 canali"), std::string::npos);
}

// A 16-bit tone whose samples touch full scale between which its wave rises
// 3 dB higher: resampled, the new samples land on those peaks. Nothing may
// clip them before the encoder: the file decodes as cleanly as the same
// samples handed in as floats.
TEST(VelmarVorbis, AHotSixteenBitToneResampledKeepsItsPeaks)
{
    const int inRate = 48000, outRate = 44100, frames = inRate;
    const double freq = 12000; // a quarter of the rate: samples at 45 degrees from the peaks
    std::vector<int16_t> pcm(frames);
    std::vector<float> asFloat(frames);
    for (int i = 0; i < frames; ++i) {
        pcm[size_t(i)] = static_cast<int16_t>(
            std::lround(std::sqrt(2.0) * 32767 * std::sin(2 * M_PI * freq * i / inRate + M_PI / 4)));
        asFloat[size_t(i)] = pcm[size_t(i)] / 32768.0f;
    }
    // Signal to noise of the decoded file against the tone fitted to its
    // middle, and the tone's height.
    const auto snr = [&](const std::string& file) {
        const std::vector<float> y = DecodeOgg(file).pcm.at(0);
        const size_t from = 4096, to = y.size() - 4096;
        const auto wave = [&](size_t i) { return std::polar(1.0, 2 * M_PI * freq * double(i) / outRate); };
        std::complex<double> fit = 0;
        for (size_t i = from; i < to; ++i)
            fit += double(y[i]) * std::conj(wave(i));
        fit *= 2.0 / double(to - from);
        double sig = 0, err = 0;
        for (size_t i = from; i < to; ++i) {
            const double t = (fit * wave(i)).real();
            sig += t * t, err += (y[i] - t) * (y[i] - t);
        }
        return std::make_pair(10 * std::log10(sig / err), std::abs(fit));
    };
    TempDir dir;
    TComponent sources;
    WriteBytes(dir.File("in.wav"), MakeWav16(pcm, 1, inRate));
    Chain hot(dir.File("in.wav"), dir.File("hot.ogg"), outRate);
    hot.rate->SetAltaQualita(true);
    ASSERT_EQ(hot.Run(), "");
    auto* floats = TComponent::Create<MemoryInput>(&sources, FloatsToBytes(asFloat), 1, inRate, TSampleFormat::Float32);
    Chain reference(floats, dir.File("float.ogg"), outRate);
    reference.rate->SetAltaQualita(true);
    ASSERT_EQ(reference.Run(), "");
    const auto [hotSnr, hotAmp] = snr(dir.File("hot.ogg"));
    const auto [refSnr, refAmp] = snr(dir.File("float.ogg"));
    EXPECT_GT(hotAmp, 1.3); // the wave's true height, not the samples' 1.0
    EXPECT_GT(hotSnr, refSnr - 3) << "reference " << refSnr << " dB";
}
