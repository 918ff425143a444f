#include "sources/VelmarConverters.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>

using namespace velmar;
using namespace testing_support;

namespace {

// Hands out Data as 16-bit PCM in pieces of at most Piece bytes.
class PcmInput : public TVelmarInput {
public:
    PcmInput(TComponent* owner, std::vector<uint8_t> data, int channels, int rate, int piece = 32768)
        : TVelmarInput(owner), Data(std::move(data)), Ch(channels), Rate(rate), Piece(piece) {}
    int GetBitsPerSample() override { return 16; }
    int GetChannels() override { return Ch; }
    int GetSampleRate() override { return Rate; }
    int ReadData(void* buf, int size) override
    {
        auto n = static_cast<int>(std::min<int64_t>({size, Piece, int64_t(Data.size()) - Position()}));
        if (n > 0)
            std::memcpy(buf, Data.data() + Position(), static_cast<size_t>(n));
        FPosition += n;
        ++Calls;
        return n;
    }
    void BeginRead() override
    {
        FSize = static_cast<int64_t>(Data.size());
        FPosition = 0;
        FBusy = true;
    }
    void EndRead() override { FBusy = false; }
    std::vector<uint8_t> Data;
    int Ch, Rate, Piece;
    int Calls = 0;
};

// Units numbered 0, 1, 2, ...: each frame's samples all carry its index.
std::vector<uint8_t> Numbered(int frames, int channels)
{
    std::vector<int16_t> s;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s.push_back(static_cast<int16_t>(i));
    return Samples16ToBytes(s);
}

// How often each input unit appears in the output, in order.
std::vector<int> Repeats(const std::vector<uint8_t>& out, int channels, int inFrames)
{
    std::vector<int> r(static_cast<size_t>(inFrames), 0);
    for (size_t i = 0; i + 2 * channels <= out.size(); i += 2 * channels) {
        int16_t v = static_cast<int16_t>(out[i] | (out[i + 1] << 8));
        for (int c = 1; c < channels; ++c) // a frame stays whole
            EXPECT_EQ(v, static_cast<int16_t>(out[i + 2 * c] | (out[i + 2 * c + 1] << 8)));
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
    Chain(int frames, int channels, int inRate, int outRate, int piece = 32768)
    {
        in = TComponent::Create<PcmInput>(&owner, Numbered(frames, channels), channels, inRate, piece);
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
        std::vector<int> pattern; // repeats of the first input units
    };
    const std::vector<Case> cases = {
        {"48000 to 44100 mono", 1, 48000, 44100, {1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1}},
        {"32000 to 44100 mono", 1, 32000, 44100, {2, 1, 2, 1, 1, 2, 1, 2, 1, 1}},
        {"44100 to 22050 stereo", 2, 44100, 22050, {1, 0, 1, 0, 1, 0}},
        {"22050 to 44100 stereo", 2, 22050, 44100, {2, 2, 2, 2}},
        {"equal rates, 6 channels", 6, 44100, 44100, {1, 1, 1, 1, 1}},
        {"44100 to 22050, 6 channels", 6, 44100, 22050, {1, 0, 1, 0}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const int frames = 20000;
        Chain s(frames, k.channels, k.inRate, k.outRate);
        auto out = Convert(*s.rc);
        auto rep = Repeats(out, k.channels, frames);
        EXPECT_EQ(std::vector<int>(rep.begin(), rep.begin() + static_cast<long>(k.pattern.size())), k.pattern);
        // Over the whole run Out units are written for every In units read.
        const double want = double(frames) * k.outRate / k.inRate;
        EXPECT_NEAR(std::accumulate(rep.begin(), rep.end(), 0), want, 2.0);
    }
}

TEST(VelmarConverters, EqualRatesCopyTheBytes)
{
    TComponent owner;
    auto data = Samples16ToBytes(Sine(10000, 44100, {440, 880}));
    auto* in = TComponent::Create<PcmInput>(&owner, data, 2, 44100, 1000);
    auto* rc = TComponent::Create<TVelmarRateConverter>(&owner);
    rc->SetInput(in);
    rc->SetOutSampleRate(44100);
    EXPECT_EQ(Convert(*rc), data);
    EXPECT_EQ(rc->Size(), int64_t(data.size()));
}

TEST(VelmarConverters, ChunkSizeKeepsOneBlockWithinTheOutputBlock)
{
    struct Case {
        int channels, inRate, outRate, chunk;
    };
    const Case cases[] = {
        {1, 32000, 44100, 23776}, {2, 22050, 44100, 16384}, {2, 44100, 22050, 32768},
        {6, 44100, 44100, 32760}, {6, 8000, 48000, 5460},   {1, 8000, 48000, 5460},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.channels) + "ch " + std::to_string(k.inRate) + "->" +
                     std::to_string(k.outRate));
        Chain s(100000, k.channels, k.inRate, k.outRate);
        s.rc->BeginRead();
        EXPECT_EQ(s.rc->ChunkSize(), k.chunk);
        EXPECT_EQ(s.rc->ChunkSize() % (k.channels <= 2 ? 4 : 2 * k.channels), 0);
        s.rc->EndRead();
        Convert(*s.rc); // ReadData checks every block is at most 32768 bytes
    }
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
    Chain zero(10, 1, 0, 44100);
    EXPECT_THROW(zero.rc->BeginRead(), VelmarException);
    EXPECT_FALSE(zero.in->Busy()); // the input was closed again
    EXPECT_EQ(zero.rc->GetBitsPerSample(), 16);
}

namespace {

// Resamples Samples (interleaved 16-bit) and returns channel 0 as floats.
std::vector<float> Resample(const std::vector<int16_t>& samples, int channels, int inRate, int outRate, bool hq,
                            size_t* frames = nullptr)
{
    TComponent owner;
    auto* in = TComponent::Create<PcmInput>(&owner, Samples16ToBytes(samples), channels, inRate, 7000);
    auto* rc = TComponent::Create<TVelmarRateConverter>(&owner);
    rc->SetInput(in);
    rc->SetOutSampleRate(outRate);
    rc->SetAltaQualita(hq);
    auto out = Convert(*rc);
    std::vector<float> ch0;
    for (size_t i = 0; i + 2 * channels <= out.size(); i += 2 * channels)
        ch0.push_back(static_cast<int16_t>(out[i] | (out[i + 1] << 8)) / 32768.0f);
    if (frames)
        *frames = out.size() / (2 * channels);
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
    };
    const Case cases[] = {{1, 44100, 44100, 22050}, {2, 12345, 44100, 48000}, {6, 30001, 48000, 44100},
                          {2, 777, 8000, 44100}, {1, 0, 44100, 32000}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.channels) + "ch " + std::to_string(k.inRate) + "->" +
                     std::to_string(k.outRate));
        std::vector<double> freqs;
        for (int c = 0; c < k.channels; ++c)
            freqs.push_back(c == 0 ? 500 : 3000);
        size_t frames = 0;
        auto ch0 = Resample(Sine(k.frames, k.inRate, freqs), k.channels, k.inRate, k.outRate, true, &frames);
        EXPECT_NEAR(double(frames), std::round(double(k.frames) * k.outRate / k.inRate), 1.0);
        if (k.frames > 10000) {
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
