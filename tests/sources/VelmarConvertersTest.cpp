#include "sources/VelmarConverters.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>

using namespace velmar;
using namespace testing_support;

namespace {

using Fmt = TSampleFormat;
using PcmInput = MemoryInput;

int SampleBytes(Fmt f) { return f == Fmt::Float32 ? 4 : 2; }

// Units numbered 0, 1, 2, ...: each frame's samples all carry its index.
std::vector<uint8_t> Numbered(int frames, int channels, Fmt f = Fmt::Int16)
{
    std::vector<int16_t> s;
    std::vector<float> x;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            s.push_back(static_cast<int16_t>(i));
            x.push_back(static_cast<float>(i));
        }
    return f == Fmt::Float32 ? FloatsToBytes(x) : Samples16ToBytes(s);
}

int Sample(const std::vector<uint8_t>& out, size_t at, Fmt f)
{
    if (f == Fmt::Float32) {
        float v;
        std::memcpy(&v, out.data() + at, 4);
        return static_cast<int>(v);
    }
    return static_cast<int16_t>(out[at] | (out[at + 1] << 8));
}

// How often each input unit appears in the output, in order.
std::vector<int> Repeats(const std::vector<uint8_t>& out, int channels, int inFrames, Fmt f = Fmt::Int16)
{
    const size_t unit = size_t(SampleBytes(f)), frame = unit * size_t(channels);
    std::vector<int> r(static_cast<size_t>(inFrames), 0);
    for (size_t i = 0; i + frame <= out.size(); i += frame) {
        const int v = Sample(out, i, f);
        for (int c = 1; c < channels; ++c) // a frame stays whole
            EXPECT_EQ(v, Sample(out, i + unit * size_t(c), f));
        r.at(static_cast<size_t>(v))++;
    }
    return r;
}

std::vector<uint8_t> Convert(TVelmarRateConverter& rc, int request = 65536)
{
    std::vector<uint8_t> out, buf(static_cast<size_t>(request));
    rc.BeginRead();
    for (int n; (n = rc.ReadData(buf.data(), request)) > 0;) {
        EXPECT_LE(n, 32768);
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
    EXPECT_EQ(rc.Position(), rc.Size());
    rc.EndRead();
    return out;
}

struct Chain {
    TComponent owner;
    PcmInput* in;
    TVelmarRateConverter* rc;
    Chain(int frames, int channels, int inRate, int outRate, int piece = 32768, Fmt f = Fmt::Int16)
    {
        in = TComponent::Create<PcmInput>(&owner, Numbered(frames, channels, f), channels, inRate, f, piece);
        rc = TComponent::Create<TVelmarRateConverter>(&owner);
        rc->SetInput(in);
        rc->SetOutSampleRate(outRate);
    }
};

} // namespace

