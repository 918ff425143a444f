#include "sources/VelmarWave.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace velmar;
using namespace testing_support;

namespace {

std::vector<uint8_t> Fmt(uint16_t tag, int ch, uint32_t rate, int bits, size_t size = 16)
{
    std::vector<uint8_t> f;
    PutU16(f, tag);
    PutU16(f, static_cast<uint16_t>(ch));
    PutU32(f, rate);
    PutU32(f, rate * ch * bits / 8);
    PutU16(f, static_cast<uint16_t>(ch * bits / 8));
    PutU16(f, static_cast<uint16_t>(bits));
    f.resize(size, 0);
    return f;
}

std::vector<uint8_t> Riff(const std::vector<uint8_t>& chunks)
{
    std::vector<uint8_t> b;
    PutTag(b, "RIFF");
    PutU32(b, static_cast<uint32_t>(chunks.size() + 4));
    PutTag(b, "WAVE");
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
}

std::vector<uint8_t> Ramp(size_t bytes)
{
    std::vector<uint8_t> d(bytes);
    for (size_t i = 0; i < bytes; ++i)
        d[i] = static_cast<uint8_t>(i * 7 + 3);
    return d;
}

// Reads a whole read cycle through ReadData with the given request size.
std::vector<uint8_t> ReadAll(TVelmarWaveIn& w, int request = 65536)
{
    std::vector<uint8_t> out, buf(static_cast<size_t>(request));
    w.BeginRead();
    for (int n; (n = w.ReadData(buf.data(), request)) > 0;) {
        EXPECT_LE(n, TVelmarWaveIn::BlockSize);
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
    w.EndRead();
    return out;
}

struct Reader {
    TempDir dir;
    TVelmarWaveIn wave;
    explicit Reader(const std::vector<uint8_t>& bytes)
    {
        WriteBytes(dir.File("in.wav"), bytes);
        wave.SetFileName(dir.File("in.wav"));
    }
};

} // namespace

TEST(VelmarWave, CanonicalFileHandsOutTheDataAndItsFormat)
{
    auto data = Ramp(100000);
    std::vector<uint8_t> chunks;
    PutChunk(chunks, "fmt ", Fmt(1, 2, 22050, 16));
    PutChunk(chunks, "data", data);
    Reader r(Riff(chunks));
    EXPECT_EQ(r.wave.GetSampleRate(), 22050);
    EXPECT_EQ(r.wave.GetChannels(), 2);
    EXPECT_EQ(r.wave.GetBitsPerSample(), 16);
    EXPECT_EQ(r.wave.OpenCount(), 0); // each query opened and closed the source
    EXPECT_EQ(ReadAll(r.wave), data);
    EXPECT_EQ(r.wave.Position(), 100000);
    EXPECT_EQ(r.wave.Size(), 100000);
}

TEST(VelmarWave, ChunkLayoutsOfRealWriters)
{
    auto data = Ramp(70000);
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        std::vector<uint8_t> want;
    };
    auto list = [](const std::string& text) {
        std::vector<uint8_t> l;
        PutTag(l, "INFO");
        std::vector<uint8_t> t(text.begin(), text.end());
        PutChunk(l, "INAM", t);
        return l;
    };
    std::vector<Case> cases;
    { // ffmpeg: a LIST chunk before the data, whose text says "data"
        std::vector<uint8_t> c;
        PutChunk(c, "fmt ", Fmt(1, 1, 44100, 16));
        PutChunk(c, "LIST", list("my data song"));
        PutChunk(c, "data", data);
        cases.push_back({"LIST before data", Riff(c), data});
    }
    { // a chunk after the data must not be heard
        std::vector<uint8_t> c;
        PutChunk(c, "fmt ", Fmt(1, 1, 44100, 16));
        PutChunk(c, "data", data);
        PutChunk(c, "LIST", list("trailing tags"));
        cases.push_back({"chunk after data", Riff(c), data});
    }
    { // an odd-sized chunk with its pad byte, and one whose writer forgot it
        std::vector<uint8_t> c1, c2;
        PutChunk(c1, "fmt ", Fmt(1, 1, 44100, 16));
        PutChunk(c1, "junk", {1, 2, 3}, true);
        PutChunk(c1, "data", data);
        cases.push_back({"odd chunk padded", Riff(c1), data});
        PutChunk(c2, "fmt ", Fmt(1, 1, 44100, 16));
        PutChunk(c2, "junk", {1, 2, 3}, false);
        PutChunk(c2, "data", data);
        cases.push_back({"odd chunk unpadded", Riff(c2), data});
    }
    { // an 18- and a 40-byte fmt chunk, then a fact chunk
        std::vector<uint8_t> c;
        PutChunk(c, "fmt ", Fmt(1, 1, 44100, 16, 18));
        PutChunk(c, "fact", {0, 0, 0, 0});
        PutChunk(c, "data", data);
        cases.push_back({"18-byte fmt and fact", Riff(c), data});
    }
    { // data size larger than the file: what is there
        std::vector<uint8_t> c;
        PutChunk(c, "fmt ", Fmt(1, 1, 44100, 16));
        PutTag(c, "data");
        PutU32(c, 0xFFFFFFFF);
        c.insert(c.end(), data.begin(), data.end());
        cases.push_back({"data size beyond the end", Riff(c), data});
    }
    { // data size 0
        std::vector<uint8_t> c;
        PutChunk(c, "fmt ", Fmt(1, 1, 44100, 16));
        PutChunk(c, "data", {});
        cases.push_back({"empty data", Riff(c), {}});
    }
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Reader r(k.file);
        EXPECT_EQ(r.wave.GetSampleRate(), 44100);
        EXPECT_EQ(ReadAll(r.wave, 5000), k.want);
    }
}

