// ReplayGain 2.0 for the outputs: the loudness of a source measured in one
// pass before it is encoded, so its gain goes into the comment header as
// the stream starts and no file is written twice.
#pragma once

#include "platform/Classes.h"
#include "vorbis/VorbisTap.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <memory>
#include <string>
#include <vector>

namespace velmar {

// The ReplayGain 2.0 reference: the gain brings a track to -18 LUFS.
inline constexpr double ReferenceLufs = -18.0;

// One source's measure: integrated loudness (EBU R128, libebur128, gated,
// its channel weights: WAVE order L R C LFE Ls Rs, the LFE left out) and
// sample peak. The state is kept (in constant memory: a histogram), so
// tracks can be measured again together as an album.
// Thread: one thread at a time.
class TLoudnessMeter {
public:
    // VorbisOrder: the channels come in Vorbis order (L C R Ls Rs LFE).
    TLoudnessMeter(int Channels, int Rate, bool VorbisOrder = false);
    ~TLoudnessMeter();
    TLoudnessMeter(const TLoudnessMeter&) = delete;
    TLoudnessMeter& operator=(const TLoudnessMeter&) = delete;

    // Interleaved frames at full scale 1.0.
    void Add(const float* Frames, size_t Count);
    void Add(const int16_t* Frames, size_t Count);

    // LUFS; -inf for silence (or nothing measured).
    double Lufs() const;
    // The largest sample, full scale 1.0.
    double Peak() const { return FPeak; }

    // The loudness of several measures taken as one programme (an album).
    static double LufsOf(const std::vector<const TLoudnessMeter*>& Meters);

private:
    struct TState; // libebur128's
    std::unique_ptr<TState> FState;
    int FChannels;
    double FPeak = 0;
};

// Reads Input whole (any source the engine reads, mixed to mono when
// Downmix and it is stereo) into a new meter. Null when the input cannot
// be read (its encoding will say why) or Stop says so meanwhile.
std::unique_ptr<TLoudnessMeter> MeasureSource(const std::string& Input, bool Downmix,
                                              const std::function<bool()>& Stop = {});

// The encoder's tap that measures what it encodes, on a thread of its own
// (the samples are handed over in fixed blocks, a few at most queued), so
// the measure costs the encoding no time while a processor is free; its
// track gain and peak go into the header's placeholders at the end.
// Lifecycle: made for one run; the destructor stops and joins the thread.
class TLoudnessTap : public TVorbisTap {
public:
    TLoudnessTap(int Channels, int Rate);
    ~TLoudnessTap() override;

    // The comments to put in the header for Final to fill.
    static TStringList Placeholders();

    void Samples(const float* const* Planar, int Channels, int Frames) override;
    std::vector<std::pair<std::string, std::string>> Final() override;

private:
    void Measure();

    TLoudnessMeter FMeter;
    const int FChannels;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::vector<float>> FQueue;
    std::vector<float> FBlock; // being filled, interleaved
    std::vector<float> FSpare; // a measured block's memory, for the next one
    bool FEnded = false;
    std::thread FThread;       // last: it uses everything above
};

// An album's gains: for each of Inputs (in order), its track gain and
// peak and the album's, measured together (the album's loudness as one
// programme, its peak the largest). A file that cannot be read gets none
// (and counts for nothing); empty lists when Stop says so.
std::vector<TStringList> AlbumGains(const std::vector<std::string>& Inputs, bool Downmix,
                                    const std::function<bool()>& Stop = {});

// "REPLAYGAIN_TRACK_GAIN=-3.290 dB" and "REPLAYGAIN_TRACK_PEAK=0.988553"
// (Prefix "TRACK" or "ALBUM"); the gain of silence is 0. Each value has a
// fixed width, as many decimals as it leaves (gains of 6 characters, peaks
// of 8), so a placeholder can be written first and the value over it.
TStringList ReplayGainTags(const char* Prefix, double Lufs, double Peak);

} // namespace velmar
