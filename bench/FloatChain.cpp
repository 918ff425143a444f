// The rate converter and the encoder on float samples against 16-bit ones:
// the same 5-minute stereo signal at 44.1 kHz, held in memory (so the
// reader is not measured), through TVelmarRateConverter to OUT_RATE and
// TVelmarVorbisOut at quality 4, with the high-quality and the whole-frame
// resampler. Prints the median wall time of RUNS runs of each, taken in
// turns, and the median ratio. GAIN scales the signal as gen_wav's floathot
// does (4: peaks near +7 dBFS; the 16-bit copy is then clipped). The last
// outputs stay in OUTDIR as float_chain16.ogg and float_chainf.ogg, to
// compare with oggenc's on gen_wav's files.
// Usage: float_chain OUTDIR [SECONDS] [OUT_RATE] [RUNS] [GAIN]
#include "sources/VelmarConverters.h"
#include "vorbis/VelmarVorbis.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

using namespace velmar;

namespace {

// Hands out a block of memory in the form it was made in.
class MemoryIn : public TVelmarInput {
public:
    MemoryIn(const std::vector<uint8_t>& Data, TSampleFormat Format) : FData(Data), FFormat(Format) {}
    ~MemoryIn() override { CheckNotRead(); }
    int GetBitsPerSample() override { return FFormat == TSampleFormat::Float32 ? 32 : 16; }
    int GetChannels() override { return 2; }
    int GetSampleRate() override { return 44100; }
    TSampleFormat GetSampleFormat() override { return FFormat; }
    int ReadData(void* Buffer, int BufferSize) override
    {
        const int64_t left = int64_t(FData.size()) - FPosition;
        const int n = int(std::min<int64_t>({BufferSize, 32768, left}));
        std::memcpy(Buffer, FData.data() + FPosition, size_t(n));
        FPosition += n;
        return n;
    }
    void BeginRead() override
    {
        FSize = int64_t(FData.size());
        FPosition = 0;
        FBusy = true;
    }
    void EndRead() override { FBusy = false; }

private:
    const std::vector<uint8_t>& FData;
    TSampleFormat FFormat;
};

// The signal of gen_wav, as floats and as 16-bit samples.
void MakeSignal(double Seconds, double Gain, std::vector<uint8_t>& Floats, std::vector<uint8_t>& Ints)
{
    const size_t frames = size_t(Seconds * 44100);
    Floats.resize(frames * 2 * 4);
    Ints.resize(frames * 2 * 2);
    uint32_t seed = 12345;
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / 44100;
        for (int c = 0; c < 2; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const double noise = (double(seed >> 8) / double(1 << 24) - 0.5) * 0.2;
            const double tone = 0.3 * std::sin(2 * M_PI * (220 + 30 * c) * t * (1 + 0.1 * std::sin(t))) +
                                0.15 * std::sin(2 * M_PI * (1760 + 100 * std::sin(0.3 * t)) * t);
            const double x = Gain * (tone + noise) * (0.6 + 0.4 * std::sin(0.5 * t + c));
            const float f = float(x);
            const int16_t s = int16_t(std::lrint(std::clamp(x, -1.0, 1.0) * 32767));
            std::memcpy(Floats.data() + (i * 2 + size_t(c)) * 4, &f, 4);
            std::memcpy(Ints.data() + (i * 2 + size_t(c)) * 2, &s, 2);
        }
    }
}

double Seconds(std::chrono::steady_clock::time_point Since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Since).count();
}

// The converter alone: every block pulled and dropped.
double ConvertOnly(MemoryIn& In, int OutRate, bool HighQuality)
{
    TVelmarRateConverter rc;
    rc.SetInput(&In);
    rc.SetOutSampleRate(OutRate);
    rc.SetAltaQualita(HighQuality);
    std::vector<uint8_t> buf(65536);
    const auto t0 = std::chrono::steady_clock::now();
    rc.BeginRead();
    while (rc.ReadData(buf.data(), int(buf.size())) > 0) {
    }
    rc.EndRead();
    return Seconds(t0);
}

// The converter and the encoder, to a file.
double Encode(MemoryIn& In, int OutRate, bool HighQuality, const std::string& Out)
{
    TVelmarRateConverter rc;
    rc.SetInput(&In);
    rc.SetOutSampleRate(OutRate);
    rc.SetAltaQualita(HighQuality);
    TVelmarVorbisOut vo;
    vo.SetInput(&rc);
    vo.SetFileName(Out);
    vo.SetCompression(0.4f);
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::string error;
    auto finish = [&](const std::string& e) {
        std::lock_guard<std::mutex> g(m);
        error = e;
        done = true;
        cv.notify_all();
    };
    vo.OnDone = [&](TComponent*) { finish({}); };
    vo.OnThreadException = [&](TComponent*, const std::exception& e) { finish(e.what()); };
    const auto t0 = std::chrono::steady_clock::now();
    vo.Run();
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return done; });
    const double t = Seconds(t0);
    if (!error.empty()) {
        std::fprintf(stderr, "float_chain: %s\n", error.c_str());
        std::exit(1);
    }
    return t;
}

double Median(std::vector<double> T)
{
    std::sort(T.begin(), T.end());
    return T[T.size() / 2];
}

// Runs the 16-bit and the float measure in turns, so that a busy machine's
// drift falls on both; prints their medians and the median of the ratios.
template <class F> void Compare(int Runs, const char* Name, const char* Stage, F Measure)
{
    std::vector<double> ints, floats, ratios;
    for (int i = 0; i < Runs; ++i) {
        ints.push_back(Measure(false));
        floats.push_back(Measure(true));
        ratios.push_back(floats.back() / ints.back());
    }
    std::printf("| %s | %s | %.3f s | %.3f s | %.3f |\n", Name, Stage, Median(ints), Median(floats), Median(ratios));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: float_chain OUTDIR [SECONDS] [OUT_RATE] [RUNS] [GAIN]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const double seconds = argc > 2 ? std::atof(argv[2]) : 300;
    const int outRate = argc > 3 ? std::atoi(argv[3]) : 22050;
    const int runs = argc > 4 ? std::atoi(argv[4]) : 5;
    const double gain = argc > 5 ? std::atof(argv[5]) : 1.0;
    LoadCodecLibraries();
    std::vector<uint8_t> floats, ints;
    MakeSignal(seconds, gain, floats, ints);
    MemoryIn f(floats, TSampleFormat::Float32), s(ints, TSampleFormat::Int16);
    std::printf("%.0f s stereo 44100 Hz to %d Hz, median of %d\n", seconds, outRate, runs);
    std::printf("| resampler | stage | 16-bit | float | float / 16-bit |\n|---|---|---|---|---|\n");
    for (bool hq : {true, false}) {
        const char* name = hq ? "high quality" : "whole frames";
        Compare(runs, name, "converter alone", [&](bool fl) { return ConvertOnly(fl ? f : s, outRate, hq); });
        Compare(runs, name, "converter and encoder", [&](bool fl) {
            return Encode(fl ? f : s, outRate, hq, dir + (fl ? "/float_chainf.ogg" : "/float_chain16.ogg"));
        });
    }
    ReleaseCodecLibraries();
    return 0;
}
