// Writes small WAVE files of the shapes the reader takes besides plain PCM,
// as seeds for its fuzz target: tags (LIST/INFO in Latin-1 and UTF-8,
// ID3v2.3 in UTF-16, ID3v2.4 in UTF-8, bext), RF64 with ds64, RIFX, 20-bit
// samples in 3 bytes and an ambisonic extensible file.
// Usage: SeedWaves FOLDER
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& B, uint32_t V, int N, bool Be = false)
{
    for (int i = 0; i < N; ++i)
        B.push_back(static_cast<uint8_t>(V >> (8 * (Be ? N - 1 - i : i))));
}

void Text(Bytes& B, const std::string& S) { B.insert(B.end(), S.begin(), S.end()); }

void Chunk(Bytes& B, const char* Id, const Bytes& Body, bool Be = false)
{
    Text(B, std::string(Id, 4));
    Put(B, static_cast<uint32_t>(Body.size()), 4, Be);
    B.insert(B.end(), Body.begin(), Body.end());
    if (Body.size() % 2)
        B.push_back(0);
}

Bytes Fmt(uint16_t Tag, int Ch, int Bits, int Align, bool Be = false)
{
    Bytes f;
    Put(f, Tag, 2, Be);
    Put(f, Ch, 2, Be);
    Put(f, 8000, 4, Be);
    Put(f, 8000 * Align, 4, Be);
    Put(f, Align, 2, Be);
    Put(f, Bits, 2, Be);
    return f;
}

Bytes Audio(int Bytes_)
{
    Bytes a;
    for (int i = 0; i < Bytes_; ++i)
        a.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
    return a;
}

Bytes Form(const char* Riff, const Bytes& Chunks, bool Be = false)
{
    Bytes b;
    Text(b, Riff);
    Put(b, static_cast<uint32_t>(Chunks.size() + 4), 4, Be);
    Text(b, "WAVE");
    b.insert(b.end(), Chunks.begin(), Chunks.end());
    return b;
}

Bytes Frame(int Version, const char* Id, const Bytes& Body)
{
    Bytes f;
    Text(f, Id);
    const uint32_t n = static_cast<uint32_t>(Body.size());
    Put(f, Version == 4 ? ((n & 0x7F) | (n >> 7 & 0x7F) << 8 | (n >> 14 & 0x7F) << 16) : n, 4, true);
    Put(f, 0, 2);
    f.insert(f.end(), Body.begin(), Body.end());
    return f;
}

Bytes Id3(int Version, const Bytes& Frames)
{
    Bytes t;
    Text(t, "ID3");
    t.push_back(static_cast<uint8_t>(Version));
    t.push_back(0);
    t.push_back(0);
    const uint32_t n = static_cast<uint32_t>(Frames.size());
    Put(t, (n & 0x7F) | (n >> 7 & 0x7F) << 8 | (n >> 14 & 0x7F) << 16, 4, true);
    t.insert(t.end(), Frames.begin(), Frames.end());
    return t;
}

bool Write(const std::string& Path, const Bytes& B)
{
    std::FILE* f = std::fopen(Path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(B.data(), 1, B.size(), f) == B.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: SeedWaves FOLDER\n");
        return 2;
    }
    const std::string dir = argv[1];
    const Bytes pcm = Fmt(1, 2, 16, 4);
    bool ok = true;

    Bytes info, list, c;
    Text(info, "INFO");
    Chunk(info, "INAM", Bytes{'C', 'i', 't', 't', 0xE0, 0});
    Chunk(info, "IART", Bytes{'C', 'a', 'f', 0xC3, 0xA9});
    Chunk(info, "ITRK", Bytes{'7', 0});
    Chunk(c, "fmt ", pcm);
    Chunk(c, "LIST", info);
    Chunk(c, "data", Audio(400));
    ok &= Write(dir + "/tag-info.wav", Form("RIFF", c));

    Bytes utf16 = {1, 0xFF, 0xFE, 'S', 0, 0xEC, 0, 0, 0};
    c.clear();
    Chunk(c, "fmt ", pcm);
    Chunk(c, "data", Audio(400));
    Bytes frames = Frame(3, "TIT2", utf16);
    const Bytes year = Frame(3, "TYER", Bytes{0, '1', '9', '9', '9'});
    frames.insert(frames.end(), year.begin(), year.end());
    Chunk(c, "id3 ", Id3(3, frames));
    ok &= Write(dir + "/tag-id3v23.wav", Form("RIFF", c));

    c.clear();
    Chunk(c, "fmt ", pcm);
    Bytes title = {3};
    Text(title, std::string(150, 'T'));
    Bytes v4 = Frame(4, "TIT2", title);
    for (const Bytes& f : {Frame(4, "TDRC", Bytes{3, '2', '0', '2', '4'}), Frame(4, "TCON", Bytes{0, 'J', 'a', 'z', 'z'})})
        v4.insert(v4.end(), f.begin(), f.end());
    Chunk(c, "ID3 ", Id3(4, v4));
    Bytes bext(602, 0);
    for (size_t i = 0; i < 8; ++i)
        bext[i] = static_cast<uint8_t>("Presa 12"[i]);
    for (size_t i = 0; i < 10; ++i)
        bext[320 + i] = static_cast<uint8_t>("2023-10-11"[i]);
    Chunk(c, "bext", bext);
    Chunk(c, "data", Audio(400));
    ok &= Write(dir + "/tag-id3v24-bext.wav", Form("RIFF", c));

    Bytes ds64, rf;
    for (uint32_t v : {0u, 0u, 400u, 0u, 100u, 0u, 0u})
        Put(ds64, v, 4);
    Chunk(rf, "ds64", ds64);
    Chunk(rf, "fmt ", pcm);
    Text(rf, "data");
    Put(rf, 0xFFFFFFFF, 4);
    const Bytes a = Audio(400);
    rf.insert(rf.end(), a.begin(), a.end());
    ok &= Write(dir + "/rf64.wav", Form("RF64", rf));

    c.clear();
    Chunk(c, "fmt ", Fmt(1, 2, 24, 6, true), true);
    Chunk(c, "data", Audio(600), true);
    ok &= Write(dir + "/rifx24.wav", Form("RIFX", c, true));

    c.clear();
    Chunk(c, "fmt ", Fmt(1, 1, 20, 3));
    Chunk(c, "data", Audio(300));
    ok &= Write(dir + "/pcm20in24.wav", Form("RIFF", c));

    Bytes ext = Fmt(0xFFFE, 4, 32, 16);
    const Bytes tail = {22, 0, 32, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0x21, 0x07, 0xD3, 0x11, 0x86, 0x44, 0xC8, 0xC1, 0xCA, 0, 0, 0};
    ext.insert(ext.end(), tail.begin(), tail.end());
    c.clear();
    Chunk(c, "fmt ", ext);
    Chunk(c, "data", Audio(640));
    ok &= Write(dir + "/ambisonic-float.wav", Form("RIFF", c));
    return ok ? 0 : 1;
}
