#include "sources/WaveConverter.h"

#include "TestSupport.h"
#include "platform/Msacm.h"
#include "sources/WaveChunks.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

using namespace velmar;
using namespace testing_support;

namespace {

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}
void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The offset of a chunk's body in a well-formed file; 0 when absent.
size_t FindChunk(const std::vector<uint8_t>& W, const char* Id)
{
    for (size_t pos = 12; pos + 8 <= W.size(); pos += 8 + Get32(W, pos + 4) + (Get32(W, pos + 4) & 1))
        if (std::memcmp(W.data() + pos, Id, 4) == 0)
            return pos + 8;
    return 0;
}

// The fmt and data bodies of a well-formed file.
std::vector<uint8_t> Body(const std::vector<uint8_t>& W, const char* Id)
{
    const size_t at = FindChunk(W, Id);
    if (!at)
        return {};
    return std::vector<uint8_t>(W.begin() + at, W.begin() + at + Get32(W, at - 4));
}

// A WAVE file made of the given chunks, in order.
std::vector<uint8_t> Wave(const std::vector<std::pair<const char*, std::vector<uint8_t>>>& Chunks)
{
    std::vector<uint8_t> w;
    PutTag(w, "RIFF");
    PutU32(w, 0);
    PutTag(w, "WAVE");
    for (const auto& [id, body] : Chunks)
        PutChunk(w, id, body);
    Set32(w, 4, static_cast<uint32_t>(w.size() - 8));
    return w;
}

TMemoryStream StreamOf(const std::vector<uint8_t>& Bytes)
{
    TMemoryStream s;
    s.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    s.SetPosition(0);
    return s;
}

struct Outcome {
    MMRESULT Suggest = ~0u;
    MMRESULT Converted = ~0u;
    uint32_t Saved = ~0u;
    std::vector<uint8_t> Image;
};

// Load, suggest 16-bit PCM, convert, save.
Outcome RunConverter(const std::vector<uint8_t>& File)
{
    Outcome o;
    TMemoryStream in = StreamOf(File);
    TVelmarWaveConverter conv;
    conv.LoadWave(in);
    conv.TargetFormat.Format.wFormatTag = WAVE_FORMAT_PCM;
    o.Suggest = acmFormatSuggest(nullptr, &conv.SourceFormat.Format, &conv.TargetFormat.Format,
                                 sizeof conv.TargetFormat, ACM_FORMATSUGGESTF_WFORMATTAG);
    if (o.Suggest != MMSYSERR_NOERROR)
        return o;
    o.Converted = conv.Convert();
    if (o.Converted != MMSYSERR_NOERROR)
        return o;
    TMemoryStream out;
    o.Saved = conv.SaveWave(out);
    o.Image = out.Data();
    return o;
}

