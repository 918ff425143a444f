#include "platform/Msacm.h"

#include "TestSupport.h"
#include "platform/Classes.h"
#include "sources/WaveChunks.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstring>
#include <functional>
#include <string>

using namespace velmar;
using namespace testing_support;

namespace {

// A coded file's format (in a 129-byte buffer, as the converter holds it)
// and data, written by libsndfile.
struct Coded {
    std::vector<uint8_t> Fmt = std::vector<uint8_t>(129, 0);
    std::vector<uint8_t> Data;
    WAVEFORMATEX* Format() { return reinterpret_cast<WAVEFORMATEX*>(Fmt.data()); }
    void Set16(size_t At, uint16_t V)
    {
        Fmt[At] = static_cast<uint8_t>(V);
        Fmt[At + 1] = static_cast<uint8_t>(V >> 8);
    }
    uint16_t Get16(size_t At) const { return static_cast<uint16_t>(Fmt[At] | (Fmt[At + 1] << 8)); }
};

// Format 0: MPEG layer 3 (Mp3WaveBytes); kMp3Untagged: without its length frame.
const int kMp3Untagged = -1;

Coded Encode(int Format, const std::vector<int16_t>& S, int Ch, int Rate)
{
    Coded c;
    const std::vector<uint8_t> bytes = Format == 0              ? Mp3WaveBytes(S, Ch, Rate)
                                       : Format == kMp3Untagged ? Mp3WaveBytes(S, Ch, Rate, false)
                                                                : SndfileBytes(Format, S, Ch, Rate);
    EXPECT_FALSE(bytes.empty()) << "libsndfile cannot write format " << Format;
    if (bytes.empty())
        return c;
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    const TWaveChunks chunks = WalkWaveChunks(s);
    std::memcpy(c.Fmt.data(), chunks.Fmt.data(), std::min<size_t>(chunks.Fmt.size(), 129));
    c.Data.assign(bytes.begin() + chunks.DataPos, bytes.begin() + chunks.DataPos + chunks.DataSize);
    return c;
}

WAVEFORMATEX Pcm16(uint16_t Ch, uint32_t Rate)
{
    return WAVEFORMATEX{WAVE_FORMAT_PCM, Ch, Rate, Rate * Ch * 2, uint16_t(Ch * 2), 16, 0};
}

struct Decoded {
    MMRESULT Result = ~0u;
    ACMSTREAMHEADER Header{};
    std::vector<uint8_t> Dst;
};

// Opens, converts Src in one call into a destination of DstLen bytes
// (the estimate when 0) prefilled with 0xAB, and closes.
Decoded Convert(Coded& C, const std::vector<uint8_t>& Src, uint32_t Flags, uint32_t DstLen = 0)
{
    Decoded d;
    const WAVEFORMATEX pcm = Pcm16(C.Format()->nChannels, C.Format()->nSamplesPerSec);
    HACMSTREAM h = nullptr;
    d.Result = acmStreamOpen(&h, nullptr, C.Format(), &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
    if (d.Result != MMSYSERR_NOERROR)
        return d;
    if (DstLen == 0) {
        EXPECT_EQ(acmStreamSize(h, uint32_t(Src.size()), &DstLen, ACM_STREAMSIZEF_SOURCE), 0u);
    }
    d.Dst.assign(DstLen, 0xAB);
    std::vector<uint8_t> src = Src;
    ACMSTREAMHEADER& hdr = d.Header;
    hdr.cbStruct = sizeof hdr;
    hdr.pbSrc = src.data();
    hdr.cbSrcLength = uint32_t(src.size());
    hdr.pbDst = d.Dst.data();
    hdr.cbDstLength = DstLen;
    EXPECT_EQ(acmStreamPrepareHeader(h, &hdr, 0), 0u);
    d.Result = acmStreamConvert(h, &hdr, Flags);
    EXPECT_EQ(acmStreamUnprepareHeader(h, &hdr, 0), 0u);
    EXPECT_EQ(acmStreamClose(h, 0), 0u);
    return d;
}

std::vector<int16_t> Samples(const Decoded& D)
{
    std::vector<int16_t> s(D.Header.cbDstLengthUsed / 2);
    std::memcpy(s.data(), D.Dst.data(), s.size() * 2);
    return s;
}

TEST(Acm, MetricsGiveTheLargestFormat)
{
    uint32_t size = 0;
    EXPECT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &size), 0u);
    EXPECT_EQ(size, 50u); // MS ADPCM with its seven coefficient pairs
    EXPECT_EQ(acmMetrics(nullptr, 1, &size), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, nullptr), MMSYSERR_INVALPARAM);
}