TEST(VelmarConverters, KernelPatterns)
{
    struct Case {
        const char* name;
        int channels, inRate, outRate;
        Fmt format;
        std::vector<int> pattern; // repeats of the first input units
    };
    const std::vector<Case> cases = {
        {"48000 to 44100 mono", 1, 48000, 44100, Fmt::Int16, {1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1}},
        {"32000 to 44100 mono", 1, 32000, 44100, Fmt::Int16, {2, 1, 2, 1, 1, 2, 1, 2, 1, 1}},
        {"44100 to 22050 stereo", 2, 44100, 22050, Fmt::Int16, {1, 0, 1, 0, 1, 0}},
        {"22050 to 44100 stereo", 2, 22050, 44100, Fmt::Int16, {2, 2, 2, 2}},
        {"equal rates, 6 channels", 6, 44100, 44100, Fmt::Int16, {1, 1, 1, 1, 1}},
        {"44100 to 22050, 6 channels", 6, 44100, 22050, Fmt::Int16, {1, 0, 1, 0}},
        // A block of these used to end 2 to 29 bytes past the output block.
        {"41263 to 44100 mono", 1, 41263, 44100, Fmt::Int16, {}},
        {"41263 to 44100 stereo", 2, 41263, 44100, Fmt::Int16, {}},
        {"16377 to 44100, 3 channels", 3, 16377, 44100, Fmt::Int16, {}},
        {"16377 to 44100, 3 channels float", 3, 16377, 44100, Fmt::Float32, {}},
        {"48000 to 44100 mono float", 1, 48000, 44100, Fmt::Float32, {1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1}},
        {"22050 to 44100 stereo float", 2, 22050, 44100, Fmt::Float32, {2, 2, 2, 2}},
        // 1365 frames fill a block: halving must still alternate across blocks.
        {"44100 to 22050, 6 channels float", 6, 44100, 22050, Fmt::Float32, {1, 0, 1, 0}},
        {"44100 to 22050, 3 channels", 3, 44100, 22050, Fmt::Int16, {1, 0, 1, 0}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const int frames = 20000;
        Chain s(frames, k.channels, k.inRate, k.outRate, 32768, k.format);
        auto out = Convert(*s.rc);
        EXPECT_EQ(s.rc->GetSampleFormat(), k.format);
        auto rep = Repeats(out, k.channels, frames, k.format);
        const auto shown = std::min(k.pattern.size(), rep.size());
        EXPECT_EQ(std::vector<int>(rep.begin(), rep.begin() + static_cast<long>(shown)), k.pattern);
        // Over the whole run Out units are written for every In units read,
        // by the count the encoder's length check expects.
        EXPECT_EQ(std::accumulate(rep.begin(), rep.end(), 0), ConvertedFrames(frames, k.inRate, k.outRate, false));
        if (k.inRate == 2 * k.outRate) {
            for (size_t i = 0; i < rep.size(); ++i)
                ASSERT_EQ(rep[i], i % 2 == 0 ? 1 : 0) << "unit " << i;
        }
    }
}

TEST(VelmarConverters, EqualRatesCopyTheBytes)
{
    TComponent owner;
    auto data = Samples16ToBytes(Sine(10000, 44100, {440, 880}));
    auto* in = TComponent::Create<PcmInput>(&owner, data, 2, 44100, Fmt::Int16, 1000);
    auto* rc = TComponent::Create<TVelmarRateConverter>(&owner);
    rc->SetInput(in);
    rc->SetOutSampleRate(44100);
    EXPECT_EQ(Convert(*rc), data);
    EXPECT_EQ(rc->Size(), int64_t(data.size()));
}

TEST(VelmarConverters, ChunkSizeKeepsEveryBlockWithinTheOutputBlock)
{
    // Every input rate the sweep can meet, against the eight output rates,
    // for frames of 1 to 8 channels of either sample form.
    const int64_t room = TVelmarRateConverter::BlockSize;
    const int outRates[] = {48000, 44100, 32000, 24000, 22050, 16000, 11025, 8000};
    int64_t failures = 0;
    for (int channels = 1; channels <= 8; ++channels)
    for (Fmt f : {Fmt::Int16, Fmt::Float32}) {
        const int frameBytes = channels * SampleBytes(f);
        const int64_t fit = room / frameBytes;
        for (int out : outRates) {
            for (int in = 1000; in <= 192000; ++in) {
                const int chunk = RateChunkSize(in, out, frameBytes, int(room));
                const int64_t frames = chunk / frameBytes;
                // The most the kernels write for one block: ceil(frames x out / in).
                const int64_t most = out > in ? (frames * out + in - 1) / in : frames;
                const bool halving = in == 2 * out;
                const int64_t next = frames + (halving ? 2 : 1); // the next larger block allowed
                const bool ok = chunk % frameBytes == 0 && frames > 0 && most * frameBytes <= room &&
                                (halving ? frames % 2 == 0 : true) &&
                                (next > fit || (out > in && (next * out + in - 1) / in > fit));
                if (!ok && ++failures <= 5)
                    ADD_FAILURE() << in << " -> " << out << " Hz, " << frameBytes << "-byte frames: chunk " << chunk;
            }
        }
    }
    EXPECT_EQ(failures, 0);
    // The examples the kernel was designed with.
    EXPECT_EQ(RateChunkSize(32000, 44100, 2, int(room)), 23776);
    EXPECT_EQ(RateChunkSize(22050, 44100, 4, int(room)), 16384);
}

TEST(VelmarConverters, SmallPiecesAreGatheredIntoFullBlocks)
{
    Chain s(30000, 1, 44100, 22050, 100);
    s.rc->BeginRead();
    std::vector<uint8_t> buf(65536);
    int n = s.rc->ReadData(buf.data(), 65536);
    EXPECT_EQ(n, 32768 / 2); // one full 32768-byte input block, halved
    s.rc->EndRead();
}

TEST(VelmarConverters, OddLastBlockUnderHalving)
{
    Chain s(3, 1, 44100, 22050);
    EXPECT_EQ(Convert(*s.rc).size(), 2u); // (3 div 2) units of 2 bytes
}

TEST(VelmarConverters, FailuresAreNamed)
{
    TVelmarRateConverter rc;
    try {
        rc.BeginRead();
        FAIL();
    } catch (const VelmarException& e) {
        EXPECT_STREQ(e.what(), "Input not assigned");
    }
    EXPECT_THROW(rc.GetChannels(), VelmarException);
    char b[4];
    try {
        rc.ReadData(b, 4);
        FAIL();
    } catch (const VelmarException& e) {
        EXPECT_STREQ(e.what(), "The Stream is not opened");
    }
    struct Case {
        int channels, inRate;
        Fmt format;
    };
    // No rate; a frame whose output for one input frame exceeds a block.
    for (const Case& k : {Case{1, 0, Fmt::Int16}, Case{255, 1000, Fmt::Float32}}) {
        SCOPED_TRACE(k.channels);
        Chain bad(10, 1, k.inRate, 48000, 32768, k.format);
        bad.in->Channels = k.channels;
        try {
            bad.rc->BeginRead();
            ADD_FAILURE() << "accepted";
        } catch (const VelmarException& e) {
            EXPECT_EQ(e.Motivo(), TMotivo::RicampionamentoImpossibile) << e.what();
        }
        EXPECT_FALSE(bad.in->Busy()); // the input was closed again
        EXPECT_EQ(bad.rc->GetBitsPerSample(), k.format == Fmt::Float32 ? 32 : 16);
    }
}

namespace {

// Resamples Samples (interleaved 16-bit, handed out as they are or as
// floats) and returns channel 0 as floats.
std::vector<float> Resample(const std::vector<int16_t>& samples, int channels, int inRate, int outRate, bool hq,
                            size_t* frames = nullptr, Fmt in = Fmt::Int16)
{
    TComponent owner;
    std::vector<float> asFloat;
    for (int16_t v : samples)
        asFloat.push_back(v / 32768.0f);
    auto* input = TComponent::Create<PcmInput>(
        &owner, in == Fmt::Float32 ? FloatsToBytes(asFloat) : Samples16ToBytes(samples), channels, inRate, in, 7000);
    auto* rc = TComponent::Create<TVelmarRateConverter>(&owner);
    rc->SetInput(input);
    rc->SetOutSampleRate(outRate);
    rc->SetAltaQualita(hq);
    const Fmt f = rc->GetSampleFormat();
    auto out = Convert(*rc);
    EXPECT_EQ(rc->GetSampleFormat(), f);
    // libsoxr's output is float whatever comes in; the kernel keeps the form.
    EXPECT_EQ(f, hq && inRate != outRate ? Fmt::Float32 : in);
    const size_t frame = size_t(SampleBytes(f) * channels);
    std::vector<float> ch0;
    for (size_t i = 0; i + frame <= out.size(); i += frame) {
        float v;
        std::memcpy(&v, out.data() + i, 4);
        ch0.push_back(f == Fmt::Float32 ? v : static_cast<int16_t>(out[i] | (out[i + 1] << 8)) / 32768.0f);
    }
    if (frames)
        *frames = out.size() / frame;
    return ch0;
}

} // namespace

TEST(VelmarConvertersHighQuality, NoAliasFromTonesAboveTheNewNyquist)
{
    struct Case {
        int inRate, outRate;
        double tone;
    };
    const Case cases[] = {{44100, 22050, 15000}, {44100, 32000, 18000}, {48000, 44100, 23000}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.inRate) + "->" + std::to_string(k.outRate));
        const auto tone = Sine(k.inRate, k.inRate, {k.tone}, 1.0);
        const double alias = k.outRate - k.tone;
        const double hq = ToneLevelDb(Resample(tone, 1, k.inRate, k.outRate, true), k.outRate, alias);
        EXPECT_LT(hq, -100.0);
        // The dropping and repeating kernel folds the tone back: this is what the filter is for.
        const double fast = ToneLevelDb(Resample(tone, 1, k.inRate, k.outRate, false), k.outRate, alias);
        EXPECT_GT(fast, -80.0);
    }
}