// Checks the canonical image and returns its samples.
std::vector<int16_t> ImageSamples(const std::vector<uint8_t>& Im, int Ch, int Rate)
{
    std::vector<int16_t> s;
    EXPECT_GE(Im.size(), 44u);
    if (Im.size() < 44)
        return s;
    EXPECT_EQ(std::string(Im.begin(), Im.begin() + 4), "RIFF");
    EXPECT_EQ(Get32(Im, 4), Im.size() - 8);
    EXPECT_EQ(std::string(Im.begin() + 8, Im.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Get32(Im, 16), 16u);
    EXPECT_EQ(Get16(Im, 20), WAVE_FORMAT_PCM);
    EXPECT_EQ(Get16(Im, 22), Ch);
    EXPECT_EQ(Get32(Im, 24), uint32_t(Rate));
    EXPECT_EQ(Get32(Im, 28), uint32_t(Rate * Ch * 2));
    EXPECT_EQ(Get16(Im, 32), Ch * 2);
    EXPECT_EQ(Get16(Im, 34), 16);
    EXPECT_EQ(std::string(Im.begin() + 36, Im.begin() + 40), "data");
    EXPECT_EQ(Get32(Im, 40), Im.size() - 44);
    for (size_t i = 44; i + 1 < Im.size(); i += 2)
        s.push_back(static_cast<int16_t>(Get16(Im, i)));
    return s;
}

// The file's samples through TVelmarWaveDecoder as 16-bit PCM, as the
// converter makes them, CodedBlocks at a time, read in pieces of an odd
// frame count.
std::vector<int16_t> Streamed(const std::vector<uint8_t>& File, uint32_t CodedBlocks)
{
    TMemoryStream in = StreamOf(File);
    const TWaveChunks chunks = WalkWaveChunks(in);
    const TWaveFormatBuffer fmt = FormatBufferOf(chunks.Fmt);
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    EXPECT_EQ(acmFormatSuggest(nullptr, &fmt.Format, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_WFORMATTAG), 0u);
    TVelmarWaveDecoder decoder;
    EXPECT_EQ(decoder.Open(in, chunks.DataPos, chunks.DataSize, &fmt.Format, chunks.FactFrames, &pcm, CodedBlocks),
              0u);
    std::vector<int16_t> s;
    std::vector<uint8_t> piece(1001 * 4);
    for (int frames = 1; frames > 0;) {
        if (decoder.Read(piece.data(), 1001, frames) != 0)
            return {};
        const auto* got = reinterpret_cast<const int16_t*>(piece.data());
        s.insert(s.end(), got, got + size_t(frames) * fmt.Format.nChannels);
    }
    const int64_t total = decoder.TotalFrames();
    EXPECT_TRUE(total < 0 || total == decoder.FramesRead()) << "told " << total << " frames";
    return s;
}

// Signal-to-noise ratio of channel C of Got against Want, in dB, over the
// frames both hold.
double SnrDb(const std::vector<int16_t>& Want, const std::vector<int16_t>& Got, int Ch, int C)
{
    double sig = 0, err = 0;
    for (size_t i = C; i < std::min(Want.size(), Got.size()); i += Ch) {
        sig += double(Want[i]) * Want[i];
        err += (double(Want[i]) - Got[i]) * (double(Want[i]) - Got[i]);
    }
    return 10 * std::log10(sig / std::max(err, 1.0));
}

std::vector<int16_t> Signal(int Ch, int Rate)
{
    // Distinct tones per channel, so a swap or a mix-down fails the SNR.
    const std::vector<double> freq = Ch == 1 ? std::vector<double>{440} : std::vector<double>{440, 660};
    return Sine(Rate * 3 + 77, Rate, freq, 0.5);
}

// What a conforming writer stores in the fact chunk; libsndfile's IMA ADPCM
// writer stores the padded count (mono) or a wrong one (stereo).
void SetFact(std::vector<uint8_t>& W, uint32_t Frames)
{
    const size_t at = FindChunk(W, "fact");
    ASSERT_NE(at, 0u);
    Set32(W, at, Frames);
}

const int kIma = SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM;
const int kMsAdpcm = SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM;
const int kGsm = SF_FORMAT_WAV | SF_FORMAT_GSM610;

struct CodecCase {
    const char* Name;
    int Format;       // libsndfile major and subtype; 0 for MPEG layer 3
    int Channels;
    int Rate;
    double MinSnrDb;  // well above a broken decoder, below the codec's usual error
};

class Roundtrip : public ::testing::TestWithParam<CodecCase> {};

TEST_P(Roundtrip, DecodesToTheSourceWithinTheCodecsError)
{
    const CodecCase& c = GetParam();
    const std::vector<int16_t> src = Signal(c.Channels, c.Rate);
    const size_t frames = src.size() / c.Channels;
    std::vector<uint8_t> file;
    if (c.Format == 0) {
        file = Mp3WaveBytes(src, c.Channels, c.Rate);
    } else {
        file = SndfileBytes(c.Format, src, c.Channels, c.Rate);
        if (c.Format == kIma)
            SetFact(file, static_cast<uint32_t>(frames));
    }
    ASSERT_FALSE(file.empty());

    const Outcome o = RunConverter(file);
    ASSERT_EQ(o.Suggest, MMSYSERR_NOERROR);
    ASSERT_EQ(o.Converted, MMSYSERR_NOERROR);
    ASSERT_EQ(o.Saved, 0u);
    const std::vector<int16_t> got = ImageSamples(o.Image, c.Channels, c.Rate);
    EXPECT_EQ(got.size() / c.Channels, frames);
    for (int ch = 0; ch < c.Channels; ++ch) {
        const double snr = SnrDb(src, got, c.Channels, ch);
        EXPECT_GE(snr, c.MinSnrDb) << "channel " << ch;
    }
    // Streamed in coded buffers of one block and of an odd count of blocks
    // (MPEG: bytes; a law's blocks are single frames, so more of them), the
    // decoder gives exactly the whole image's samples.
    const bool law = c.Format != 0 && (c.Format & SF_FORMAT_SUBMASK) != SF_FORMAT_IMA_ADPCM &&
                     (c.Format & SF_FORMAT_SUBMASK) != SF_FORMAT_MS_ADPCM && c.Format != kGsm;
    for (uint32_t blocks : {1u, 7u}) {
        EXPECT_EQ(Streamed(file, law ? blocks * 1001 : blocks), got) << blocks << " blocks at a time";
    }
}

// Measured here: IMA 41-45 dB, MS ADPCM 48-52, GSM 28, mu-law 37, A-law 39,
// MP3 45-47. A decoder one sample late scores 20-24 dB at 44.1 kHz (9 dB for
// GSM at 8 kHz), swapped channels or silence 0 dB or less.
INSTANTIATE_TEST_SUITE_P(
    Codecs, Roundtrip,
    ::testing::Values(CodecCase{"ImaMono", kIma, 1, 44100, 35},
                      CodecCase{"ImaStereo", kIma, 2, 44100, 35},
                      CodecCase{"MsAdpcmMono", kMsAdpcm, 1, 44100, 40},
                      CodecCase{"MsAdpcmStereo", kMsAdpcm, 2, 44100, 40},
                      CodecCase{"GsmMono", kGsm, 1, 8000, 20},
                      CodecCase{"MuLawMono", SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, 44100, 32},
                      CodecCase{"MuLawStereo", SF_FORMAT_WAV | SF_FORMAT_ULAW, 2, 44100, 32},
                      CodecCase{"ExtensibleMuLawStereo", SF_FORMAT_WAVEX | SF_FORMAT_ULAW, 2, 44100, 32},
                      CodecCase{"ALawMono", SF_FORMAT_WAV | SF_FORMAT_ALAW, 1, 44100, 33},
                      CodecCase{"ALawStereo", SF_FORMAT_WAV | SF_FORMAT_ALAW, 2, 44100, 33},
                      CodecCase{"Mp3Mono", 0, 1, 44100, 38},
                      CodecCase{"Mp3Stereo", 0, 2, 44100, 38}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// A short mu-law file: its fmt (18 bytes) and data bodies are the parts the
// layout cases below are assembled from.
struct MuLaw {
    static const MuLaw& Get()
    {
        static const MuLaw m;
        return m;
    }
    std::vector<uint8_t> Fmt, Data;

private:
    MuLaw()
    {
        const std::vector<uint8_t> w = SndfileBytes(SF_FORMAT_WAV | SF_FORMAT_ULAW, Sine(4001, 8000, {440}), 1, 8000);
        Fmt = Body(w, "fmt ");
        Data = Body(w, "data");
    }
};

std::vector<uint8_t> Fact(uint32_t Frames)
{
    std::vector<uint8_t> b;
    PutU32(b, Frames);
    return b;
}

struct LayoutCase {
    const char* Name;
    std::vector<uint8_t> (*Build)();
    size_t ContentBytes;   // after LoadWave
    uint16_t Tag;
    uint16_t CbSize;
    bool Decodes;
    size_t Frames;         // of the image, when it decodes
};

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, LoadsTheChunksByTheirSizes)
{
    const LayoutCase& c = GetParam();
    const std::vector<uint8_t> file = c.Build();
    TMemoryStream in = StreamOf(file);
    TVelmarWaveConverter conv;
    conv.LoadWave(in);
    EXPECT_EQ(size_t(conv.Size()), c.ContentBytes);
    EXPECT_EQ(conv.Position(), 0);
    EXPECT_EQ(conv.SourceFormat.Format.wFormatTag, c.Tag);
    EXPECT_EQ(conv.SourceFormat.Format.cbSize, c.CbSize);

    const Outcome o = RunConverter(file);
    EXPECT_EQ(o.Suggest == 0 && o.Converted == 0 && o.Saved == 0, c.Decodes);
    if (c.Decodes)
    {
        const int ch = conv.SourceFormat.Format.nChannels;
        const auto got = ImageSamples(o.Image, ch, int(conv.SourceFormat.Format.nSamplesPerSec));
        EXPECT_EQ(got.size() / ch, c.Frames);
    }
}

std::vector<uint8_t> ListHoldingDataText()
{
    // A title whose text reads like a data chunk header with 8 bytes.
    std::vector<uint8_t> list;
    PutTag(list, "INFO");
    PutTag(list, "INAM");
    PutU32(list, 16);
    PutTag(list, "data");
    PutU32(list, 8);
    for (char ch : std::string("my title"))
        list.push_back(static_cast<uint8_t>(ch));
    const MuLaw& m = MuLaw::Get();
    return Wave({{"fmt ", m.Fmt}, {"LIST", list}, {"data", m.Data}});
}

std::vector<uint8_t> FactBetween()
{
    const MuLaw& m = MuLaw::Get();
    return Wave({{"fmt ", m.Fmt}, {"fact", Fact(4001)}, {"data", m.Data}});
}

std::vector<uint8_t> OddChunkPadded()
{
    const MuLaw& m = MuLaw::Get();
    return Wave({{"junk", {1, 2, 3, 4, 5}}, {"fmt ", m.Fmt}, {"data", m.Data}});
}

std::vector<uint8_t> OddChunkUnpadded()
{
    const MuLaw& m = MuLaw::Get();
    std::vector<uint8_t> w;
    PutTag(w, "RIFF");
    PutU32(w, 0);
    PutTag(w, "WAVE");
    PutChunk(w, "junk", {1, 2, 3, 4, 5}, false);
    PutChunk(w, "fmt ", m.Fmt);
    PutChunk(w, "data", m.Data);
    Set32(w, 4, static_cast<uint32_t>(w.size() - 8));
    return w;
}

std::vector<uint8_t> Fmt16()
{
    const MuLaw& m = MuLaw::Get();
    return Wave({{"fmt ", std::vector<uint8_t>(m.Fmt.begin(), m.Fmt.begin() + 16)}, {"data", m.Data}});
}

std::vector<uint8_t> Fmt40Extensible()
{
    return SndfileBytes(SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, Sine(1000, 48000, {440, 660}), 2, 48000);
}

std::vector<uint8_t> DataAfterFmtAfterData()
{
    const MuLaw& m = MuLaw::Get();
    return Wave({{"data", m.Data}, {"fmt ", m.Fmt}});
}

std::vector<uint8_t> DataLargerThanFile()
{
    std::vector<uint8_t> w = FactBetween();
    Set32(w, FindChunk(w, "data") - 4, 0xFFFFFFF0u);
    w.resize(w.size() - 1000);
    return w;
}

std::vector<uint8_t> FmtLongerThanBuffer()
{
    std::vector<uint8_t> fmt = MuLaw::Get().Fmt;
    fmt[16] = 182; // cbSize: 200-byte chunk
    fmt.resize(200, 0);
    return Wave({{"fmt ", fmt}, {"data", MuLaw::Get().Data}});
}

std::vector<uint8_t> CbSizeBeyondChunk()
{
    // An MS ADPCM fmt cut after 12 of its 32 extra bytes: the codec must not
    // read the missing coefficients from whatever follows.
    std::vector<uint8_t> w = SndfileBytes(SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, Sine(4000, 8000, {440}), 1, 8000);
    std::vector<uint8_t> fmt = Body(w, "fmt ");
    fmt.resize(30);
    return Wave({{"fmt ", fmt}, {"data", Body(w, "data")}});
}

const size_t kMuLawBytes = 4001;

INSTANTIATE_TEST_SUITE_P(
    Chunks, Layout,
    ::testing::Values(
        LayoutCase{"ListHoldingDataText", ListHoldingDataText, kMuLawBytes, WAVE_FORMAT_MULAW, 0, true, 4001},
        LayoutCase{"FactBetweenFmtAndData", FactBetween, kMuLawBytes, WAVE_FORMAT_MULAW, 0, true, 4001},
        LayoutCase{"OddChunkPadded", OddChunkPadded, kMuLawBytes, WAVE_FORMAT_MULAW, 0, true, 4001},
        LayoutCase{"OddChunkUnpadded", OddChunkUnpadded, kMuLawBytes, WAVE_FORMAT_MULAW, 0, true, 4001},
        LayoutCase{"Fmt16Bytes", Fmt16, kMuLawBytes, WAVE_FORMAT_MULAW, 0, true, 4001},
        LayoutCase{"Fmt40BytesExtensible", Fmt40Extensible, 6000, WAVE_FORMAT_EXTENSIBLE, 22, true, 1000},
        LayoutCase{"FmtAfterData", DataAfterFmtAfterData, kMuLawBytes, WAVE_FORMAT_MULAW, 0, true, 4001},
        LayoutCase{"DataLargerThanFile", DataLargerThanFile, kMuLawBytes - 999, WAVE_FORMAT_MULAW, 0, true, 3002},
        LayoutCase{"FmtLongerThanBuffer", FmtLongerThanBuffer, kMuLawBytes, WAVE_FORMAT_MULAW, 111, true, 4001},
        LayoutCase{"CbSizeBeyondChunk", CbSizeBeyondChunk, 2048, WAVE_FORMAT_ADPCM, 12, false, 0}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(WaveConverter, ATinyFileDeclaringFourGigabytesLoadsWhatItHolds)
{
    std::vector<uint8_t> w;
    PutTag(w, "RIFF");
    PutU32(w, 12);
    PutTag(w, "WAVE");
    PutTag(w, "data");
    PutU32(w, 0xFFFFFFFFu);
    ASSERT_EQ(w.size(), 20u);
    TMemoryStream in = StreamOf(w);
    TVelmarWaveConverter conv;
    conv.LoadWave(in);
    EXPECT_EQ(conv.Size(), 0);
    EXPECT_NE(conv.Convert(), 0u); // and no format to convert from
}

// Found by fuzzing: a fmt chunk cut off after the low byte of cbSize made
// the layer read 255 extra bytes past the 129-byte format.
TEST(WaveConverter, AFormatCutInsideItsHeaderHasNoExtraBytes)
{
    const uint8_t file[] = {'R', 'I', 'F', 'F', 0x52, 1, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 0x32, 0, 0, 0,
                            0x55, 0, 1, 0, 0x40, 0x1f, 0, 0, 0xff, 0xff, 0xff, 0x7f, 0, 0, 0xff, 0xff, 0xff};
    TMemoryStream in = StreamOf(std::vector<uint8_t>(std::begin(file), std::end(file)));
    TVelmarWaveConverter conv;
    conv.LoadWave(in);
    EXPECT_EQ(conv.SourceFormat.Format.wFormatTag, 0x55);
    EXPECT_EQ(conv.SourceFormat.Format.cbSize, 0);
    conv.TargetFormat.Format.wFormatTag = WAVE_FORMAT_PCM;
    // Whatever it answers, it reads nothing past the format (the checked build sees to that).
    acmFormatSuggest(nullptr, &conv.SourceFormat.Format, &conv.TargetFormat.Format, sizeof conv.TargetFormat,
                     ACM_FORMATSUGGESTF_WFORMATTAG);
}

TEST(WaveConverter, AnEmptyDataChunkGivesAnEmptyImage)
{
    const Outcome o = RunConverter(Wave({{"fmt ", MuLaw::Get().Fmt}, {"data", {}}}));
    ASSERT_EQ(o.Converted, 0u);
    EXPECT_EQ(o.Saved, 0u);
    EXPECT_TRUE(ImageSamples(o.Image, 1, 8000).empty());
}

TEST(WaveConverter, SaveWaveReportsAFailedWrite)
{
    struct Refusing : TMemoryStream {
        int64_t Write(const void*, int64_t) override { return 0; }
    } target;
    TMemoryStream in = StreamOf(Wave({{"fmt ", MuLaw::Get().Fmt}, {"data", MuLaw::Get().Data}}));
    TVelmarWaveConverter conv;
    conv.LoadWave(in);
    EXPECT_EQ(conv.SaveWave(target), TVelmarWaveConverter::SaveFailed);
}

// Refused, not garbled: each of these stops at the suggestion or the
// conversion, and a failed conversion leaves the content and format as loaded.
struct RefusalCase {
    const char* Name;
    std::vector<uint8_t> (*Build)();
    bool SuggestFails; // otherwise the conversion fails
};

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, GivesANonZeroCode)
{
    const RefusalCase& c = GetParam();
    const std::vector<uint8_t> file = c.Build();
    const Outcome o = RunConverter(file);
    if (c.SuggestFails) {
        EXPECT_NE(o.Suggest, 0u);
        return;
    }
    ASSERT_EQ(o.Suggest, 0u);
    EXPECT_NE(o.Converted, 0u);

    TMemoryStream in = StreamOf(file);
    TVelmarWaveConverter conv;
    conv.LoadWave(in);
    const std::vector<uint8_t> content = conv.Data();
    const TWaveFormatBuffer format = conv.SourceFormat;
    conv.TargetFormat.Format.wFormatTag = WAVE_FORMAT_PCM;
    acmFormatSuggest(nullptr, &conv.SourceFormat.Format, &conv.TargetFormat.Format,
                     sizeof conv.TargetFormat, ACM_FORMATSUGGESTF_WFORMATTAG);
    conv.Convert();
    EXPECT_EQ(conv.Data(), content);
    EXPECT_EQ(std::memcmp(&conv.SourceFormat, &format, sizeof format), 0);
}

std::vector<uint8_t> WithFmtField(std::vector<uint8_t> W, size_t Offset, uint16_t Value)
{
    const size_t at = FindChunk(W, "fmt ");
    W[at + Offset] = static_cast<uint8_t>(Value);
    W[at + Offset + 1] = static_cast<uint8_t>(Value >> 8);
    return W;
}

std::vector<uint8_t> Ima() { return SndfileBytes(SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, Sine(20000, 22050, {440, 660}), 2, 22050); }
std::vector<uint8_t> MsAdpcm() { return SndfileBytes(SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, Sine(20000, 22050, {440}), 1, 22050); }

std::vector<uint8_t> NotRiff()
{
    std::vector<uint8_t> w = FactBetween();
    std::memcpy(w.data(), "RIFX", 4);
    return w;
}
std::vector<uint8_t> UnknownTag() { return WithFmtField(FactBetween(), 0, 0x1234); }
std::vector<uint8_t> BlockAlignZero() { return WithFmtField(Ima(), 12, 0); }
std::vector<uint8_t> PcmBitsZero()
{
    std::vector<uint8_t> w = WithFmtField(FactBetween(), 0, WAVE_FORMAT_PCM);
    return WithFmtField(w, 14, 0);
}
std::vector<uint8_t> BrokenExtensibleGuid()
{
    std::vector<uint8_t> w = Fmt40Extensible();
    w[FindChunk(w, "fmt ") + 39] ^= 0xFF;
    return w;
}
std::vector<uint8_t> ExtensibleCutShort()
{
    const std::vector<uint8_t> w = Fmt40Extensible();
    std::vector<uint8_t> fmt = Body(w, "fmt ");
    fmt.resize(26);
    return Wave({{"fmt ", fmt}, {"data", Body(w, "data")}});
}
std::vector<uint8_t> ImaCorruptBlock()
{
    std::vector<uint8_t> w = Ima();
    const size_t data = FindChunk(w, "data");
    const uint16_t blockAlign = Get16(w, FindChunk(w, "fmt ") + 12);
    w[data + 3 * blockAlign + 4 + 2] = 200; // step index of the right channel, block 3
    return w;
}
std::vector<uint8_t> MsAdpcmCorruptBlock()
{
    std::vector<uint8_t> w = MsAdpcm();
    const uint16_t blockAlign = Get16(w, FindChunk(w, "fmt ") + 12);
    w[FindChunk(w, "data") + 2 * blockAlign] = 9; // predictor index, block 2
    return w;
}
std::vector<uint8_t> NoDataChunk() { return Wave({{"fmt ", MuLaw::Get().Fmt}}); }
std::vector<uint8_t> NoFmtChunk() { return Wave({{"data", MuLaw::Get().Data}}); }

INSTANTIATE_TEST_SUITE_P(
    Formats, Refusal,
    ::testing::Values(RefusalCase{"NotRiff", NotRiff, true},
                      RefusalCase{"UnknownTag", UnknownTag, true},
                      RefusalCase{"BlockAlignZero", BlockAlignZero, true},
                      RefusalCase{"PcmBitsZero", PcmBitsZero, true},
                      RefusalCase{"BrokenExtensibleGuid", BrokenExtensibleGuid, true},
                      RefusalCase{"ExtensibleCutShort", ExtensibleCutShort, true},
                      RefusalCase{"NoFmtChunk", NoFmtChunk, true},
                      RefusalCase{"ImaCorruptBlock", ImaCorruptBlock, false},
                      RefusalCase{"MsAdpcmCorruptBlock", MsAdpcmCorruptBlock, false},
                      RefusalCase{"NoDataChunk", NoDataChunk, false}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// The fact chunk may only drop the silence that pads the last block; the
// whole image and the decoder (one coded block at a time, where an MPEG
// stream's total is only known at its end) trim alike.
TEST(WaveConverter, FactTrimsOnlyTheLastBlocksPadding)
{
    const int frames = 4900;
    const std::vector<int16_t> src = Sine(frames, 8000, {440});
    const std::vector<uint8_t> ms = SndfileBytes(SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, src, 1, 8000);
    const uint16_t blockAlign = Get16(ms, FindChunk(ms, "fmt ") + 12);
    const uint32_t msPerBlock = Get16(ms, FindChunk(ms, "fmt ") + 18);
    struct Base {
        const char* Name;
        std::function<std::vector<uint8_t>(int64_t Fact)> Make; // -1: no fact chunk
        uint32_t PerBlock;
        uint32_t Whole; // frames without a fact chunk
    };
    const Base bases[] = {
        {"MS ADPCM",
         [&](int64_t fact) {
             if (fact < 0)
                 return Wave({{"fmt ", Body(ms, "fmt ")}, {"data", Body(ms, "data")}});
             std::vector<uint8_t> w = ms;
             Set32(w, FindChunk(w, "fact"), uint32_t(fact));
             return w;
         },
         msPerBlock, Get32(ms, FindChunk(ms, "data") - 4) / blockAlign * msPerBlock},
        // MPEG 2.5 frames of 576; the first frame tells the exact length.
        {"MPEG layer 3", [&](int64_t fact) { return Mp3WaveBytes(src, 1, 8000, true, fact); }, 576, uint32_t(frames)},
    };
    for (const Base& b : bases) {
        SCOPED_TRACE(b.Name);
        const uint32_t whole = b.Whole, perBlock = b.PerBlock;
        ASSERT_GE(whole, uint32_t(frames));
        ASSERT_LT(whole - frames, perBlock);
        const struct {
            int64_t Fact;
            uint32_t Frames;
        } cases[] = {{frames, uint32_t(frames)}, {whole - perBlock + 1, whole - perBlock + 1}, {whole - perBlock, whole},
                     {10, whole}, {0, whole}, {whole + 5, whole}, {-1, whole}};
        for (const auto& c : cases) {
            const std::vector<uint8_t> w = b.Make(c.Fact);
            const Outcome o = RunConverter(w);
            ASSERT_EQ(o.Converted, 0u);
            EXPECT_EQ(ImageSamples(o.Image, 1, 8000).size(), c.Frames) << "fact " << c.Fact;
            EXPECT_EQ(Streamed(w, 1).size(), c.Frames) << "fact " << c.Fact;
        }
    }
}

} // namespace
