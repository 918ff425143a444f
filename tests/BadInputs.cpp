#include "BadInputs.h"

#include "TestSupport.h"

#include <sndfile.h>

#include <cstring>
#include <random>

namespace testing_support {

namespace {

std::vector<uint8_t> Fmt(uint16_t tag, uint16_t ch, uint32_t rate, uint16_t bits, uint16_t align = 0)
{
    std::vector<uint8_t> f;
    PutU16(f, tag);
    PutU16(f, ch);
    PutU32(f, rate);
    PutU32(f, rate * 4);
    PutU16(f, align ? align : static_cast<uint16_t>(ch * bits / 8));
    PutU16(f, bits);
    return f;
}

std::vector<uint8_t> Form(const char* riff, const char* form, const std::vector<uint8_t>& chunks)
{
    std::vector<uint8_t> b;
    PutTag(b, riff);
    PutU32(b, static_cast<uint32_t>(chunks.size() + 4));
    PutTag(b, form);
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
}

std::vector<uint8_t> Audio(size_t bytes)
{
    return Samples16ToBytes(Sine(static_cast<int>(bytes / 4), 44100, {440, 660}));
}

// A WAVE file from a fmt body and a data body, with optional raw chunks between.
std::vector<uint8_t> Wav(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& data,
                         const std::vector<uint8_t>& between = {})
{
    std::vector<uint8_t> c;
    PutChunk(c, "fmt ", fmt);
    c.insert(c.end(), between.begin(), between.end());
    PutChunk(c, "data", data);
    return Form("RIFF", "WAVE", c);
}

std::vector<uint8_t> RawChunk(const char* tag, uint32_t declared, const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> c;
    PutTag(c, tag);
    PutU32(c, declared);
    c.insert(c.end(), body.begin(), body.end());
    return c;
}

std::vector<uint8_t> WithDataSize(std::vector<uint8_t> file, uint32_t size)
{
    for (size_t i = 12; i + 8 <= file.size(); ++i)
        if (std::memcmp(file.data() + i, "data", 4) == 0) {
            for (int b = 0; b < 4; ++b)
                file[i + 4 + b] = (size >> (8 * b)) & 0xFF;
            break;
        }
    return file;
}

std::vector<uint8_t> Extensible(size_t fmtSize, bool knownGuid)
{
    std::vector<uint8_t> f = Fmt(0xFFFE, 2, 44100, 16);
    PutU16(f, 22);
    PutU16(f, 16);
    PutU32(f, 3);
    const uint8_t guid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    f.insert(f.end(), guid, guid + 16);
    if (!knownGuid)
        f[30] ^= 0xFF;
    f.resize(fmtSize);
    return f;
}

std::vector<uint8_t> Ima(uint16_t align, size_t blocks, size_t cut)
{
    std::vector<uint8_t> f = Fmt(0x11, 1, 44100, 4, align);
    PutU16(f, 2);
    PutU16(f, 505);
    std::vector<uint8_t> data(blocks * 256, 0x11);
    for (size_t b = 0; b < data.size(); b += 256) {
        data[b] = data[b + 1] = 0;
        data[b + 2] = 10; // step index
        data[b + 3] = 0;
    }
    data.resize(data.size() - cut);
    return Wav(f, data);
}

// MPEG data in RF64 whose ds64 counts 2^62 frames, more than any data holds.
std::vector<uint8_t> Mp3CountingTooMany()
{
    std::vector<uint8_t> w = Mp3WaveBytes(Sine(8820, 44100, {440}), 1, 44100);
    if (w.empty())
        return w;
    uint32_t dataSize = 0;
    for (size_t i = 12; i + 8 <= w.size(); ++i)
        if (std::memcmp(w.data() + i, "data", 4) == 0) {
            std::memcpy(&dataSize, w.data() + i + 4, 4);
            std::memset(w.data() + i + 4, 0xFF, 4);
            break;
        }
    std::vector<uint8_t> ds64, chunk;
    for (uint64_t v : {uint64_t(0), uint64_t(dataSize), uint64_t(1) << 62}) {
        PutU32(ds64, static_cast<uint32_t>(v));
        PutU32(ds64, static_cast<uint32_t>(v >> 32));
    }
    PutU32(ds64, 0); // no table
    PutChunk(chunk, "ds64", ds64);
    w.insert(w.begin() + 12, chunk.begin(), chunk.end());
    std::memcpy(w.data(), "RF64", 4);
    std::memset(w.data() + 4, 0xFF, 4);
    return w;
}

// An AIFF-C file whose compression type is Coding.
std::vector<uint8_t> AiffC(const char* Coding)
{
    std::vector<uint8_t> a = SndfileBytes(SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE,
                                          Sine(4410, 44100, {440}), 1, 44100);
    const std::string bytes(a.begin(), a.end());
    const size_t at = bytes.find("sowt");
    if (at != std::string::npos)
        std::memcpy(a.data() + at, Coding, 4);
    return a;
}

// The first half of a file of Format holding 0,2 s.
std::vector<uint8_t> CutShort(int Format)
{
    std::vector<uint8_t> f = SndfileBytes(Format, Sine(10000, 44100, {440, 660}), 2, 44100);
    f.resize(f.size() / 2);
    return f;
}

} // namespace

std::vector<BadInput> BadInputBattery()
{
    std::mt19937 rng(7);
    std::vector<uint8_t> noise(5000);
    for (auto& b : noise)
        b = static_cast<uint8_t>(rng());
    std::string text = "Questo non è un file audio.\n";
    std::vector<uint8_t> mp3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0, 0xFF, 0xFB, 0x90, 0x64};
    mp3.resize(4000, 0x55);
    std::vector<uint8_t> fmt0, fmt14 = Fmt(1, 2, 44100, 16);
    fmt14.resize(14);
    const auto good = Fmt(1, 2, 44100, 16);
    const auto audio = Audio(40000);
    std::vector<uint8_t> hugeFmt = RawChunk("fmt ", 0x7FFFFFFF, good);
    std::vector<uint8_t> hugeFmtFile = Form("RIFF", "WAVE", hugeFmt);
    // An ID3 tag whose title frame claims more than the tag holds.
    const std::vector<uint8_t> id3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20, 'T', 'I', 'T', '2', 0, 0, 0x10, 0,
                                      0, 0, 0, 'T', 'i', 't', 'o', 'l', 'o', 0, 0, 0};
    std::vector<uint8_t> rf64 = WithDataSize(Wav(good, audio), 0xFFFFFFFF);
    std::memcpy(rf64.data(), "RF64", 4);
    std::vector<uint8_t> oddPadded, oddUnpadded;
    PutChunk(oddPadded, "junk", {1, 2, 3}, true);
    PutChunk(oddUnpadded, "junk", {1, 2, 3}, false);

    return {
        {"empty", {}, "non è un file WAVE"},
        {"20 bytes", std::vector<uint8_t>(20, 0), "non è un file WAVE"},
        {"RIFX without chunks", Form("RIFX", "WAVE", {}), "manca la descrizione del formato"},
        {"AVI", Form("RIFF", "AVI ", {}), "non è un file WAVE"},
        {"0 channels", Wav(Fmt(1, 0, 44100, 16), audio), "canali non valido: 0"},
        {"256 channels", Wav(Fmt(1, 256, 44100, 16), audio), "canali non valido: 256"},
        {"65535 channels", Wav(Fmt(1, 65535, 44100, 16), audio), "canali non valido: 65535"},
        {"rate 0", Wav(Fmt(1, 2, 0, 16), audio), "frequenza di campionamento non valida: 0 Hz"},
        {"rate 4e9", Wav(Fmt(1, 2, 4000000000u, 16), audio), "non valida: 4000000000 Hz"},
        {"PCM 0 bits", Wav(Fmt(1, 2, 44100, 0), audio), "non supportata: 0 bit"},
        {"fmt of 0 bytes", Wav(fmt0, audio), "canali non valido: 0"},
        {"fmt of 14 bytes", Wav(fmt14, audio), "non supportata: 0 bit"},
        {"fmt of 0x7FFFFFFF bytes", hugeFmtFile, "mancano i dati audio"},
        {"extensible of 30 bytes", Wav(Extensible(30, true), audio), "WAVE_FORMAT_EXTENSIBLE"},
        {"extensible, unknown subformat", Wav(Extensible(40, false), audio), "WAVE_FORMAT_EXTENSIBLE"},
        {"data size 0", Wav(good, {}), nullptr},
        {"data larger than the file", WithDataSize(Wav(good, audio), 1000000), nullptr, "è troncato: 0,2 s dei 5,7 s"},
        {"data size 0xFFFFFFFF", WithDataSize(Wav(good, audio), 0xFFFFFFFF), nullptr},
        {"LIST of 0xFFFFFFFF before the data", Wav(good, audio, RawChunk("LIST", 0xFFFFFFFF, {'I', 'N', 'F', 'O'})),
         "mancano i dati audio"},
        {"ID3 chunk, a frame past its end", Wav(good, audio, RawChunk("id3 ", uint32_t(id3.size()), id3)), nullptr},
        {"RF64 without ds64", rf64, nullptr},
        {"MPEG in RF64 counting 2^62 frames", Mp3CountingTooMany(), nullptr},
        {"odd chunk padded", Wav(good, audio, oddPadded), nullptr},
        {"odd chunk unpadded", Wav(good, audio, oddUnpadded), nullptr},
        {"IMA ADPCM, block align 0", Ima(0, 10, 0), "formato non supportato: ADPCM IMA (0x0011)"},
        {"IMA ADPCM, last block cut short", Ima(256, 10, 100), nullptr},
        {"random bytes", noise, "non è un file WAVE"},
        {"text", std::vector<uint8_t>(text.begin(), text.end()), "non è un file WAVE"},
        {"MP3 named .wav", mp3, "non è un file WAVE"},
        {"AIFF-C of an unknown coding", AiffC("XXXX"), "formato non supportato: AIFF-C \"XXXX\""},
        {"FLAC of an empty block", {'f', 'L', 'a', 'C', 0x80, 0, 0, 0, 0, 0, 0, 0}, "intestazione FLAC non leggibile"},
        {"FLAC cut short", CutShort(SF_FORMAT_FLAC | SF_FORMAT_PCM_16), nullptr, "è troncato: 0,1 s dei 0,2 s"},
        {"AIFF cut short", CutShort(SF_FORMAT_AIFF | SF_FORMAT_PCM_16), nullptr, "è troncato: 0,1 s dei 0,2 s"},
    };
}


} // namespace testing_support
