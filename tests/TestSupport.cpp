#include "TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <ogg/ogg.h>
#include <sndfile.h>
#include <vorbis/vorbisfile.h>

namespace testing_support {

TempDir::TempDir()
{
    char tmpl[] = "/tmp/fennick-test-XXXXXX";
    if (!mkdtemp(tmpl))
        throw std::runtime_error("mkdtemp failed");
    FPath = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(FPath, ec);
}

void WriteBytes(const std::string& Path, const std::vector<uint8_t>& Bytes)
{
    std::ofstream f(Path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
    if (!f)
        throw std::runtime_error("cannot write " + Path);
}

std::vector<uint8_t> ReadBytes(const std::string& Path)
{
    std::ifstream f(Path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

bool FileExists(const std::string& Path)
{
    std::error_code ec;
    return std::filesystem::exists(Path, ec);
}

void PutU16(std::vector<uint8_t>& B, uint16_t V)
{
    B.push_back(V & 0xFF);
    B.push_back(V >> 8);
}

void PutU32(std::vector<uint8_t>& B, uint32_t V)
{
    for (int i = 0; i < 4; ++i)
        B.push_back((V >> (8 * i)) & 0xFF);
}

void PutTag(std::vector<uint8_t>& B, const char* Tag)
{
    for (int i = 0; i < 4; ++i)
        B.push_back(static_cast<uint8_t>(Tag[i]));
}

void PutChunk(std::vector<uint8_t>& B, const char* Tag, const std::vector<uint8_t>& Body, bool Pad)
{
    PutTag(B, Tag);
    PutU32(B, static_cast<uint32_t>(Body.size()));
    B.insert(B.end(), Body.begin(), Body.end());
    if (Pad && Body.size() % 2)
        B.push_back(0);
}

std::vector<uint8_t> FloatsToBytes(const std::vector<float>& S)
{
    std::vector<uint8_t> b(S.size() * sizeof(float));
    std::memcpy(b.data(), S.data(), b.size());
    return b;
}

std::vector<float> BytesToFloats(const std::vector<uint8_t>& B)
{
    std::vector<float> s(B.size() / sizeof(float));
    std::memcpy(s.data(), B.data(), s.size() * sizeof(float));
    return s;
}

MemoryInput::MemoryInput(velmar::TComponent* Owner, std::vector<uint8_t> Data_, int Channels_, int Rate_,
                         velmar::TSampleFormat Format_, int Piece_)
    : TVelmarInput(Owner), Data(std::move(Data_)), Channels(Channels_), Rate(Rate_), Format(Format_), Piece(Piece_)
{
}

int MemoryInput::ReadData(void* Buffer, int BufferSize)
{
    const auto n = static_cast<int>(std::min<int64_t>({BufferSize, Piece, int64_t(Data.size()) - Position()}));
    if (n > 0)
        std::memcpy(Buffer, Data.data() + Position(), static_cast<size_t>(n));
    FPosition += n;
    ++Calls;
    return n;
}

void MemoryInput::BeginRead()
{
    FSize = Declared >= -1 ? Declared : static_cast<int64_t>(Data.size());
    FSizeExact = Exact;
    FPosition = 0;
    FBusy = true;
}

std::vector<int16_t> Sine(int Frames, int Rate, const std::vector<double>& Freq, double Amp)
{
    size_t ch = Freq.size();
    std::vector<int16_t> s(static_cast<size_t>(Frames) * ch);
    for (int i = 0; i < Frames; ++i)
        for (size_t c = 0; c < ch; ++c)
            s[i * ch + c] = static_cast<int16_t>(
                std::lround(Amp * 32767.0 * std::sin(2 * M_PI * Freq[c] * i / Rate)));
    return s;
}

std::vector<uint8_t> Samples16ToBytes(const std::vector<int16_t>& S)
{
    std::vector<uint8_t> b;
    b.reserve(S.size() * 2);
    for (int16_t v : S)
        PutU16(b, static_cast<uint16_t>(v));
    return b;
}

namespace {

// A file of Format written by libsndfile through Write(handle, frames).
template <class W> std::vector<uint8_t> Written(int Format, int Channels, int Rate, W Write)
{
    TempDir dir;
    const std::string path = dir.File("sndfile.wav");
    SF_INFO info{};
    info.samplerate = Rate;
    info.channels = Channels;
    info.format = Format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return {};
    sf_command(f, SFC_SET_SCALE_INT_FLOAT_WRITE, nullptr, SF_TRUE);
    Write(f);
    sf_close(f);
    return ReadBytes(path);
}

} // namespace

std::vector<uint8_t> SndfileBytes(int Format, const std::vector<int16_t>& Samples, int Channels, int Rate)
{
    return Written(Format, Channels, Rate, [&](SNDFILE* f) {
        if ((Format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG) {
            // libsndfile 1.2's stereo short writer for MPEG copies half the
            // bytes (its PR #1106); the float path is sound.
            std::vector<float> fl(Samples.begin(), Samples.end());
            for (float& v : fl)
                v /= 32768.0f;
            sf_writef_float(f, fl.data(), static_cast<sf_count_t>(fl.size() / Channels));
        } else {
            sf_writef_short(f, Samples.data(), static_cast<sf_count_t>(Samples.size() / Channels));
        }
    });
}

std::vector<uint8_t> SndfileBytes(int Format, const std::vector<int32_t>& Samples, int Channels, int Rate)
{
    return Written(Format, Channels, Rate, [&](SNDFILE* f) {
        sf_writef_int(f, Samples.data(), static_cast<sf_count_t>(Samples.size() / Channels));
    });
}

namespace {

// Bytes of the MPEG audio frame starting at F (layer 3), 0 when F holds no header.
size_t Mp3FrameBytes(const uint8_t* F)
{
    static const int kbps1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kbps2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int rates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    const int version = (F[1] >> 3) & 3, bitrate = F[2] >> 4, rate = (F[2] >> 2) & 3;
    if (F[0] != 0xFF || (F[1] & 0xE0) != 0xE0 || version == 1 || rate == 3 || bitrate == 0 || bitrate == 15)
        return 0;
    const int kbps = version == 3 ? kbps1[bitrate] : kbps2[bitrate];
    return size_t((version == 3 ? 144000 : 72000) * kbps / rates[version][rate] + ((F[2] >> 1) & 1));
}

} // namespace

std::vector<uint8_t> Mp3WaveBytes(const std::vector<int16_t>& S, int Ch, int Rate, bool LengthTag, int64_t FactFrames)
{
    std::vector<uint8_t> mp3 = SndfileBytes(SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, S, Ch, Rate);
    if (mp3.size() < 4)
        return {};
    const size_t first = Mp3FrameBytes(mp3.data());
    const std::string head(mp3.begin(), mp3.begin() + std::min(first, mp3.size()));
    if (!LengthTag && (head.find("Xing") != std::string::npos || head.find("Info") != std::string::npos))
        mp3.erase(mp3.begin(), mp3.begin() + first);
    std::vector<uint8_t> fmt; // MPEGLAYER3WAVEFORMAT
    PutU16(fmt, 0x0055);
    PutU16(fmt, static_cast<uint16_t>(Ch));
    PutU32(fmt, static_cast<uint32_t>(Rate));
    PutU32(fmt, 16000);
    PutU16(fmt, 1);
    PutU16(fmt, 0);
    PutU16(fmt, 12);
    PutU16(fmt, 1);    // wID: MPEGLAYER3_ID_MPEG
    PutU32(fmt, 2);    // fdwFlags: padding off
    PutU16(fmt, 418);  // nBlockSize
    PutU16(fmt, 1);    // nFramesPerBlock
    PutU16(fmt, 1393); // nCodecDelay
    std::vector<uint8_t> w;
    PutTag(w, "RIFF");
    PutU32(w, 0);
    PutTag(w, "WAVE");
    PutChunk(w, "fmt ", fmt);
    if (FactFrames >= 0) {
        std::vector<uint8_t> fact;
        PutU32(fact, static_cast<uint32_t>(FactFrames));
        PutChunk(w, "fact", fact);
    }
    PutChunk(w, "data", mp3);
    const uint32_t riff = static_cast<uint32_t>(w.size() - 8);
    std::memcpy(w.data() + 4, &riff, 4);
    return w;
}

std::vector<uint8_t> MakeWav16(const std::vector<int16_t>& Samples, int Channels, int Rate)
{
    std::vector<uint8_t> data = Samples16ToBytes(Samples);
    std::vector<uint8_t> b;
    PutTag(b, "RIFF");
    PutU32(b, static_cast<uint32_t>(36 + data.size()));
    PutTag(b, "WAVE");
    std::vector<uint8_t> fmt;
    PutU16(fmt, 1);
    PutU16(fmt, static_cast<uint16_t>(Channels));
    PutU32(fmt, static_cast<uint32_t>(Rate));
    PutU32(fmt, static_cast<uint32_t>(Rate * Channels * 2));
    PutU16(fmt, static_cast<uint16_t>(Channels * 2));
    PutU16(fmt, 16);
    PutChunk(b, "fmt ", fmt);
    PutChunk(b, "data", data);
    return b;
}

DecodedOgg DecodeOgg(const std::string& Path)
{
    DecodedOgg d;
    OggVorbis_File vf;
    if (ov_fopen(Path.c_str(), &vf) != 0)
        return d;
    vorbis_info* vi = ov_info(&vf, -1);
    d.channels = vi->channels;
    d.rate = vi->rate;
    d.pcmTotal = ov_pcm_total(&vf, -1);
    vorbis_comment* vc = ov_comment(&vf, -1);
    if (vc) {
        d.vendor = vc->vendor ? vc->vendor : "";
        for (int i = 0; i < vc->comments; ++i)
            d.comments.emplace_back(vc->user_comments[i], static_cast<size_t>(vc->comment_lengths[i]));
    }
    d.pcm.resize(static_cast<size_t>(d.channels));
    int section = 0;
    bool failed = false;
    for (;;) {
        float** pcm = nullptr;
        long n = ov_read_float(&vf, &pcm, 4096, &section);
        if (n == 0)
            break;
        if (n < 0) {
            failed = true;
            break;
        }
        for (int c = 0; c < d.channels; ++c)
            d.pcm[c].insert(d.pcm[c].end(), pcm[c], pcm[c] + n);
    }
    ov_clear(&vf);
    d.ok = !failed;
    return d;
}

std::vector<std::string> WithoutReplayGain(std::vector<std::string> Comments)
{
    std::erase_if(Comments, [](const std::string& c) { return c.rfind("REPLAYGAIN_", 0) == 0; });
    return Comments;
}

OggPages ScanOggPages(const std::string& Path)
{
    OggPages r;
    std::vector<uint8_t> bytes = ReadBytes(Path);
    size_t pos = 0;
    bool allGood = true;
    while (pos + 27 <= bytes.size()) {
        const uint8_t* p = bytes.data() + pos;
        if (std::memcmp(p, "OggS", 4) != 0) {
            allGood = false;
            break;
        }
        int segs = p[26];
        if (pos + 27 + segs > bytes.size()) {
            allGood = false;
            break;
        }
        size_t body = 0;
        for (int i = 0; i < segs; ++i)
            body += p[27 + i];
        size_t headerLen = 27 + segs;
        if (pos + headerLen + body > bytes.size()) {
            allGood = false;
            break;
        }
        std::vector<uint8_t> copy(p, p + headerLen + body);
        uint32_t stored = copy[22] | (copy[23] << 8) | (copy[24] << 16) | (uint32_t(copy[25]) << 24);
        ogg_page og;
        og.header = copy.data();
        og.header_len = static_cast<long>(headerLen);
        og.body = copy.data() + headerLen;
        og.body_len = static_cast<long>(body);
        ogg_page_checksum_set(&og);
        uint32_t computed = copy[22] | (copy[23] << 8) | (copy[24] << 16) | (uint32_t(copy[25]) << 24);
        if (computed != stored)
            allGood = false;
        // Each stream's pages are numbered 0, 1, 2, ...
        const auto serial = static_cast<uint32_t>(ogg_page_serialno(&og));
        if (ogg_page_pageno(&og) != std::count(r.serials.begin(), r.serials.end(), serial))
            allGood = false;
        r.pages++;
        r.lastIsEos = ogg_page_eos(&og) != 0;
        r.lastGranule = ogg_page_granulepos(&og);
        r.serials.push_back(static_cast<uint32_t>(ogg_page_serialno(&og)));
        pos += headerLen + body;
    }
    r.ok = allGood && pos == bytes.size() && r.pages > 0;
    return r;
}

double ToneLevelDb(const std::vector<float>& Signal, double Rate, double Freq)
{
    // Goertzel-like projection with a Hann window over the whole signal.
    double re = 0, im = 0, wsum = 0;
    size_t n = Signal.size();
    for (size_t i = 0; i < n; ++i) {
        double w = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(n > 1 ? n - 1 : 1));
        double ph = 2 * M_PI * Freq * double(i) / Rate;
        re += w * Signal[i] * std::cos(ph);
        im += w * Signal[i] * std::sin(ph);
        wsum += w;
    }
    double amp = 2.0 * std::sqrt(re * re + im * im) / (wsum > 0 ? wsum : 1);
    return 20.0 * std::log10(amp + 1e-20);
}

} // namespace testing_support
