// The readers on the files real tools write: WAVE of other sample widths
// and coded formats, AIFF, AIFF-C and FLAC, written here by libsndfile,
// from a file and through a pipe. 8- and 16-bit and coded data come out as
// 16-bit, the rest (MPEG too) as float: both are compared at full scale 1.0.
#include "platform/PipeStream.h"
#include "sources/VelmarWave.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include <unistd.h>

using namespace velmar;
using namespace testing_support;

namespace {

constexpr int Rate = 44100;
constexpr int Frames = Rate;

// Format 0: MPEG layer 3 in WAVE.
void WriteWithSndfile(const std::string& path, int format, const std::vector<int16_t>& s, int channels)
{
    const auto bytes = format == 0 ? Mp3WaveBytes(s, channels, Rate) : SndfileBytes(format, s, channels, Rate);
    ASSERT_FALSE(bytes.empty()) << "libsndfile cannot write format " << format;
    WriteBytes(path, bytes);
}

// A whole read cycle as floats at full scale 1.0, whichever form the reader
// hands out; the description must have said how many frames come, when it
// could know.
std::vector<float> ReadAll(TVelmarSourceIn& w)
{
    const TSourceDescription d = w.Description();
    std::vector<uint8_t> bytes, buf(32768);
    w.BeginRead();
    EXPECT_EQ(w.GetSampleFormat(), d.Format);
    for (int n; (n = w.ReadData(buf.data(), 32768)) > 0;) {
        bytes.insert(bytes.end(), buf.begin(), buf.begin() + n);
        if (w.Size() >= 0) {
            EXPECT_LE(w.Position(), w.Size());
        }
    }
    EXPECT_EQ(w.Position(), w.Size());
    if (d.Size >= 0) {
        EXPECT_EQ(w.Size(), d.Size);
    }
    w.EndRead();
    const bool wide = d.Format == TSampleFormat::Float32;
    std::vector<float> s(bytes.size() / (wide ? 4 : 2));
    for (size_t i = 0; i < s.size(); ++i) {
        if (wide) {
            std::memcpy(&s[i], bytes.data() + 4 * i, 4);
        } else {
            int16_t v;
            std::memcpy(&v, bytes.data() + 2 * i, 2);
            s[i] = v / 32768.0f;
        }
    }
    return s;
}

template <class T> std::vector<float> Scaled(const std::vector<T>& s)
{
    std::vector<float> f(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        f[i] = float(double(s[i]) / (sizeof(T) == 2 ? 32768.0 : 2147483648.0));
    return f;
}

// Bytes read by the reader the factory picks, through a real pipe that a
// thread fills; the description the reader gave.
std::vector<float> ReadThroughPipe(const std::vector<uint8_t>& Bytes, TSourceDescription& D)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    std::thread writer([&] {
        for (size_t done = 0; done < Bytes.size();) {
            const ssize_t n = ::write(fds[1], Bytes.data() + done, Bytes.size() - done);
            if (n <= 0)
                break;
            done += size_t(n);
        }
        ::close(fds[1]);
    });
    std::vector<float> got;
    try {
        TPipeStream pipe("-", fds[0]);
        TComponent root;
        TVelmarSourceIn* source = CreateSource(&root, "-", &pipe);
        D = source->Description();
        got = ReadAll(*source);
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
    char rest[4096];
    while (::read(fds[0], rest, sizeof rest) > 0) {
    }
    ::close(fds[0]);
    writer.join();
    return got;
}

// 24 significant bits at full 32-bit scale: what a 24-bit file holds whole.
std::vector<int32_t> Deep(const std::vector<int16_t>& s)
{
    std::vector<int32_t> d(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        d[i] = int32_t(uint32_t(s[i]) << 16) + int32_t((i * 40503u) & 0xFF00);
    return d;
}

// Signal-to-noise ratio of Got against Want over Want's length, in dB.
double SnrDb(const std::vector<float>& want, const std::vector<float>& got)
{
    double sig = 0, err = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        double g = i < got.size() ? got[i] : 0;
        sig += double(want[i]) * want[i];
        err += (g - want[i]) * (g - want[i]);
    }
    return 10 * std::log10(sig / std::max(err, 1e-18));
}

} // namespace

TEST(VelmarWaveCoded, EveryRealFileSoundsLikeItsSourceFromAFileOrAPipe)
{
    constexpr uint32_t NoSize = 1; // data size 0xFFFFFFFF, as streaming writers leave it
    constexpr uint32_t ZeroSize = 2;
    struct Case {
        const char* name;
        int format;
        double minSnr;       // 999: exact
        int extraFrames;     // a coded block's padding the writer may leave
        TSourceKind kind = TSourceKind::Wave;
        bool deep = false;   // 24 significant bits in the source
        uint32_t sizes = 0;  // NoSize, ZeroSize: the WAVE header's sizes say nothing
        double amp = 0.5;    // 1.0: samples at full scale, whose coded form overshoots it
    };
    const Case cases[] = {
        {"PCM 8-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 30, 0},
        {"PCM 24-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 999, 0, TSourceKind::Wave, true},
        {"PCM 32-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 999, 0},
        {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 999, 0},
        {"double", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 999, 0},
        {"extensible 24-bit", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 999, 0},
        {"extensible float", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 999, 0},
        {"IMA ADPCM", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 30, 1017},
        {"MS ADPCM", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 35, 0},
        {"mu-law", SF_FORMAT_WAV | SF_FORMAT_ULAW, 30, 0},
        {"A-law", SF_FORMAT_WAV | SF_FORMAT_ALAW, 30, 0},
        {"GSM 6.10", SF_FORMAT_WAV | SF_FORMAT_GSM610, 15, 0},
        {"MPEG layer 3", 0, 30, 0},
        {"MPEG layer 3 at full scale", 0, 25, 0, TSourceKind::Wave, false, 0, 1.0},
        {"PCM 16-bit, sizes 0xFFFFFFFF", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 999, 0, TSourceKind::Wave, false, NoSize},
        {"PCM 16-bit, sizes 0", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 999, 0, TSourceKind::Wave, false, ZeroSize},
        {"AIFF 16-bit", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 999, 0, TSourceKind::Aiff},
        {"AIFF 24-bit", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 999, 0, TSourceKind::Aiff, true},
        {"AIFF-C little-endian", SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, 999, 0, TSourceKind::AiffC},
        {"AIFF-C float", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 999, 0, TSourceKind::AiffC},
        {"AIFF-C mu-law", SF_FORMAT_AIFF | SF_FORMAT_ULAW, 30, 0, TSourceKind::AiffC},
        {"FLAC 8-bit", SF_FORMAT_FLAC | SF_FORMAT_PCM_S8, 30, 0, TSourceKind::Flac},
        {"FLAC 16-bit", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 999, 0, TSourceKind::Flac},
        {"FLAC 24-bit", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 999, 0, TSourceKind::Flac, true},
    };
    for (const Case& k : cases) {
        for (int channels : {1, 2}) {
            if ((k.format & SF_FORMAT_SUBMASK) == SF_FORMAT_GSM610 && channels == 2)
                continue; // GSM 6.10 in WAVE is mono only
            SCOPED_TRACE(std::string(k.name) + (channels == 1 ? " mono" : " stereo"));
            TempDir dir;
            const auto src = Sine(Frames, Rate, channels == 1 ? std::vector<double>{440}
                                                              : std::vector<double>{440, 1000}, k.amp);
            if (k.deep) {
                WriteBytes(dir.File("in.wav"), SndfileBytes(k.format, Deep(src), channels, Rate));
            } else {
                WriteWithSndfile(dir.File("in.wav"), k.format, src, channels);
            }
            std::vector<uint8_t> bytes = ReadBytes(dir.File("in.wav"));
            if (k.sizes) {
                const size_t data = std::string(bytes.begin(), bytes.end()).find("data");
                ASSERT_NE(data, std::string::npos);
                for (size_t at : {size_t(4), data + 4})
                    std::memset(bytes.data() + at, k.sizes == NoSize ? 0xFF : 0, 4);
                WriteBytes(dir.File("in.wav"), bytes);
            }
            TComponent root;
            TVelmarSourceIn* w = CreateSource(&root, dir.File("in.wav"));
            EXPECT_EQ(w->Description().Kind, k.kind);
            EXPECT_EQ(w->GetChannels(), channels);
            EXPECT_EQ(w->GetSampleRate(), Rate);
            const auto got = ReadAll(*w);
            EXPECT_GE(got.size(), src.size());
            EXPECT_LE(got.size(), src.size() + size_t(k.extraFrames * channels));
            if (k.deep)
                EXPECT_EQ(got, Scaled(Deep(src))); // int24 / 2^23, every bit
            else if (k.minSnr == 999)
                EXPECT_EQ(got, Scaled(src));
            else
                EXPECT_GT(SnrDb(Scaled(src), got), k.minSnr);
            if (k.amp == 1.0) { // the decoder's peaks above full scale are kept
                EXPECT_GT(std::max(*std::max_element(got.begin(), got.end()),
                                   -*std::min_element(got.begin(), got.end())), 1.0f);
            }
            EXPECT_EQ(w->OpenCount(), 0);
            // Through a pipe: the same samples, read once in order.
            TSourceDescription piped;
            EXPECT_EQ(ReadThroughPipe(bytes, piped), got);
            EXPECT_EQ(piped.Kind, k.kind);
        }
    }
}

TEST(VelmarWaveCoded, StreamHandedInIsGivenBackAfterDecoding)
{
    TempDir dir;
    const auto src = Sine(Frames, Rate, {440});
    WriteWithSndfile(dir.File("in.wav"), SF_FORMAT_WAV | SF_FORMAT_ULAW, src, 1);
    auto bytes = ReadBytes(dir.File("in.wav"));
    TMemoryStream m;
    m.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
    TVelmarWaveIn w;
    w.SetStream(&m);
    EXPECT_GT(SnrDb(Scaled(src), ReadAll(w)), 30);
    EXPECT_EQ(w.Stream(), &m);
    EXPECT_TRUE(w.StreamAssigned());
    EXPECT_EQ(m.Size(), int64_t(bytes.size())); // untouched
    // And it can be read again.
    EXPECT_EQ(ReadAll(w).size(), src.size());
}

// A writer that cannot seek back leaves out the frame that tells an MPEG
// stream's length, and a loud start makes its first frames the largest:
// no estimate of the length may cut the audio short.
TEST(VelmarWaveCoded, Mp3WithoutItsLengthIsReadWhole)
{
    std::vector<int16_t> src = Sine(10 * Rate, Rate, {440, 660}, 0.05);
    uint32_t noise = 1;
    for (size_t i = 0; i < size_t(Rate); ++i) {
        noise = noise * 1664525u + 1013904223u;
        src[i] = static_cast<int16_t>(int32_t(noise >> 16) - 32768) / 2;
    }
    TempDir dir;
    WriteBytes(dir.File("in.wav"), Mp3WaveBytes(src, 2, Rate, false));
    TVelmarWaveIn w;
    w.SetFileName(dir.File("in.wav"));
    const auto got = ReadAll(w);
    EXPECT_GE(got.size(), src.size());                  // every frame: the coder's delay and padding too
    EXPECT_LT(got.size(), src.size() + 2 * 2 * 1152 + 2 * 2 * 576); // and nothing made up
}

// Data that cannot be decoded is refused by BeginRead when it starts that
// way, by ReadData when it is found further in; either way naming the file.
TEST(VelmarWaveCoded, UndecodableDataIsRefusedByName)
{
    TempDir dir;
    const auto src = Sine(Frames, Rate, {440});
    WriteWithSndfile(dir.File("in.wav"), SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, src, 1);
    const auto good = ReadBytes(dir.File("in.wav"));
    size_t pos = 12;
    size_t dataStart = 0, dataSize = 0;
    while (pos + 8 <= good.size()) {
        uint32_t size = good[pos + 4] | (good[pos + 5] << 8) | (good[pos + 6] << 16) | (uint32_t(good[pos + 7]) << 24);
        if (std::string(good.begin() + long(pos), good.begin() + long(pos) + 4) == "data") {
            dataStart = pos + 8;
            dataSize = size;
            break;
        }
        pos += 8 + size + (size & 1);
    }
    ASSERT_GT(dataStart, 0u);
    const size_t blockAlign = good[32] | (good[33] << 8);
    const struct {
        const char* Name;
        size_t FirstBlock; // broken from this block on (the step index of IMA ADPCM is at most 88)
        bool AtBegin;
    } cases[] = {{"every block", 0, true}, {"the last block", dataSize / blockAlign - 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        auto bytes = good;
        for (size_t b = dataStart + c.FirstBlock * blockAlign; b + 4 <= dataStart + dataSize; b += blockAlign)
            bytes[b + 2] = 200;
        WriteBytes(dir.File("in.wav"), bytes);
        TVelmarWaveIn w;
        w.SetFileName(dir.File("in.wav"));
        std::vector<uint8_t> buf(32768);
        try {
            w.BeginRead();
            EXPECT_FALSE(c.AtBegin) << "accepted";
            while (w.ReadData(buf.data(), int(buf.size())) > 0) {
            }
            ADD_FAILURE() << "read to the end";
        } catch (const VelmarException& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find("in.wav"), std::string::npos) << m;
            if (c.AtBegin) {
                EXPECT_NE(m.find("0x0011"), std::string::npos) << m;
            } else {
                EXPECT_EQ(e.Motivo(), TMotivo::DatiDanneggiati) << m;
                EXPECT_GT(w.Position(), 0);
            }
        }
        w.CancelRead();
        EXPECT_EQ(w.OpenCount(), 0);
    }
}