struct SuggestCase {
    const char* Name;
    int Format;
    int Channels;
    int Rate;
};

class Suggest : public ::testing::TestWithParam<SuggestCase> {};

TEST_P(Suggest, Gives16BitPcmOfTheSourcesChannelsAndRate)
{
    const SuggestCase& c = GetParam();
    Coded coded = Encode(c.Format, Sine(2000, c.Rate, std::vector<double>(c.Channels, 440)), c.Channels, c.Rate);
    std::vector<uint8_t> target(129, 0xEE);
    auto* t = reinterpret_cast<WAVEFORMATEX*>(target.data());
    t->wFormatTag = WAVE_FORMAT_PCM;
    ASSERT_EQ(acmFormatSuggest(nullptr, coded.Format(), t, 129, ACM_FORMATSUGGESTF_WFORMATTAG), 0u);
    const WAVEFORMATEX want = Pcm16(uint16_t(c.Channels), uint32_t(c.Rate));
    EXPECT_EQ(std::memcmp(t, &want, sizeof want), 0);
    EXPECT_EQ(target[18], 0xEE); // nothing beyond the structure

    // A 16-byte target gets no cbSize.
    std::vector<uint8_t> small(18, 0xEE);
    ASSERT_EQ(acmFormatSuggest(nullptr, coded.Format(), reinterpret_cast<WAVEFORMATEX*>(small.data()), 16, 0), 0u);
    EXPECT_EQ(std::memcmp(small.data(), &want, 16), 0);
    EXPECT_EQ(small[16], 0xEE);

    // The stream opens on exactly that pair.
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, coded.Format(), &want, nullptr, 0, 0, ACM_STREAMOPENF_QUERY), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Decodable, Suggest,
    ::testing::Values(SuggestCase{"ImaMono", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, 44100},
                      SuggestCase{"ImaStereo", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2, 22050},
                      SuggestCase{"MsAdpcmStereo", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 2, 11025},
                      SuggestCase{"Gsm", SF_FORMAT_WAV | SF_FORMAT_GSM610, 1, 8000},
                      SuggestCase{"MuLawStereo", SF_FORMAT_WAV | SF_FORMAT_ULAW, 2, 16000},
                      SuggestCase{"ALaw", SF_FORMAT_WAV | SF_FORMAT_ALAW, 1, 8000},
                      SuggestCase{"Pcm8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 2, 22050},
                      SuggestCase{"Float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 48000},
                      SuggestCase{"ExtensiblePcm24", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 2, 48000},
                      SuggestCase{"ExtensibleMuLaw", SF_FORMAT_WAVEX | SF_FORMAT_ULAW, 1, 8000}),
    [](const auto& Info) { return std::string(Info.param.Name); });

struct RefuseCase {
    const char* Name;
    int Format;
    int Channels;
    std::function<void(Coded&)> Break;
};

class Refuse : public ::testing::TestWithParam<RefuseCase> {};

TEST_P(Refuse, FieldsThatDisagreeWithTheCodec)
{
    const RefuseCase& c = GetParam();
    Coded coded = Encode(c.Format, Sine(2000, 8000, std::vector<double>(c.Channels, 440)), c.Channels, 8000);
    c.Break(coded);
    WAVEFORMATEX target{};
    target.wFormatTag = WAVE_FORMAT_PCM;
    EXPECT_EQ(acmFormatSuggest(nullptr, coded.Format(), &target, sizeof target, ACM_FORMATSUGGESTF_WFORMATTAG),
              ACMERR_NOTPOSSIBLE);
    const WAVEFORMATEX pcm = Pcm16(uint16_t(c.Channels), 8000);
    HACMSTREAM h = nullptr;
    EXPECT_EQ(acmStreamOpen(&h, nullptr, coded.Format(), &pcm, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(AcmFramesPerBlock(coded.Format()), 0u);
}

const int kIma = SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM;
const int kMs = SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM;
const int kGsm = SF_FORMAT_WAV | SF_FORMAT_GSM610;
const int kULaw = SF_FORMAT_WAV | SF_FORMAT_ULAW;
const int kPcm = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
const int kExt = SF_FORMAT_WAVEX | SF_FORMAT_PCM_24;

INSTANTIATE_TEST_SUITE_P(
    Broken, Refuse,
    ::testing::Values(
        RefuseCase{"UnknownTag", kULaw, 1, [](Coded& c) { c.Set16(0, 0x1234); }},
        RefuseCase{"NoChannels", kULaw, 1, [](Coded& c) { c.Set16(2, 0); }},
        RefuseCase{"NoRate", kULaw, 1, [](Coded& c) { std::memset(&c.Fmt[4], 0, 4); }},
        RefuseCase{"MuLawBlockAlignZero", kULaw, 1, [](Coded& c) { c.Set16(12, 0); }},
        RefuseCase{"PcmBitsZero", kPcm, 2, [](Coded& c) { c.Set16(14, 0); }},
        RefuseCase{"PcmBlockAlignWrong", kPcm, 2, [](Coded& c) { c.Set16(12, 2); }},
        RefuseCase{"ImaBlockAlignZero", kIma, 1, [](Coded& c) { c.Set16(12, 0); }},
        RefuseCase{"ImaSamplesPerBlockWrong", kIma, 2, [](Coded& c) { c.Set16(18, c.Get16(18) + 1); }},
        RefuseCase{"ImaNoExtraBytes", kIma, 1, [](Coded& c) { c.Set16(16, 0); }},
        RefuseCase{"ImaThreeBits", kIma, 1, [](Coded& c) { c.Set16(14, 3); }},
        RefuseCase{"MsAdpcmBlockAlignZero", kMs, 1, [](Coded& c) { c.Set16(12, 0); }},
        RefuseCase{"MsAdpcmForeignCoefficients", kMs, 2, [](Coded& c) { c.Set16(22, 300); }},
        RefuseCase{"MsAdpcmTooFewCoefficients", kMs, 1, [](Coded& c) { c.Set16(20, 6); }},
        RefuseCase{"MsAdpcmExtraCutShort", kMs, 1, [](Coded& c) { c.Set16(16, 20); }},
        RefuseCase{"GsmStereo", kGsm, 1, [](Coded& c) { c.Set16(2, 2); }},
        RefuseCase{"GsmBlockAlignWrong", kGsm, 1, [](Coded& c) { c.Set16(12, 64); }},
        RefuseCase{"ExtensibleCbSizeShort", kExt, 2, [](Coded& c) { c.Set16(16, 10); }},
        RefuseCase{"ExtensibleForeignGuid", kExt, 2, [](Coded& c) { c.Fmt[30] ^= 1; }},
        RefuseCase{"ExtensibleValidBitsAboveContainer", kExt, 2, [](Coded& c) { c.Set16(18, 32); }},
        RefuseCase{"ExtensibleBlockAlignWrong", kExt, 2, [](Coded& c) { c.Set16(12, 4); }},
        RefuseCase{"ExtensibleAdpcmSubformat", kExt, 2, [](Coded& c) { c.Set16(24, WAVE_FORMAT_IMA_ADPCM); }},
        RefuseCase{"Mp3OddRate", kULaw, 1,
                   [](Coded& c) {
                       c.Set16(0, WAVE_FORMAT_MPEGLAYER3);
                       std::memcpy(&c.Fmt[4], "\x10\xAC\x00\x00", 4); // 44048 Hz
                   }}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(Acm, SuggestHonoursItsArgumentsAndFlags)
{
    Coded c = Encode(kULaw, Sine(100, 8000, {440, 440}), 2, 8000);
    WAVEFORMATEX t{};
    t.wFormatTag = WAVE_FORMAT_ADPCM;
    EXPECT_EQ(acmFormatSuggest(nullptr, c.Format(), &t, sizeof t, ACM_FORMATSUGGESTF_WFORMATTAG), ACMERR_NOTPOSSIBLE);
    t = Pcm16(1, 8000);
    EXPECT_EQ(acmFormatSuggest(nullptr, c.Format(), &t, sizeof t, ACM_FORMATSUGGESTF_NCHANNELS), ACMERR_NOTPOSSIBLE);
    t.wBitsPerSample = 8;
    EXPECT_EQ(acmFormatSuggest(nullptr, c.Format(), &t, sizeof t, ACM_FORMATSUGGESTF_WBITSPERSAMPLE), ACMERR_NOTPOSSIBLE);
    t = Pcm16(2, 8000);
    EXPECT_EQ(acmFormatSuggest(nullptr, c.Format(), &t, sizeof t,
                               ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC |
                                   ACM_FORMATSUGGESTF_WBITSPERSAMPLE),
              0u);
    EXPECT_EQ(acmFormatSuggest(nullptr, c.Format(), &t, 15, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmFormatSuggest(nullptr, nullptr, &t, sizeof t, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmFormatSuggest(nullptr, c.Format(), &t, sizeof t, 0x100), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmFormatSuggest(reinterpret_cast<HACMDRIVER>(&t), c.Format(), &t, sizeof t, 0), MMSYSERR_INVALHANDLE);
}

TEST(Acm, AFormatLargerThanAnyCodecsIsRefusedUnread)
{
    // cbSize promises more extra bytes than the largest format holds; the
    // structure here has none, so reading them would run past it.
    Coded c = Encode(SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, Sine(1000, 8000, {440}), 1, 8000);
    WAVEFORMATEX w = *c.Format();
    w.cbSize = 200;
    WAVEFORMATEX t = Pcm16(1, 8000);
    EXPECT_NE(acmFormatSuggest(nullptr, &w, &t, sizeof t, ACM_FORMATSUGGESTF_WFORMATTAG), 0u);
}

TEST(Acm, SizeEstimatesFollowTheCodecsLayout)
{
    Coded ima = Encode(kIma, Sine(100, 44100, {440}), 1, 44100);     // 2048-byte blocks of 4089 frames
    Coded ms = Encode(kMs, Sine(100, 44100, {440, 440}), 2, 44100);  // 2048-byte blocks of 2036 frames
    Coded gsm = Encode(kGsm, Sine(100, 8000, {440}), 1, 8000);       // 65-byte blocks of 320 frames
    Coded ulaw = Encode(kULaw, Sine(100, 8000, {440, 440}), 2, 8000);
    Coded pcm24 = Encode(kExt, Sine(100, 8000, {440, 440}), 2, 8000);
    ASSERT_EQ(ima.Format()->nBlockAlign, 2048);
    ASSERT_EQ(ms.Format()->nBlockAlign, 2048);
    const struct {
        const char* Name;
        Coded* C;
        uint32_t In;
        uint64_t Out; // > UINT32_MAX: refused
    } cases[] = {
        {"ima whole blocks", &ima, 3 * 2048, 3 * 4089 * 2},
        {"ima partial block", &ima, 3 * 2048 + 100, (3 * 4089 + 1 + 96 / 4 * 8) * 2},
        {"ima header only", &ima, 3, 0},
        {"ms adpcm stereo", &ms, 2 * 2048 + 20, (2 * 2036 + 2 + 6) * 4},
        {"gsm", &gsm, 10 * 65, 3200 * 2},
        {"mu-law", &ulaw, 1000, 2000},
        {"pcm 24 stereo", &pcm24, 601, 100 * 4},
        {"beyond 32 bits", &ulaw, 0xFFFFFFFFu, uint64_t(1) << 33},
    };
    for (const auto& c : cases) {
        const WAVEFORMATEX pcm = Pcm16(c.C->Format()->nChannels, c.C->Format()->nSamplesPerSec);
        HACMSTREAM h = nullptr;
        ASSERT_EQ(acmStreamOpen(&h, nullptr, c.C->Format(), &pcm, nullptr, 0, 0, 0), 0u) << c.Name;
        uint32_t out = 0;
        const MMRESULT r = acmStreamSize(h, c.In, &out, ACM_STREAMSIZEF_SOURCE);
        if (c.Out > UINT32_MAX) {
            EXPECT_EQ(r, ACMERR_NOTPOSSIBLE) << c.Name;
        } else {
            EXPECT_EQ(r, 0u) << c.Name;
            EXPECT_EQ(out, c.Out) << c.Name;
        }
        EXPECT_EQ(acmStreamClose(h, 0), 0u);
    }
}

TEST(Acm, ConvertReportsTheBytesItProducedAndTouchesNoMore)
{
    const std::vector<int16_t> src = Sine(1001, 8000, {440, 660});
    Coded c = Encode(kULaw, src, 2, 8000);
    const Decoded d = Convert(c, c.Data, ACM_STREAMCONVERTF_BLOCKALIGN, 3 * 1001 * 4);
    ASSERT_EQ(d.Result, 0u);
    EXPECT_EQ(d.Header.cbSrcLengthUsed, c.Data.size());
    EXPECT_EQ(d.Header.cbDstLengthUsed, 1001u * 4);
    EXPECT_TRUE(d.Header.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
    for (size_t i = d.Header.cbDstLengthUsed; i < d.Dst.size(); ++i)
        ASSERT_EQ(d.Dst[i], 0xAB) << "byte " << i;
    const std::vector<int16_t> got = Samples(d);
    for (size_t i = 0; i < src.size(); ++i)
        ASSERT_NEAR(got[i], src[i], 1 + std::abs(src[i]) / 16) << "sample " << i; // mu-law steps
}

TEST(Acm, SampleFormatsBecome16BitsExactly)
{
    const std::vector<int16_t> src = Sine(3000, 48000, {440, 1000}, 0.9);
    for (int format : {SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, SF_FORMAT_WAV | SF_FORMAT_PCM_32,
                       SF_FORMAT_WAV | SF_FORMAT_FLOAT, SF_FORMAT_WAVEX | SF_FORMAT_DOUBLE}) {
        Coded c = Encode(format, src, 2, 48000);
        const Decoded d = Convert(c, c.Data, ACM_STREAMCONVERTF_BLOCKALIGN);
        ASSERT_EQ(d.Result, 0u) << std::hex << format;
        EXPECT_EQ(Samples(d), src) << std::hex << format;
    }
}

TEST(Acm, BlockAlignLeavesATrailingPartialBlockUnused)
{
    const std::vector<int16_t> src = Sine(3 * 4089, 44100, {440});
    Coded c = Encode(kIma, src, 1, 44100);
    ASSERT_EQ(c.Data.size(), 3u * 2048);
    std::vector<uint8_t> cut(c.Data.begin(), c.Data.begin() + 2 * 2048 + 4 + 40);

    const Decoded aligned = Convert(c, cut, ACM_STREAMCONVERTF_BLOCKALIGN);
    ASSERT_EQ(aligned.Result, 0u);
    EXPECT_EQ(aligned.Header.cbSrcLengthUsed, 2u * 2048);
    EXPECT_EQ(aligned.Header.cbDstLengthUsed, 2u * 4089 * 2);

    // Libsndfile decodes the short block as a whole one; only its real frames count.
    const Decoded all = Convert(c, cut, 0, 3 * 4089 * 2);
    ASSERT_EQ(all.Result, 0u);
    EXPECT_EQ(all.Header.cbSrcLengthUsed, cut.size());
    const std::vector<int16_t> got = Samples(all);
    ASSERT_EQ(got.size(), 2u * 4089 + 1 + 40 / 4 * 8);
    const Decoded full = Convert(c, c.Data, 0);
    const std::vector<int16_t> ref = Samples(full);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), ref.begin())); // the partial block's frames are real
}

TEST(Acm, CorruptAdpcmBlocksAreRefused)
{
    Coded ima = Encode(kIma, Sine(20000, 44100, {440, 660}), 2, 44100);
    std::vector<uint8_t> bad = ima.Data;
    bad[2 * ima.Format()->nBlockAlign + 2] = 89; // left step index, block 2
    Decoded d = Convert(ima, bad, ACM_STREAMCONVERTF_BLOCKALIGN);
    EXPECT_EQ(d.Result, ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(d.Header.cbDstLengthUsed, 0u);

    Coded ms = Encode(kMs, Sine(20000, 44100, {440}), 1, 44100);
    bad = ms.Data;
    bad[ms.Format()->nBlockAlign] = 7; // predictor index, block 1
    EXPECT_EQ(Convert(ms, bad, ACM_STREAMCONVERTF_BLOCKALIGN).Result, ACMERR_NOTPOSSIBLE);
}

struct Pieces {
    MMRESULT Result = MMSYSERR_NOERROR;
    std::vector<int16_t> Samples;
    int Calls = 0;
};

// Converts Src on one stream as a reader does: pieces of PieceBytes, START
// on the first call and END once the last piece is in, the source a call
// left unused handed again, and after END calls until nothing comes out.
Pieces ConvertInPieces(Coded& C, size_t PieceBytes, uint32_t DstBytes)
{
    Pieces p;
    const WAVEFORMATEX pcm = Pcm16(C.Format()->nChannels, C.Format()->nSamplesPerSec);
    HACMSTREAM h = nullptr;
    p.Result = acmStreamOpen(&h, nullptr, C.Format(), &pcm, nullptr, 0, 0, 0);
    if (p.Result != MMSYSERR_NOERROR)
        return p;
    std::vector<uint8_t> pending, dst(DstBytes);
    size_t next = 0;
    for (;;) {
        if (pending.empty() && next < C.Data.size()) {
            const size_t n = std::min(PieceBytes, C.Data.size() - next);
            pending.assign(C.Data.begin() + next, C.Data.begin() + next + n);
            next += n;
        }
        const bool last = next == C.Data.size();
        ACMSTREAMHEADER hdr{};
        hdr.cbStruct = sizeof hdr;
        hdr.pbSrc = pending.data();
        hdr.cbSrcLength = uint32_t(pending.size());
        hdr.pbDst = dst.data();
        hdr.cbDstLength = DstBytes;
        EXPECT_EQ(acmStreamPrepareHeader(h, &hdr, 0), 0u);
        const uint32_t start = p.Calls == 0 ? uint32_t(ACM_STREAMCONVERTF_START) : 0u;
        const uint32_t end = last ? uint32_t(ACM_STREAMCONVERTF_END) : 0u;
        p.Result = acmStreamConvert(h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN | start | end);
        EXPECT_EQ(acmStreamUnprepareHeader(h, &hdr, 0), 0u);
        ++p.Calls;
        if (p.Result != MMSYSERR_NOERROR)
            break;
        const size_t samples = hdr.cbDstLengthUsed / 2;
        p.Samples.resize(p.Samples.size() + samples);
        if (samples > 0)
            std::memcpy(p.Samples.data() + p.Samples.size() - samples, dst.data(), samples * 2);
        pending.erase(pending.begin(), pending.begin() + hdr.cbSrcLengthUsed);
        // Nothing more: the end, or a stall (a destination without room for a block).
        if (hdr.cbDstLengthUsed == 0 && hdr.cbSrcLengthUsed == 0 && (last || !pending.empty()))
            break;
    }
    EXPECT_EQ(acmStreamClose(h, 0), 0u);
    return p;
}

struct PieceCase {
    const char* Name;
    int Format; // 0 or kMp3Untagged: MPEG layer 3
    int Channels;
    int Rate;
    uint32_t PieceBlocks; // MPEG: bytes
    uint32_t DstFrames;   // 0: room for the whole result
    // MPEG: junk before the stream, a free-format layer I header and an
    // MPEG-2 one cut short; libmpg123 made of them what it had been fed.
    bool JunkFirst = false;
};

class Piecewise : public ::testing::TestWithParam<PieceCase> {};

// A destination too small loses nothing either: what does not fit is fed again.
TEST_P(Piecewise, GivesExactlyTheWholeConversion)
{
    const PieceCase& c = GetParam();
    const std::vector<int16_t> src = Sine(3 * c.Rate + 77, c.Rate, std::vector<double>(c.Channels, 440), 0.5);
    Coded coded = Encode(c.Format, src, c.Channels, c.Rate);
    ASSERT_FALSE(coded.Data.empty());
    if (c.JunkFirst) {
        const std::vector<uint8_t> junk = {'R', 'I', 'F', 'F', 'd', 'a', 't', 'a', 0xFF, 0xFF,
                                           0x00, 0x00, 0xFF, 0xF3, 0x90, 0xFF, 0xFF, 0x00, 0x00};
        coded.Data.insert(coded.Data.begin(), junk.begin(), junk.end());
    }
    const uint32_t frameBytes = 2 * c.Channels;
    const Pieces whole = ConvertInPieces(coded, coded.Data.size(), 64u << 20);
    ASSERT_EQ(whole.Result, 0u);
    const size_t frames = whole.Samples.size() / c.Channels;
    const bool mp3 = c.Format == 0 || c.Format == kMp3Untagged;
    if (c.Format == 0)
        EXPECT_EQ(frames, src.size() / c.Channels); // every frame, and only the audio
    else if (mp3)
        EXPECT_GE(frames, src.size() / c.Channels); // every frame, the coder's delay and padding too
    else
        EXPECT_EQ(frames, coded.Data.size() / coded.Format()->nBlockAlign * AcmFramesPerBlock(coded.Format()));

    const size_t pieceBytes = size_t(c.PieceBlocks) * (mp3 ? 1 : coded.Format()->nBlockAlign);
    const Pieces pieces = ConvertInPieces(coded, pieceBytes, c.DstFrames ? c.DstFrames * frameBytes : 64u << 20);
    ASSERT_EQ(pieces.Result, 0u);
    EXPECT_GE(size_t(pieces.Calls), coded.Data.size() / pieceBytes);
    EXPECT_TRUE(pieces.Samples == whole.Samples) << pieces.Samples.size() / c.Channels << " frames of " << frames;
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, Piecewise,
    ::testing::Values(PieceCase{"ImaMonoOneBlock", kIma, 1, 44100, 1, 0},
                      PieceCase{"ImaStereoThreeBlocksShortDestination", kIma, 2, 44100, 3, 2 * 2041 + 7},
                      PieceCase{"MsAdpcmStereoSevenBlocks", kMs, 2, 22050, 7, 0},
                      PieceCase{"MsAdpcmMonoOneBlockDestination", kMs, 1, 8000, 1, 500},
                      PieceCase{"GsmOneBlock", kGsm, 1, 8000, 1, 0},
                      PieceCase{"GsmThirteenBlocksShortDestination", kGsm, 1, 8000, 13, 5 * 320 + 1},
                      PieceCase{"MuLawStereo", kULaw, 2, 16000, 999, 0},
                      PieceCase{"ALawShortDestination", SF_FORMAT_WAV | SF_FORMAT_ALAW, 1, 8000, 4001, 1000},
                      PieceCase{"ExtensiblePcm24", kExt, 2, 48000, 1001, 0},
                      PieceCase{"Mp3StereoOddPieces", 0, 2, 44100, 417, 0},
                      PieceCase{"Mp3MonoByteByByteShortDestination", 0, 1, 22050, 1, 1151},
                      PieceCase{"Mp3UntaggedStereo", kMp3Untagged, 2, 44100, 4096, 999},
                      PieceCase{"Mp3AfterJunkInPiecesOfNine", 0, 2, 44100, 9, 0, true}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(Acm, HandleAndHeaderMisuseIsReported)
{
    Coded c = Encode(kULaw, Sine(100, 8000, {440}), 1, 8000);
    const WAVEFORMATEX pcm = Pcm16(1, 8000);
    WAVEFORMATEX pcm8 = pcm;
    pcm8.wBitsPerSample = 8;
    HACMSTREAM h = nullptr;
    EXPECT_EQ(acmStreamOpen(&h, nullptr, c.Format(), &pcm8, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acmStreamOpen(&h, nullptr, c.Format(), &pcm, nullptr, 0, 0, ACM_STREAMOPENF_ASYNC), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(acmStreamOpen(&h, nullptr, c.Format(), &pcm, reinterpret_cast<WAVEFILTER*>(&h), 0, 0, 0),
              MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(acmStreamOpen(&h, nullptr, c.Format(), &pcm, nullptr, 0, 0, 0x1000), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, c.Format(), &pcm, nullptr, 0, 0, 0), MMSYSERR_INVALPARAM);
    ASSERT_EQ(acmStreamOpen(&h, nullptr, c.Format(), &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME), 0u);

    uint32_t out = 0;
    EXPECT_EQ(acmStreamSize(h, 100, &out, ACM_STREAMSIZEF_DESTINATION), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(acmStreamSize(h, 100, nullptr, ACM_STREAMSIZEF_SOURCE), MMSYSERR_INVALPARAM);

    std::vector<uint8_t> dst(400), other(400);
    ACMSTREAMHEADER hdr{};
    hdr.cbStruct = sizeof hdr;
    hdr.pbSrc = c.Data.data();
    hdr.cbSrcLength = uint32_t(c.Data.size());
    hdr.pbDst = dst.data();
    hdr.cbDstLength = uint32_t(dst.size());
    EXPECT_EQ(acmStreamConvert(h, &hdr, 0), ACMERR_UNPREPARED);
    EXPECT_EQ(acmStreamPrepareHeader(h, &hdr, 1), MMSYSERR_INVALFLAG);
    hdr.cbStruct = 84;
    EXPECT_EQ(acmStreamPrepareHeader(h, &hdr, 0), MMSYSERR_INVALPARAM);
    hdr.cbStruct = sizeof hdr;
    ASSERT_EQ(acmStreamPrepareHeader(h, &hdr, 0), 0u);
    EXPECT_TRUE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
    EXPECT_EQ(acmStreamConvert(h, &hdr, 0x1), MMSYSERR_INVALFLAG);
    hdr.pbDst = other.data();
    EXPECT_EQ(acmStreamConvert(h, &hdr, 0), MMSYSERR_INVALPARAM);
    hdr.pbDst = dst.data();
    EXPECT_EQ(acmStreamConvert(h, &hdr, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END), 0u);
    EXPECT_EQ(hdr.cbDstLengthUsed, 200u);
    EXPECT_EQ(acmStreamUnprepareHeader(h, &hdr, 0), 0u);
    EXPECT_FALSE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
    EXPECT_EQ(acmStreamUnprepareHeader(h, &hdr, 0), ACMERR_UNPREPARED);
    EXPECT_EQ(acmStreamClose(h, 1), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamClose(h, 0), 0u);

    // A closed handle is known to be gone.
    EXPECT_EQ(acmStreamSize(h, 100, &out, ACM_STREAMSIZEF_SOURCE), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamPrepareHeader(h, &hdr, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamClose(h, 0), MMSYSERR_INVALHANDLE);
}

TEST(Acm, TagHelpers)
{
    const uint16_t decodable[] = {WAVE_FORMAT_PCM,   WAVE_FORMAT_IEEE_FLOAT, WAVE_FORMAT_EXTENSIBLE,
                                  WAVE_FORMAT_ADPCM, WAVE_FORMAT_ALAW,       WAVE_FORMAT_MULAW,
                                  WAVE_FORMAT_IMA_ADPCM, WAVE_FORMAT_GSM610};
    for (uint16_t tag : decodable) {
        EXPECT_TRUE(AcmTagDecodable(tag)) << tag;
        EXPECT_NE(AcmFormatTagName(tag), nullptr) << tag;
    }
    EXPECT_FALSE(AcmTagDecodable(0));
    EXPECT_FALSE(AcmTagDecodable(0x0022)); // TrueSpeech
    EXPECT_EQ(AcmFormatTagName(0x0022), nullptr);
    EXPECT_STREQ(AcmFormatTagName(WAVE_FORMAT_IMA_ADPCM), "IMA ADPCM");

    Coded ima = Encode(kIma, Sine(100, 44100, {440, 440}), 2, 44100);
    Coded gsm = Encode(kGsm, Sine(100, 8000, {440}), 1, 8000);
    Coded ulaw = Encode(kULaw, Sine(100, 8000, {440}), 1, 8000);
    EXPECT_EQ(AcmFramesPerBlock(ima.Format()), ima.Get16(18));
    EXPECT_EQ(AcmFramesPerBlock(gsm.Format()), 320u);
    EXPECT_EQ(AcmFramesPerBlock(ulaw.Format()), 1u);
    EXPECT_EQ(AcmFramesPerBlock(nullptr), 0u);
}

} // namespace
