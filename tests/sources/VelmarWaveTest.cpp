#include "sources/VelmarWave.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

using namespace velmar;
using namespace testing_support;

namespace {

void Put(std::vector<uint8_t>& b, uint32_t v, int bytes, bool be)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * (be ? bytes - 1 - i : i))));
}

// A fmt body; Align 0: the usual Channels x Bits / 8.
std::vector<uint8_t> Fmt(uint16_t tag, int ch, uint32_t rate, int bits, size_t size = 16, int align = 0,
                         bool be = false)
{
    std::vector<uint8_t> f;
    Put(f, tag, 2, be);
    Put(f, static_cast<uint16_t>(ch), 2, be);
    Put(f, rate, 4, be);
    Put(f, rate * ch * bits / 8, 4, be);
    Put(f, static_cast<uint16_t>(align ? align : ch * bits / 8), 2, be);
    Put(f, static_cast<uint16_t>(bits), 2, be);
    f.resize(size, 0);
    return f;
}

void Chunk(std::vector<uint8_t>& b, const char* tag, const std::vector<uint8_t>& body, bool be)
{
    PutTag(b, tag);
    Put(b, static_cast<uint32_t>(body.size()), 4, be);
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() % 2)
        b.push_back(0);
}

std::vector<uint8_t> Riff(const std::vector<uint8_t>& chunks, const char* form = "RIFF")
{
    std::vector<uint8_t> b;
    PutTag(b, form);
    Put(b, static_cast<uint32_t>(chunks.size() + 4), 4, std::string(form) == "RIFX");
    PutTag(b, "WAVE");
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
}

// A mono 16-bit file of Data with the given chunks before and after it.
std::vector<uint8_t> Tagged(const std::vector<uint8_t>& data, const std::vector<uint8_t>& before,
                            const std::vector<uint8_t>& after = {})
{
    std::vector<uint8_t> c;
    PutChunk(c, "fmt ", Fmt(1, 1, 44100, 16));
    c.insert(c.end(), before.begin(), before.end());
    PutChunk(c, "data", data);
    c.insert(c.end(), after.begin(), after.end());
    return Riff(c);
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
    constexpr int64_t All = -2; // the header declares the frames handed out
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        std::vector<uint8_t> want;
        int64_t declared = All; // DeclaredFrames
    };
    auto list = [](const std::string& text) {
        std::vector<uint8_t> l;
        PutTag(l, "INFO");
        std::vector<uint8_t> t(text.begin(), text.end());
        PutChunk(l, "INAM", t);
        return l;
    };
    auto withData = [&](const char* form, uint32_t size, const std::vector<uint8_t>& before = {},
                        const std::vector<uint8_t>& after = {}) {
        std::vector<uint8_t> c;
        PutChunk(c, "fmt ", Fmt(1, 1, 44100, 16));
        c.insert(c.end(), before.begin(), before.end());
        PutTag(c, "data");
        PutU32(c, size);
        c.insert(c.end(), data.begin(), data.end());
        c.insert(c.end(), after.begin(), after.end());
        return Riff(c, form);
    };
    std::vector<uint8_t> trailer, ds64;
    PutChunk(trailer, "LIST", list("trailing tags"));
    for (uint32_t v : {0u, 0u, 70000u, 0u, 35000u, 0u, 0u}) // RIFF size, data size, sample count, table
        PutU32(ds64, v);
    std::vector<uint8_t> ds64Chunk;
    PutChunk(ds64Chunk, "ds64", ds64);
    std::vector<Case> cases;
    { // ffmpeg: a LIST chunk before the data, whose text says "data"
        std::vector<uint8_t> c;
        PutChunk(c, "LIST", list("my data song"));
        cases.push_back({"LIST before data", Tagged(data, c), data});
    }
    cases.push_back({"chunk after data", Tagged(data, {}, trailer), data});
    { // an odd-sized chunk with its pad byte, and one whose writer forgot it
        std::vector<uint8_t> c1, c2;
        PutChunk(c1, "junk", {1, 2, 3}, true);
        cases.push_back({"odd chunk padded", Tagged(data, c1), data});
        PutChunk(c2, "junk", {1, 2, 3}, false);
        cases.push_back({"odd chunk unpadded", Tagged(data, c2), data});
    }
    { // an 18-byte fmt chunk, then a fact chunk
        std::vector<uint8_t> c;
        PutChunk(c, "fmt ", Fmt(1, 1, 44100, 16, 18));
        PutChunk(c, "fact", {0, 0, 0, 0});
        PutChunk(c, "data", data);
        cases.push_back({"18-byte fmt and fact", Riff(c), data});
    }
    // Sizes that say nothing: the data runs to the end of the file.
    cases.push_back({"data size 0xFFFFFFFF", withData("RIFF", 0xFFFFFFFF), data, -1});
    cases.push_back({"data size 0 with bytes after it", withData("RIFF", 0), data, -1});
    cases.push_back({"data size 0, then a chunk", Tagged({}, {}, trailer), {}});
    cases.push_back({"data cut short", withData("RIFF", 100000), data, 50000});
    // RF64 and BW64: the data size is in ds64.
    cases.push_back({"RF64", withData("RF64", 0xFFFFFFFF, ds64Chunk, trailer), data});
    cases.push_back({"BW64", withData("BW64", 0xFFFFFFFF, ds64Chunk, trailer), data});
    { // RIFX: big-endian sizes and samples
        std::vector<uint8_t> c, be(data);
        Chunk(c, "fmt ", Fmt(1, 1, 44100, 16, 16, 0, true), true);
        Chunk(c, "data", data, true);
        for (size_t i = 0; i + 1 < be.size(); i += 2)
            std::swap(be[i], be[i + 1]);
        cases.push_back({"RIFX", Riff(c, "RIFX"), be});
    }
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Reader r(k.file);
        const TWaveDescription d = r.wave.Description();
        EXPECT_EQ(d.SampleRate, 44100);
        EXPECT_EQ(d.Frames, int64_t(k.want.size() / 2));
        EXPECT_EQ(d.DeclaredFrames, k.declared == All ? d.Frames : k.declared);
        EXPECT_EQ(ReadAll(r.wave, 5000), k.want);
        EXPECT_EQ(r.wave.Size(), d.Size);
    }
}

