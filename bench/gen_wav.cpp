// Writes a test WAVE file: a mix of drifting tones and noise, so the encoder
// works as hard as on music. Usage: gen_wav OUT SECONDS [RATE] [CHANNELS] [FORMAT]
// FORMAT: pcm16 (default), pcm24, pcm32, float, floathot (float at four
// times the level: peaks near +7 dBFS, as a mastering tool may leave them),
// or pcm32float (the floats of pcm32's samples / 2^31, for a reader that
// takes no 32-bit integers)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static void put(std::FILE* f, uint32_t v, int n)
{
    for (int i = 0; i < n; ++i)
        std::fputc((v >> (8 * i)) & 0xFF, f);
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: gen_wav OUT SECONDS [RATE] [CHANNELS] [pcm16|pcm24|pcm32|float|floathot|pcm32float]\n");
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    const int rate = argc > 3 ? std::atoi(argv[3]) : 44100;
    const int ch = argc > 4 ? std::atoi(argv[4]) : 2;
    const std::string fmt = argc > 5 ? argv[5] : "pcm16";
    const bool isFloat = fmt == "float" || fmt == "floathot" || fmt == "pcm32float";
    const double gain = fmt == "floathot" ? 4.0 : 1.0;
    const int bytes = fmt == "pcm24" ? 3 : fmt == "pcm32" || isFloat ? 4 : 2;
    const uint64_t frames = uint64_t(seconds * rate);
    const uint64_t dataBytes = frames * ch * bytes;
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f)
        return 1;
    std::fwrite("RIFF", 1, 4, f);
    put(f, uint32_t(36 + dataBytes), 4);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put(f, 16, 4);
    put(f, isFloat ? 3 : 1, 2);
    put(f, ch, 2);
    put(f, rate, 4);
    put(f, rate * ch * bytes, 4);
    put(f, ch * bytes, 2);
    put(f, bytes * 8, 2);
    std::fwrite("data", 1, 4, f);
    put(f, uint32_t(dataBytes), 4);
    uint32_t seed = 12345;
    std::vector<uint8_t> buf;
    for (uint64_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        for (int c = 0; c < ch; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const double noise = (double(seed >> 8) / double(1 << 24) - 0.5) * 0.2;
            const double tone = 0.3 * std::sin(2 * M_PI * (220 + 30 * c) * t * (1 + 0.1 * std::sin(t))) +
                                0.15 * std::sin(2 * M_PI * (1760 + 100 * std::sin(0.3 * t)) * t);
            const double x = gain * (tone + noise) * (0.6 + 0.4 * std::sin(0.5 * t + c));
            if (bytes == 2) {
                put(f, uint32_t(int32_t(std::lrint(x * 32767))) & 0xFFFF, 2);
            } else if (bytes == 3) {
                put(f, uint32_t(int32_t(std::lrint(x * 8388607))) & 0xFFFFFF, 3);
            } else if (!isFloat) {
                put(f, uint32_t(int32_t(std::lrint(x * 2147483647.0))), 4);
            } else {
                float v = fmt == "pcm32float" ? float(double(int32_t(std::lrint(x * 2147483647.0))) / 2147483648.0)
                                              : float(x);
                uint32_t u;
                std::memcpy(&u, &v, 4);
                put(f, u, 4);
            }
        }
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