TEST(VelmarConvertersHighQuality, InBandToneKeepsLevelAndTime)
{
    for (int outRate : {48000, 32000, 22050, 8000}) {
        SCOPED_TRACE(outRate);
        const auto tone = Sine(44100, 44100, {1000}, 0.5);
        auto out = Resample(tone, 1, 44100, outRate, true);
        EXPECT_NEAR(ToneLevelDb(out, outRate, 1000), 20 * std::log10(0.5), 0.1);
        // Starts at the first input sample's time: the sine's phase is kept.
        double re = 0, im = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            re += out[i] * std::cos(2 * M_PI * 1000.0 * double(i) / outRate);
            im += out[i] * std::sin(2 * M_PI * 1000.0 * double(i) / outRate);
        }
        EXPECT_NEAR(std::atan2(re, im), 0.0, 0.01); // radians at 1 kHz: under 2 microseconds
    }
}

TEST(VelmarConvertersHighQuality, LengthIsTheScaledInputAndChannelsStayApart)
{
    struct Case {
        int channels, frames, inRate, outRate;
        Fmt format = Fmt::Int16;
    };
    const Case cases[] = {{1, 44100, 44100, 22050}, {2, 12345, 44100, 48000}, {6, 30001, 48000, 44100},
                          {2, 777, 8000, 44100}, {1, 0, 44100, 32000}, {2, 44100, 44100, 22050, Fmt::Float32},
                          {6, 30001, 48000, 44100, Fmt::Float32}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.channels) + "ch " + std::to_string(k.inRate) + "->" +
                     std::to_string(k.outRate));
        std::vector<double> freqs;
        for (int c = 0; c < k.channels; ++c)
            freqs.push_back(c == 0 ? 500 : 3000);
        size_t frames = 0;
        auto ch0 =
            Resample(Sine(k.frames, k.inRate, freqs), k.channels, k.inRate, k.outRate, true, &frames, k.format);
        EXPECT_EQ(int64_t(frames), ConvertedFrames(k.frames, k.inRate, k.outRate, true));
        if (k.frames > 10000) {
            EXPECT_NEAR(ToneLevelDb(ch0, k.outRate, 500), 20 * std::log10(0.5), 0.1);
            EXPECT_LT(ToneLevelDb(ch0, k.outRate, 3000), -90.0); // no crosstalk from the other channels
        }
    }
}

TEST(VelmarConvertersHighQuality, EqualRatesCopyTheBytes)
{
    const auto s = Sine(5000, 44100, {440, 880});
    TComponent owner;
    auto* in = TComponent::Create<PcmInput>(&owner, Samples16ToBytes(s), 2, 44100);
    auto* rc = TComponent::Create<TVelmarRateConverter>(&owner);
    rc->SetInput(in);
    rc->SetOutSampleRate(44100);
    rc->SetAltaQualita(true);
    EXPECT_EQ(Convert(*rc), Samples16ToBytes(s));
}
