// Writes a coded WAVE file from a PCM one, through libsndfile.
// Usage: coded_wav IN.wav OUT.wav ima|ms|gsm|ulaw|alaw|mp3
// mp3: libsndfile writes MPEG layer 3 only as a bare stream, so it is
// wrapped here as WAVE format 0x55 (MPEGLAYER3WAVEFORMAT, no fact chunk).
#include <sndfile.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static void put(std::FILE* f, uint32_t v, int n)
{
    for (int i = 0; i < n; ++i)
        std::fputc((v >> (8 * i)) & 0xFF, f);
}

static bool copy(SNDFILE* in, SNDFILE* out, int channels)
{
    std::vector<float> buf(4096 * size_t(channels));
    for (sf_count_t n; (n = sf_readf_float(in, buf.data(), 4096)) > 0;)
        if (sf_writef_float(out, buf.data(), n) != n)
            return false;
    return true;
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: coded_wav IN.wav OUT.wav ima|ms|gsm|ulaw|alaw|mp3\n");
        return 2;
    }
    const std::string kind = argv[3];
    const int sub = kind == "ima" ? SF_FORMAT_IMA_ADPCM : kind == "ms" ? SF_FORMAT_MS_ADPCM
                    : kind == "gsm" ? SF_FORMAT_GSM610 : kind == "ulaw" ? SF_FORMAT_ULAW
                    : kind == "alaw" ? SF_FORMAT_ALAW : kind == "mp3" ? SF_FORMAT_MPEG_LAYER_III : 0;
    if (!sub)
        return 2;
    SF_INFO info{};
    SNDFILE* in = sf_open(argv[1], SFM_READ, &info);
    if (!in)
        return 1;
    const std::string bare = std::string(argv[2]) + ".mp3";
    SF_INFO oi{};
    oi.samplerate = info.samplerate;
    oi.channels = info.channels;
    oi.format = sub == SF_FORMAT_MPEG_LAYER_III ? (SF_FORMAT_MPEG | sub) : (SF_FORMAT_WAV | sub);
    SNDFILE* out = sf_open(sub == SF_FORMAT_MPEG_LAYER_III ? bare.c_str() : argv[2], SFM_WRITE, &oi);
    if (!out) {
        std::fprintf(stderr, "%s\n", sf_strerror(nullptr));
        return 1;
    }
    const bool ok = copy(in, out, info.channels);
    sf_close(in);
    sf_close(out);
    if (!ok || sub != SF_FORMAT_MPEG_LAYER_III)
        return ok ? 0 : 1;

    std::FILE* mp3 = std::fopen(bare.c_str(), "rb");
    std::FILE* wav = std::fopen(argv[2], "wb");
    if (!mp3 || !wav)
        return 1;
    std::fseek(mp3, 0, SEEK_END);
    const long size = std::ftell(mp3);
    std::fseek(mp3, 0, SEEK_SET);
    std::fwrite("RIFF", 1, 4, wav);
    put(wav, uint32_t(4 + 8 + 30 + 8 + size + (size & 1)), 4);
    std::fwrite("WAVEfmt ", 1, 8, wav);
    put(wav, 30, 4);
    put(wav, 0x55, 2);
    put(wav, uint32_t(info.channels), 2);
    put(wav, uint32_t(info.samplerate), 4);
    put(wav, 16000, 4);
    put(wav, 1, 2);
    put(wav, 0, 2);
    put(wav, 12, 2);
    put(wav, 1, 2);
    put(wav, 2, 4);
    put(wav, 418, 2);
    put(wav, 1, 2);
    put(wav, 1393, 2);
    std::fwrite("data", 1, 4, wav);
    put(wav, uint32_t(size), 4);
    std::vector<char> buf(1 << 16);
    for (size_t n; (n = std::fread(buf.data(), 1, buf.size(), mp3)) > 0;)
        std::fwrite(buf.data(), 1, n, wav);
    if (size & 1)
        std::fputc(0, wav);
    std::fclose(mp3);
    std::remove(bare.c_str());
    return std::fclose(wav) == 0 ? 0 : 1;
}