// A stream whose size says what a file over 4 GiB would hold: its header,
// zeros after it, and bytes put at given offsets.
class THugeStream : public TStream {
public:
    THugeStream(std::vector<uint8_t> Head, int64_t Size) : FSize(Size) { Put(0, std::move(Head)); }
    void Put(int64_t At, std::vector<uint8_t> Bytes) { FPieces.emplace_back(At, std::move(Bytes)); }
    int64_t Read(void* Buffer, int64_t Count) override
    {
        const int64_t n = std::max<int64_t>(0, std::min(Count, FSize - FPos));
        auto* p = static_cast<uint8_t*>(Buffer);
        std::memset(p, 0, size_t(n));
        for (const auto& [at, bytes] : FPieces)
            for (int64_t i = std::max(at, FPos); i < std::min(at + int64_t(bytes.size()), FPos + n); ++i)
                p[i - FPos] = bytes[size_t(i - at)];
        FPos += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override
    {
        FPos = Offset + (Origin == TSeekOrigin::soCurrent ? FPos : Origin == TSeekOrigin::soEnd ? FSize : 0);
        return FPos;
    }
    int64_t Size() override { return FSize; }
    void SetSize(int64_t) override {}

private:
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> FPieces;
    int64_t FSize;
    int64_t FPos = 0;
};

TEST(VelmarWave, SizesBeyond4GiB)
{
    constexpr int64_t GiB = int64_t(1) << 30;
    struct Case {
        const char* name;
        const char* form;
        uint32_t dataSize;   // as stored in the data chunk
        int64_t trueBytes;   // bytes after the data chunk's header
        int64_t ds64Size;    // -1: no ds64 chunk
        int64_t fact;        // -1: no fact chunk
        int64_t frames, declared;
        std::vector<std::pair<int64_t, std::vector<uint8_t>>> after = {}; // chunks at offsets from the data
        bool readToTheEnd = false;       // no size fitted: the file's end is taken, with a warning
    };
    const int64_t wrapped = 6 * GiB + 4000; // sox: stores the size modulo 2^32
    const int64_t stored = wrapped % (4 * GiB);
    std::vector<uint8_t> info, list, junk;
    PutTag(info, "INFO");
    PutChunk(info, "INAM", {'F', 'i', 'n', 'e'});
    PutChunk(list, "LIST", info);
    PutTag(junk, "junk");
    PutU32(junk, uint32_t(3 * GiB));
    const Case cases[] = {
        {"RF64", "RF64", 0xFFFFFFFF, 6 * GiB, 6 * GiB, -1, 6 * GiB / 4, 6 * GiB / 4},
        {"RF64 cut short", "RF64", 0xFFFFFFFF, 5 * GiB, 6 * GiB, -1, 5 * GiB / 4, 6 * GiB / 4},
        {"size 0xFFFFFFFF", "RIFF", 0xFFFFFFFF, 5 * GiB, -1, -1, 5 * GiB / 4, -1},
        {"wrapped size", "RIFF", uint32_t(wrapped), wrapped, -1, -1, wrapped / 4, wrapped / 4},
        {"wrapped, fact agrees", "RIFF", uint32_t(wrapped), wrapped, -1, uint32_t(wrapped / 4), wrapped / 4,
         wrapped / 4},
        {"wrapped, then a LIST chunk", "RIFF", uint32_t(wrapped), wrapped + int64_t(list.size()), -1, -1,
         wrapped / 4, wrapped / 4, {{wrapped, list}}},
        // Two chunks of 3 GiB follow the data: its size is the declared one.
        {"6 GiB of chunks after the data", "RIFF", 4000, 4000 + 2 * (3 * GiB + 8), -1, -1, 1000, 1000,
         {{4000, junk}, {4000 + 3 * GiB + 8, junk}}},
        {"more than a wrap after the data", "RIFF", 4000, wrapped + 2, -1, -1, (wrapped + 2) / 4, 1000, {}, true},
        {"wrapped, the fact agreeing with no size that fits", "RIFF", uint32_t(wrapped), wrapped, -1, stored / 4,
         wrapped / 4, stored / 4, {}, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<uint8_t> c;
        if (k.ds64Size >= 0) {
            std::vector<uint8_t> ds;
            for (int64_t v : {int64_t(0), k.ds64Size, int64_t(0)}) {
                PutU32(ds, uint32_t(v));
                PutU32(ds, uint32_t(v >> 32));
            }
            PutU32(ds, 0);
            PutChunk(c, "ds64", ds);
        }
        PutChunk(c, "fmt ", Fmt(1, 2, 96000, 16));
        if (k.fact >= 0) {
            std::vector<uint8_t> f;
            PutU32(f, uint32_t(k.fact));
            PutChunk(c, "fact", f);
        }
        PutTag(c, "data");
        PutU32(c, k.dataSize);
        std::vector<uint8_t> head = Riff(c, k.form);
        THugeStream s(head, int64_t(head.size()) + k.trueBytes);
        for (const auto& [at, bytes] : k.after)
            s.Put(int64_t(head.size()) + at, bytes);
        TVelmarWaveIn w;
        w.SetStream(&s);
        const TWaveDescription d = w.Description();
        EXPECT_EQ(d.Frames, k.frames);
        EXPECT_EQ(d.DeclaredFrames, k.declared);
        EXPECT_EQ(d.Warnings.size(), k.readToTheEnd ? 1u : 0u);
        if (k.readToTheEnd) {
            EXPECT_EQ(d.Warnings.at(0), TestoMotivo(TMotivo::OltreDichiarato, Secondi(k.frames, 96000) + " invece dei " +
                                                                            Secondi(k.declared, 96000) + " dichiarati"));
        }
        if (!k.after.empty() && k.after[0].second == list) {
            EXPECT_EQ(d.Tags, TStringList{"TITLE=Fine"}); // the walk went on after the data
        }
        EXPECT_EQ(d.Size, k.frames * 4);
        w.BeginRead();
        EXPECT_EQ(w.Size(), k.frames * 4);
        std::vector<uint8_t> buf(32768);
        EXPECT_EQ(w.ReadData(buf.data(), 32768), std::min<int64_t>(32768, k.frames * 4));
        w.EndRead();
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

// 8- and 16-bit samples reach the chain as 16-bit; wider ones and floats as
// float at full scale 1.0, exact and unclipped; narrower samples in wider
// containers as the container; plain, extensible or big-endian alike.
TEST(VelmarWave, SampleFormatsAndWidths)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> fmt;
        bool be;
        std::vector<uint8_t> bytes; // two frames of stereo
        std::vector<uint8_t> want;
    };
    auto f32 = [](std::initializer_list<float> v) {
        std::vector<uint8_t> b(v.size() * 4);
        std::memcpy(b.data(), std::data(v), b.size());
        return b;
    };
    auto f64 = [](std::initializer_list<double> v) {
        std::vector<uint8_t> b(v.size() * 8);
        std::memcpy(b.data(), std::data(v), b.size());
        return b;
    };
    auto reversed = [](std::vector<uint8_t> b, size_t width) {
        for (size_t i = 0; i < b.size(); i += width)
            std::reverse(b.begin() + long(i), b.begin() + long(i + width));
        return b;
    };
    // WAVE_FORMAT_EXTENSIBLE with the subformat Tag + Tail, channel mask 0.
    auto extensible = [](int bits, uint8_t tag, std::initializer_list<uint8_t> tail) {
        std::vector<uint8_t> f = Fmt(0xFFFE, 2, 48000, bits, 18);
        f[16] = 22; // cbSize
        for (uint8_t b : {uint8_t(bits), uint8_t(0), uint8_t(0), uint8_t(0), uint8_t(0), uint8_t(0), tag, uint8_t(0)})
            f.push_back(b);
        f.insert(f.end(), tail);
        return f;
    };
    const auto ks = {uint8_t(0), uint8_t(0), uint8_t(0), uint8_t(0), uint8_t(0x10), uint8_t(0), uint8_t(0x80),
                     uint8_t(0), uint8_t(0), uint8_t(0xAA), uint8_t(0), uint8_t(0x38), uint8_t(0x9B), uint8_t(0x71)};
    const auto ambisonic = {uint8_t(0), uint8_t(0), uint8_t(0x21), uint8_t(0x07), uint8_t(0xD3), uint8_t(0x11),
                            uint8_t(0x86), uint8_t(0x44), uint8_t(0xC8), uint8_t(0xC1), uint8_t(0xCA), uint8_t(0),
                            uint8_t(0), uint8_t(0)};
    const std::vector<uint8_t> floats = f32({-1.0f, 1.5f, 0.5f, std::nanf("")});
    const std::vector<uint8_t> ints24 = {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x80, 0x12, 0x00, 0x01, 0x00, 0x00};
    const std::vector<uint8_t> from24 = f32({-1.0f, 8388607 / 8388608.0f, 4736 / 8388608.0f, 0x1p-23f});
    const std::vector<Case> cases = {
        {"8-bit unsigned", Fmt(1, 2, 48000, 8), false, {0, 128, 255, 1}, Samples16ToBytes({-32768, 0, 32512, -32512})},
        {"5 bits in 1 byte", Fmt(1, 2, 48000, 5, 16, 2), false, {0, 128, 248, 8},
         Samples16ToBytes({-32768, 0, 30720, -30720})},
        {"12 bits in 2 bytes", Fmt(1, 2, 48000, 12, 16, 4), false, {0x10, 0x80, 0xF0, 0x7F, 0, 0, 0x30, 0},
         Samples16ToBytes({-32752, 32752, 0, 48})},
        {"16-bit RIFX", Fmt(1, 2, 48000, 16, 16, 0, true), true, {0x12, 0x34, 0xFF, 0xFE, 0x80, 0, 0, 1},
         Samples16ToBytes({0x1234, -2, -32768, 1})},
        {"24-bit", Fmt(1, 2, 48000, 24), false, ints24, from24},
        {"20 bits in 3 bytes", Fmt(1, 2, 48000, 20, 16, 6), false, ints24, from24},
        {"24-bit RIFX", Fmt(1, 2, 48000, 24, 16, 0, true), true, reversed(ints24, 3), from24},
        {"32-bit", Fmt(1, 2, 48000, 32), false,
         {0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x01, 0x00, 0x01, 0, 0, 0},
         f32({-1.0f, 1.0f, 0x1p-15f, 0x1p-31f})},
        {"float", Fmt(3, 2, 48000, 32), false, floats, floats},
        {"float RIFX", Fmt(3, 2, 48000, 32, 16, 0, true), true, reversed(floats, 4), floats},
        {"double", Fmt(3, 2, 48000, 64), false, f64({-2.0, 0.25, 0.1, 1e300}),
         f32({-2.0f, 0.25f, 0.1f, INFINITY})},
        {"extensible PCM", extensible(16, 1, ks), false, {0x12, 0x34, 0xFF, 0xFE, 0x80, 0, 0, 1},
         Samples16ToBytes({0x3412, -257, 128, 256})},
        {"ambisonic B-format PCM", extensible(24, 1, ambisonic), false, ints24, from24},
        {"ambisonic B-format float", extensible(32, 3, ambisonic), false, floats, floats},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<uint8_t> c;
        Chunk(c, "fmt ", k.fmt, k.be);
        Chunk(c, "data", k.bytes, k.be);
        Reader r(Riff(c, k.be ? "RIFX" : "RIFF"));
        const bool wide = k.want.size() == 16;
        EXPECT_EQ(r.wave.GetBitsPerSample(), wide ? 32 : 16);
        EXPECT_EQ(r.wave.GetSampleFormat(), wide ? TSampleFormat::Float32 : TSampleFormat::Int16);
        EXPECT_EQ(ReadAll(r.wave), k.want);
        EXPECT_EQ(r.wave.Size(), int64_t(k.want.size()));
        EXPECT_EQ(r.wave.Description().Frames, 2);
    }
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
    std::vector<uint8_t> ambisonicAdpcm = Fmt(0xFFFE, 4, 44100, 16, 18);
    ambisonicAdpcm[16] = 22;
    for (uint8_t b : {16, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0x21, 0x07, 0xD3, 0x11, 0x86, 0x44, 0xC8, 0xC1, 0xCA, 0, 0, 0})
        ambisonicAdpcm.push_back(b);
    std::vector<uint8_t> gsmStereo = Fmt(0x31, 2, 8000, 0, 20, 65); // GSM 6.10 in WAVE is mono only
    gsmStereo[16] = 2;
    gsmStereo[18] = 320 & 0xFF;
    gsmStereo[19] = 320 >> 8;
    const std::vector<Case> cases = {
        {"empty file", {}, "non è un file WAVE"},
        {"text", std::vector<uint8_t>(100, 'x'), "non è un file WAVE"},
        {"no data chunk", Riff(noData), "mancano i dati audio"},
        {"0 channels", wav(Fmt(1, 0, 44100, 16)), "numero di canali non valido: 0"},
        {"256 channels", wav(Fmt(1, 256, 44100, 16)), "numero di canali non valido: 256"},
        {"rate 0", wav(Fmt(1, 2, 0, 16)), "frequenza di campionamento non valida: 0 Hz"},
        {"rate 4e9", wav(Fmt(1, 2, 4000000000u, 16)), "non valida: 4000000000 Hz"},
        {"PCM 0 bits", wav(Fmt(1, 2, 44100, 0)), "ampiezza dei campioni non supportata: 0 bit"},
        {"12 bits, 3 bytes a stereo frame", wav(Fmt(1, 2, 44100, 12)), "non supportata: 12 bit"},
        {"float of 16 bits", wav(Fmt(3, 2, 44100, 16)), "non supportata: 16 bit"},
        {"short extensible", wav(badExt), "WAVE_FORMAT_EXTENSIBLE"},
        {"ambisonic ADPCM", wav(ambisonicAdpcm), "WAVE_FORMAT_EXTENSIBLE"},
        {"Yamaha ADPCM", wav(Fmt(0x20, 1, 8000, 4)), "formato non supportato: ADPCM Yamaha (0x0020)"},
        {"stereo GSM 6.10", wav(gsmStereo), "formato non supportato: GSM 6.10 (0x0031)"},
        {"unknown tag", wav(Fmt(0x1234, 2, 44100, 16)), "formato sconosciuto (0x1234)"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Reader r(k.file);
        std::string looked;
        try {
            r.wave.Description();
        } catch (const VelmarException& e) {
            looked = e.what();
        }
        try {
            r.wave.BeginRead();
            FAIL() << "accepted";
        } catch (const VelmarException& e) {
            EXPECT_EQ(std::string(e.what()), "\"" + r.dir.File("in.wav") + "\": " + e.Causa());
            EXPECT_NE(std::string(e.what()).find(k.reason), std::string::npos) << e.what();
            EXPECT_EQ(looked, e.what());
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

namespace {

// The bytes of a literal, NULs inside it included.
template <size_t N> std::vector<uint8_t> Bytes(const char (&s)[N]) { return std::vector<uint8_t>(s, s + N - 1); }
std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> Utf16(std::u16string_view s, bool be)
{
    std::vector<uint8_t> b;
    for (char16_t c : s)
        Put(b, c, 2, be);
    return b;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<uint8_t> Syncsafe(uint32_t v)
{
    return {uint8_t(v >> 21 & 0x7F), uint8_t(v >> 14 & 0x7F), uint8_t(v >> 7 & 0x7F), uint8_t(v & 0x7F)};
}

// An ID3v2 frame; Size -1: the body's.
std::vector<uint8_t> Frame(int version, const char* id, const std::vector<uint8_t>& body, uint16_t flags = 0,
                           int64_t size = -1)
{
    const uint32_t n = static_cast<uint32_t>(size < 0 ? int64_t(body.size()) : size);
    std::vector<uint8_t> f = Bytes(std::string(id, 4));
    if (version == 4) {
        auto s = Syncsafe(n);
        f.insert(f.end(), s.begin(), s.end());
    } else {
        Put(f, n, 4, true);
    }
    Put(f, flags, 2, true);
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

std::vector<uint8_t> Id3(int version, uint8_t flags, const std::vector<uint8_t>& frames)
{
    return Join({Bytes("ID3"), {uint8_t(version), 0, flags}, Syncsafe(uint32_t(frames.size())), frames});
}

// The tags a file with these chunks around its data describes; its audio must be untouched.
TStringList TagsOf(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after = {})
{
    const auto data = Ramp(2000);
    Reader r(Tagged(data, before, after));
    EXPECT_EQ(ReadAll(r.wave), data);
    return r.wave.Description().Tags;
}

std::vector<uint8_t> Chunks(std::initializer_list<std::pair<const char*, std::vector<uint8_t>>> list)
{
    std::vector<uint8_t> c;
    for (const auto& [id, body] : list)
        PutChunk(c, id, body);
    return c;
}

std::vector<uint8_t> Info(std::initializer_list<std::pair<const char*, std::vector<uint8_t>>> items)
{
    return Join({Bytes("INFO"), Chunks(items)});
}

} // namespace

TEST(VelmarWaveTags, ListInfo)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> list; // the LIST chunk's body
        TStringList want;
    };
    std::vector<uint8_t> unpadded = Bytes("INFO");
    PutChunk(unpadded, "INAM", Bytes("abc"), false);
    PutChunk(unpadded, "IART", Bytes("x"));
    std::vector<uint8_t> past = Info({{"INAM", Bytes("Titolo")}});
    PutTag(past, "IART");
    PutU32(past, 1000);
    const std::vector<Case> cases = {
        {"UTF-8, every key", Info({{"IGNR", Bytes("Jazz")}, {"INAM", Bytes("Città")}, {"IART", Bytes("Ænima")},
                                   {"IPRD", Bytes("Album")}, {"ICRD", Bytes("2024-05-01")}, {"IPRT", Bytes("3")}}),
         {"TITLE=Città", "ARTIST=Ænima", "ALBUM=Album", "TRACKNUMBER=3", "DATE=2024-05-01", "GENRE=Jazz"}},
        {"Windows-1252", Info({{"INAM", Bytes("Citt\xE0")}, {"IART", Bytes("\x93" "Caf\xE9\x94 \x80")}}),
         {"TITLE=Città", "ARTIST=“Café” €"}},
        {"NULs and blanks trimmed, empty skipped", Info({{"ITRK", Bytes("  7 \0\0")}, {"IGNR", Bytes(" \0")}}),
         {"TRACKNUMBER=7"}},
        {"odd size without its pad byte", unpadded, {"TITLE=abc", "ARTIST=x"}},
        {"a size past the chunk's end", past, {"TITLE=Titolo"}},
        {"not INFO", Join({Bytes("adtl"), Chunks({{"INAM", Bytes("no")}})}), {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(TagsOf(Chunks({{"LIST", k.list}})), k.want);
    }
}

TEST(VelmarWaveTags, Id3v2)
{
    struct Case {
        const char* name;
        const char* chunk;
        std::vector<uint8_t> tag;
        TStringList want;
    };
    const std::vector<uint8_t> bomLe = {0xFF, 0xFE}, bomBe = {0xFE, 0xFF};
    const std::string longTitle(200, 'T'); // a size whose syncsafe form differs from the plain one
    const std::vector<uint8_t> latin = Join({{0}, Bytes("Citt\xE0")});
    const std::vector<Case> cases = {
        {"v2.3, UTF-16 with BOM", "id3 ",
         Id3(3, 0, Join({Frame(3, "TIT2", Join({{1}, bomLe, Utf16(u"Città", false), {0, 0}})),
                         Frame(3, "TPE1", Join({{1}, bomBe, Utf16(u"Ænima", true)})),
                         Frame(3, "TYER", Bytes("\0" "1999")), Frame(3, "TCON", latin)})),
         {"TITLE=Città", "ARTIST=Ænima", "DATE=1999", "GENRE=Città"}},
        {"v2.4, UTF-8 and UTF-16BE, syncsafe sizes", "ID3 ",
         Id3(4, 0, Join({Frame(4, "TYER", Bytes("\0" "1999")), Frame(4, "TIT2", Join({{3}, Bytes(longTitle)})),
                         Frame(4, "TALB", Join({{2}, Utf16(u"Über", true)})), Frame(4, "TRCK", Bytes("\0" "4/12")),
                         Frame(4, "TDRC", Bytes("\3" "2024-01-02"))})),
         {"TITLE=" + longTitle, "ALBUM=Über", "TRACKNUMBER=4/12", "DATE=2024-01-02"}},
        {"compressed frame skipped, frame past the end dropped", "id3 ",
         Id3(3, 0, Join({Frame(3, "TIT2", Bytes("\0zipped"), 0x0080), Frame(3, "TPE1", Bytes("\0Artista")),
                         Frame(3, "TALB", Bytes("\0Album"), 0, 5000)})),
         {"ARTIST=Artista"}},
        {"unsynchronised v2.3 tag", "id3 ",
         Id3(3, 0x80, Frame(3, "TIT2", Join({{1}, {0xFF, 0x00, 0xFE}, Utf16(u"Sì", false)}), 0, 7)),
         {"TITLE=Sì"}},
        {"ID3v2.2 is not read", "id3 ", Join({Bytes("ID3"), {2, 0, 0, 0, 0, 0, 11}, Bytes("TT2\0\0\5\0Nome")}), {}},
        // Plain sizes where v2.4 wants syncsafe ones: 256 reads as 128, 300
        // as 172, 201 is no syncsafe number at all.
        {"v2.4 written with plain sizes", "id3 ",
         Id3(4, 0, Join({Frame(3, "TIT2", Join({{3}, Bytes(std::string(255, 'T'))})),
                         Frame(3, "TPE1", Join({{3}, Bytes(std::string(200, 'a'))})),
                         Frame(3, "TALB", Join({{3}, Bytes(std::string(299, 'x'))})), std::vector<uint8_t>(16, 0)})),
         {"TITLE=" + std::string(255, 'T'), "ARTIST=" + std::string(200, 'a'), "ALBUM=" + std::string(299, 'x')}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<uint8_t> c;
        PutChunk(c, k.chunk, k.tag);
        EXPECT_EQ(TagsOf({}, c), k.want);
    }
}

TEST(VelmarWaveTags, BextAndPrecedence)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> chunks;
        TStringList want;
    };
    std::vector<uint8_t> bext(602, 0);
    std::memcpy(bext.data(), "Registrazione in sala", 21);
    std::memcpy(bext.data() + 320, "2023-10-11", 10);
    const std::vector<Case> cases = {
        {"bext alone", Chunks({{"bext", bext}}), {"TITLE=Registrazione in sala", "DATE=2023-10-11"}},
        {"bext cut short", Chunks({{"bext", std::vector<uint8_t>(bext.begin(), bext.begin() + 100)}}),
         {"TITLE=Registrazione in sala"}},
        {"ID3, then INFO, then bext",
         Chunks({{"bext", bext},
                 {"LIST", Info({{"INAM", Bytes("Info")}, {"IART", Bytes("Artista")}, {"IGNR", Bytes("Rock")}})},
                 {"id3 ", Id3(4, 0, Frame(4, "TIT2", Bytes("\3Id3")))}}),
         {"TITLE=Id3", "ARTIST=Artista", "DATE=2023-10-11", "GENRE=Rock"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(TagsOf(k.chunks), k.want);
    }
}

// The header is read once: the getters keep what they saw until BeginRead
// opens the file again, from any thread.
TEST(VelmarWave, DescriptionIsReadOnceAndSharedAcrossThreads)
{
    std::vector<uint8_t> c;
    PutChunk(c, "fmt ", Fmt(1, 1, 8000, 16));
    PutChunk(c, "data", Ramp(100));
    Reader r(Riff(c));
    EXPECT_EQ(r.wave.GetChannels(), 1);
    std::vector<uint8_t> stereo;
    PutChunk(stereo, "fmt ", Fmt(1, 2, 44100, 16));
    PutChunk(stereo, "data", Ramp(200000));
    WriteBytes(r.dir.File("in.wav"), Riff(stereo));
    EXPECT_EQ(r.wave.GetSampleRate(), 8000); // not looked at again
    std::atomic<bool> reading{true};
    std::thread asker([&] {
        while (reading) {
            const TWaveDescription d = r.wave.Description();
            const int64_t bytes = d.Frames * d.Channels * 2;
            EXPECT_TRUE(bytes == 100 || bytes == 200000) << bytes; // the old look, or what BeginRead found
        }
    });
    r.wave.BeginRead();
    EXPECT_EQ(r.wave.GetChannels() * r.wave.GetSampleRate(), 2 * 44100);
    std::vector<uint8_t> buf(4096);
    int64_t total = 0;
    for (int n; (n = r.wave.ReadData(buf.data(), 4096)) > 0;)
        total += n;
    reading = false;
    asker.join();
    r.wave.EndRead();
    EXPECT_EQ(total, 200000);
    r.wave.SetFileName(r.dir.File("gone.wav"));
    EXPECT_THROW(r.wave.GetChannels(), EStreamError);
}