TEST(VelmarWave, RequestsNeverGetMoreThanTheRestOfTheBlock)
{
    std::vector<uint8_t> c;
    auto data = Ramp(40000);
    PutChunk(c, "fmt ", Fmt(1, 2, 44100, 16));
    PutChunk(c, "data", data);
    Reader r(Riff(c));
    std::vector<uint8_t> buf(100000);
    r.wave.BeginRead();
    EXPECT_EQ(r.wave.ReadData(buf.data(), 100000), 32768);
    EXPECT_EQ(r.wave.ReadData(buf.data(), 10), 10);
    EXPECT_EQ(r.wave.ReadData(buf.data(), 100000), 40000 - 32768 - 10);
    EXPECT_EQ(r.wave.ReadData(buf.data(), 100000), 0);
    r.wave.EndRead();
}

TEST(VelmarWave, LoopStartsAgainFromTheFirstSample)
{
    std::vector<uint8_t> c;
    auto data = Ramp(1000);
    PutChunk(c, "fmt ", Fmt(1, 1, 8000, 16));
    PutChunk(c, "data", data);
    Reader r(Riff(c));
    r.wave.SetLoop(true);
    r.wave.BeginRead();
    std::vector<uint8_t> buf(4000);
    EXPECT_EQ(r.wave.ReadData(buf.data(), 4000), 1000);
    EXPECT_EQ(r.wave.ReadData(buf.data(), 4000), 1000);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 1000), data);
    EXPECT_EQ(r.wave.Position(), 1000);
    r.wave.EndRead();

    std::vector<uint8_t> e;
    PutChunk(e, "fmt ", Fmt(1, 1, 8000, 16));
    PutChunk(e, "data", {});
    Reader empty(Riff(e));
    empty.wave.SetLoop(true);
    empty.wave.BeginRead();
    EXPECT_EQ(empty.wave.ReadData(buf.data(), 4000), 0);
    empty.wave.EndRead();
}

TEST(VelmarWave, ReadCycleRules)
{
    std::vector<uint8_t> c;
    PutChunk(c, "fmt ", Fmt(1, 1, 8000, 16));
    PutChunk(c, "data", Ramp(10));
    Reader r(Riff(c));
    char buf[16];
    EXPECT_THROW(r.wave.ReadData(buf, 16), VelmarException);
    r.wave.BeginRead();
    try {
        r.wave.BeginRead();
        FAIL();
    } catch (const VelmarException& e) {
        EXPECT_STREQ(e.what(), "The component is buisy");
    }
    EXPECT_EQ(r.wave.GetSampleRate(), 8000);
    EXPECT_EQ(r.wave.OpenCount(), 1);
    r.wave.EndRead();
    TVelmarWaveIn unnamed;
    try {
        unnamed.BeginRead();
        FAIL();
    } catch (const VelmarException& e) {
        EXPECT_STREQ(e.what(), "The file name is not assigned");
    }
}

