#include "engine/Loudness.h"

#include "sources/VelmarSource.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <charconv>
#include <cstring>
#include <limits>

namespace velmar {

struct TLoudnessMeter::TState {
    ebur128_state* S = nullptr;
    ~TState() { ebur128_destroy(&S); }
};

TLoudnessMeter::TLoudnessMeter(int Channels, int Rate, bool VorbisOrder)
    : FState(std::make_unique<TState>()), FChannels(Channels)
{
    // The histogram keeps the state's size fixed however long the source.
    FState->S = ebur128_init(static_cast<unsigned>(Channels), static_cast<unsigned long>(Rate),
                             EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM);
    if (!FState->S)
        throw std::bad_alloc();
    // libebur128 takes WAVE's order (L R C LFE Ls Rs); Vorbis puts the
    // centre second and the LFE last.
    static const int c3[] = {EBUR128_LEFT, EBUR128_CENTER, EBUR128_RIGHT};
    static const int c5[] = {EBUR128_LEFT, EBUR128_CENTER, EBUR128_RIGHT, EBUR128_LEFT_SURROUND, EBUR128_RIGHT_SURROUND};
    static const int c8[] = {EBUR128_LEFT,          EBUR128_CENTER,         EBUR128_RIGHT,  EBUR128_UNUSED,
                             EBUR128_UNUSED,        EBUR128_LEFT_SURROUND,  EBUR128_RIGHT_SURROUND, EBUR128_UNUSED};
    const int* map = !VorbisOrder ? nullptr : Channels == 3 ? c3 : Channels >= 5 && Channels <= 7 ? c5 : Channels == 8 ? c8 : nullptr;
    for (int c = 0; map && c < Channels; ++c)
        ebur128_set_channel(FState->S, unsigned(c), c < 5 || Channels == 8 ? map[c] : EBUR128_UNUSED);
}

TLoudnessMeter::~TLoudnessMeter() = default;

void TLoudnessMeter::Add(const float* Frames, size_t Count)
{
    for (size_t i = 0; i < Count * size_t(FChannels); ++i)
        FPeak = std::max(FPeak, double(std::fabs(Frames[i])));
    ebur128_add_frames_float(FState->S, Frames, Count);
}

void TLoudnessMeter::Add(const int16_t* Frames, size_t Count)
{
    int top = 0;
    for (size_t i = 0; i < Count * size_t(FChannels); ++i)
        top = std::max(top, std::abs(int(Frames[i])));
    FPeak = std::max(FPeak, top / 32768.0);
    ebur128_add_frames_short(FState->S, Frames, Count);
}

double TLoudnessMeter::Lufs() const
{
    double l = -std::numeric_limits<double>::infinity();
    if (ebur128_loudness_global(FState->S, &l) != EBUR128_SUCCESS)
        return -std::numeric_limits<double>::infinity();
    return l;
}

double TLoudnessMeter::LufsOf(const std::vector<const TLoudnessMeter*>& Meters)
{
    std::vector<ebur128_state*> states;
    for (const TLoudnessMeter* m : Meters)
        states.push_back(m->FState->S);
    double l = -std::numeric_limits<double>::infinity();
    if (states.empty() || ebur128_loudness_global_multiple(states.data(), states.size(), &l) != EBUR128_SUCCESS)
        return -std::numeric_limits<double>::infinity();
    return l;
}

std::unique_ptr<TLoudnessMeter> MeasureSource(const std::string& Input, bool Downmix, const std::function<bool()>& Stop)
{
    try {
        // The standard input is read once, by its encoding.
        if (Input == StandardInputName)
            return nullptr;
        TComponent root;
        TVelmarSourceIn* wave = CreateSource(&root, Input);
        wave->BeginRead();
        struct TClose {
            TVelmarSourceIn* W;
            ~TClose() { W->CancelRead(); }
        } close{wave};
        const int channels = wave->GetChannels();
        const bool floats = wave->GetSampleFormat() == TSampleFormat::Float32;
        const bool mix = Downmix && channels == 2;
        auto meter = std::make_unique<TLoudnessMeter>(mix ? 1 : channels, wave->GetSampleRate());
        // Read in the form handed out, so the samples need no copy.
        std::vector<float> f(floats ? 8192 : 0), mono;
        std::vector<int16_t> s(floats ? 0 : 16384);
        void* block = floats ? static_cast<void*>(f.data()) : static_cast<void*>(s.data());
        const int frameBytes = channels * (floats ? 4 : 2);
        for (;;) {
            if (Stop && Stop())
                return nullptr;
            const int n = wave->ReadData(block, 32768);
            if (n <= 0)
                break;
            const size_t frames = size_t(n / frameBytes);
            if (mix) {
                // As the encoder mixes: each sample at full scale, then the mean.
                mono.resize(frames);
                for (size_t i = 0; i < frames; ++i)
                    mono[i] = floats ? (f[2 * i] + f[2 * i + 1]) * 0.5f
                                     : (s[2 * i] / 32768.0f + s[2 * i + 1] / 32768.0f) * 0.5f;
                meter->Add(mono.data(), frames);
            } else if (floats) {
                meter->Add(f.data(), frames);
            } else {
                meter->Add(s.data(), frames);
            }
        }
        return meter;
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::vector<TStringList> AlbumGains(const std::vector<std::string>& Inputs, bool Downmix,
                                    const std::function<bool()>& Stop)
{
    std::vector<std::unique_ptr<TLoudnessMeter>> meters;
    std::vector<const TLoudnessMeter*> measured;
    double peak = 0;
    for (const std::string& input : Inputs) {
        if (Stop && Stop())
            return std::vector<TStringList>(Inputs.size());
        meters.push_back(MeasureSource(input, Downmix, Stop));
        if (meters.back()) {
            measured.push_back(meters.back().get());
            peak = std::max(peak, meters.back()->Peak());
        }
    }
    const TStringList album = ReplayGainTags("ALBUM", TLoudnessMeter::LufsOf(measured), peak);
    std::vector<TStringList> gains;
    for (const auto& m : meters) {
        TStringList g;
        if (m) {
            g = ReplayGainTags("TRACK", m->Lufs(), m->Peak());
            g.insert(g.end(), album.begin(), album.end());
        }
        gains.push_back(std::move(g));
    }
    return gains;
}

namespace {

// V in exactly Width characters, with as many decimals as that leaves
// (never a comma: the window's process runs in the user's locale).
std::string Fixed(double V, int Width, double Limit)
{
    V = std::clamp(V, -Limit, Limit) + 0.0;
    char b[64];
    for (int decimals = Width; decimals > 0; --decimals) {
        const auto r = std::to_chars(b, b + sizeof b, V, std::chars_format::fixed, decimals);
        if (r.ptr - b <= Width)
            return std::string(b, r.ptr);
    }
    return std::string(b, std::to_chars(b, b + sizeof b, V, std::chars_format::fixed, 0).ptr);
}

std::string GainText(double Lufs)
{
    return Fixed(std::isfinite(Lufs) ? ReferenceLufs - Lufs : 0.0, 6, 99.99) + " dB";
}

std::string PeakText(double Peak) { return Fixed(Peak, 8, 9999.0); }

constexpr size_t TapBlock = 8192; // frames a block carries to the measuring thread

} // namespace

TStringList ReplayGainTags(const char* Prefix, double Lufs, double Peak)
{
    const std::string p = std::string("REPLAYGAIN_") + Prefix;
    return {p + "_GAIN=" + GainText(Lufs), p + "_PEAK=" + PeakText(Peak)};
}

TLoudnessTap::TLoudnessTap(int Channels, int Rate)
    : FMeter(Channels, Rate, true), FChannels(Channels), FThread([this] { Measure(); })
{
}

TLoudnessTap::~TLoudnessTap()
{
    {
        std::lock_guard<std::mutex> g(FLock);
        FEnded = true;
    }
    FChanged.notify_all();
    if (FThread.joinable())
        FThread.join();
}

TStringList TLoudnessTap::Placeholders()
{
    return ReplayGainTags("TRACK", ReferenceLufs, 0.0);
}

void TLoudnessTap::Samples(const float* const* Planar, int Channels, int Frames)
{
    if (Channels != FChannels || Frames <= 0)
        return;
    if (FBlock.capacity() == 0)
        FBlock.reserve(TapBlock * size_t(FChannels));
    const size_t at = FBlock.size();
    FBlock.resize(at + size_t(Frames) * size_t(Channels));
    float* out = FBlock.data() + at;
    for (int c = 0; c < Channels; ++c) {
        const float* in = Planar[c];
        for (int i = 0; i < Frames; ++i)
            out[size_t(i) * size_t(Channels) + size_t(c)] = in[i];
    }
    if (FBlock.size() < TapBlock * size_t(FChannels))
        return;
    std::unique_lock<std::mutex> g(FLock);
    // A few blocks ahead at most: memory stays as it is if measuring lags.
    FChanged.wait(g, [this] { return FQueue.size() < 4; });
    FQueue.push_back(std::move(FBlock));
    // A block the measure is done with, so the next fill allocates nothing.
    FBlock = std::move(FSpare);
    FBlock.clear();
    FChanged.notify_all();
}

void TLoudnessTap::Measure()
{
    for (;;) {
        std::vector<float> block;
        {
            std::unique_lock<std::mutex> g(FLock);
            FChanged.wait(g, [this] { return !FQueue.empty() || FEnded; });
            if (FQueue.empty())
                return;
            block = std::move(FQueue.front());
            FQueue.pop_front();
        }
        FChanged.notify_all();
        FMeter.Add(block.data(), block.size() / size_t(FChannels));
        std::lock_guard<std::mutex> g(FLock);
        if (FSpare.capacity() == 0)
            FSpare = std::move(block);
    }
}

std::vector<std::pair<std::string, std::string>> TLoudnessTap::Final()
{
    {
        std::unique_lock<std::mutex> g(FLock);
        if (!FBlock.empty())
            FQueue.push_back(std::move(FBlock));
        FBlock.clear();
        FEnded = true;
    }
    FChanged.notify_all();
    if (FThread.joinable())
        FThread.join();
    const TStringList placeholders = Placeholders();
    const TStringList measured = ReplayGainTags("TRACK", FMeter.Lufs(), FMeter.Peak());
    return {{placeholders[0], measured[0]}, {placeholders[1], measured[1]}};
}

} // namespace velmar