// Other sample widths reach the chain as 16-bit, rounded and clipped.
TEST(VelmarWave, SampleWidthsBecome16Bits)
{
    struct Case {
        const char* name;
        uint16_t tag;
        int bits;
        std::vector<uint8_t> bytes;
        std::vector<int16_t> want;
    };
    auto f32 = [](std::initializer_list<float> v) {
        std::vector<uint8_t> b;
        for (float x : v) {
            uint8_t t[4];
            std::memcpy(t, &x, 4);
            b.insert(b.end(), t, t + 4);
        }
        return b;
    };
    auto f64 = [](std::initializer_list<double> v) {
        std::vector<uint8_t> b;
        for (double x : v) {
            uint8_t t[8];
            std::memcpy(t, &x, 8);
            b.insert(b.end(), t, t + 8);
        }
        return b;
    };
    const std::vector<Case> cases = {
        {"8-bit unsigned", 1, 8, {0, 128, 255, 1}, {-32768, 0, 32512, -32512}},
        {"24-bit", 1, 24, {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x80, 0x12, 0x00, 0x7F, 0x12, 0x00},
         {-32768, 32767, 0x13, 0x12}},
        {"32-bit", 1, 32, {0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x80, 0x34, 0x12, 0xFF, 0x7F, 0x34, 0x12},
         {-32768, 32767, 0x1235, 0x1234}},
        {"float", 3, 32, f32({-1.0f, 1.5f, 0.5f, std::nanf("")}), {-32768, 32767, 16384, 0}},
        {"double", 3, 64, f64({-2.0, 0.25, 1.0, -0.5}), {-32768, 8192, 32767, -16384}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<uint8_t> c;
        PutChunk(c, "fmt ", Fmt(k.tag, 2, 48000, k.bits));
        PutChunk(c, "data", k.bytes);
        Reader r(Riff(c));
        EXPECT_EQ(r.wave.GetBitsPerSample(), 16);
        auto got = ReadAll(r.wave);
        EXPECT_EQ(r.wave.Size(), int64_t(k.want.size()) * 2);
        EXPECT_EQ(got, Samples16ToBytes(k.want));
    }
}

TEST(VelmarWave, ExtensibleWithPcmSubformatIsRead)
{
    std::vector<uint8_t> fmt = Fmt(0xFFFE, 6, 48000, 16, 40);
    fmt[16] = 22;                                 // cbSize
    fmt[18] = 16;                                 // valid bits
    fmt[20] = 0x3F;                               // channel mask 5.1
    const uint8_t guid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    std::memcpy(fmt.data() + 24, guid, 16);
    std::vector<uint8_t> c;
    auto data = Ramp(12 * 100);
    PutChunk(c, "fmt ", fmt);
    PutChunk(c, "data", data);
    Reader r(Riff(c));
    EXPECT_EQ(r.wave.GetChannels(), 6);
    EXPECT_EQ(ReadAll(r.wave), data);
}

TEST(VelmarWave, FilesTheChainCannotTakeAreRefusedByName)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        const char* reason;
    };
    auto wav = [](std::vector<uint8_t> fmt) {
        std::vector<uint8_t> c;
        PutChunk(c, "fmt ", fmt);
        PutChunk(c, "data", Ramp(400));
        return Riff(c);
    };
    std::vector<uint8_t> noData;
    PutChunk(noData, "fmt ", Fmt(1, 1, 8000, 16));
    std::vector<uint8_t> badExt = Fmt(0xFFFE, 2, 44100, 16, 30);
    const std::vector<Case> cases = {
        {"empty file", {}, "not a RIFF/WAVE file"},
        {"text", std::vector<uint8_t>(100, 'x'), "not a RIFF/WAVE file"},
        {"no data chunk", Riff(noData), "no data chunk"},
        {"0 channels", wav(Fmt(1, 0, 44100, 16)), "0 channels"},
        {"256 channels", wav(Fmt(1, 256, 44100, 16)), "256 channels"},
        {"rate 0", wav(Fmt(1, 2, 0, 16)), "sample rate 0"},
        {"rate 4e9", wav(Fmt(1, 2, 4000000000u, 16)), "sample rate 4000000000"},
        {"PCM 0 bits", wav(Fmt(1, 2, 44100, 0)), "0 bits"},
        {"PCM 12 bits", wav(Fmt(1, 2, 44100, 12)), "12 bits"},
        {"short extensible", wav(badExt), "EXTENSIBLE"},
        {"unknown tag", wav(Fmt(0x1234, 2, 44100, 16)), "0x1234"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Reader r(k.file);
        try {
            r.wave.BeginRead();
            FAIL() << "accepted";
        } catch (const VelmarException& e) {
            EXPECT_NE(std::string(e.what()).find("in.wav"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(k.reason), std::string::npos) << e.what();
        }
        EXPECT_EQ(r.wave.OpenCount(), 0);
        EXPECT_FALSE(r.wave.Busy());
    }
}

TEST(VelmarWave, MissingFileRaisesTheStreamError)
{
    TVelmarWaveIn w;
    w.SetFileName("/nonexistent/x.wav");
    EXPECT_THROW(w.BeginRead(), EStreamError);
}

TEST(VelmarWave, StreamHandedInIsReadAndKept)
{
    std::vector<uint8_t> c;
    auto data = Ramp(3000);
    PutChunk(c, "fmt ", Fmt(1, 1, 8000, 16));
    PutChunk(c, "data", data);
    auto bytes = Riff(c);
    TMemoryStream m;
    m.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
    TVelmarWaveIn w;
    w.SetStream(&m);
    EXPECT_EQ(ReadAll(w), data);
    EXPECT_EQ(w.Stream(), &m);
    EXPECT_TRUE(w.StreamAssigned());
}
