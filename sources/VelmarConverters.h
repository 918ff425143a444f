// The sample-rate converter between the reader and the encoder.
#pragma once

#include "pipeline/VelmarClasses.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

struct soxr;

namespace velmar {

// Resampling kernels: keep, drop or repeat whole units (a 16-bit sample for
// mono, a 4-byte frame for stereo), steered by Accumulator, which carries
// the pattern from block to block (-1: not yet started). Exact halving and
// doubling take a short path that leaves Accumulator alone. Return the bytes
// written to Out, at most ceil(units x OutRate / InRate) units (a block never
// yields more than that, whatever Accumulator holds).
int ConvertMono16(const uint8_t* In, uint8_t* Out, int InBytes, int32_t& Accumulator, int OutRate, int InRate);
int ConvertStereo16(const uint8_t* In, uint8_t* Out, int InBytes, int32_t& Accumulator, int OutRate, int InRate);
// The same for frames of any size and sample form (Channels x 2 or 4 bytes).
int ConvertFrames(const uint8_t* In, uint8_t* Out, int InBytes, int32_t& Accumulator, int OutRate, int InRate,
                  int FrameBytes);

// The frames the converter hands out for InFrames frames of input: the
// same count at equal rates; with HighQuality libsoxr's, the scaled count
// rounded to nearest; otherwise the kernels' (half rounded down when
// halving, twice when doubling, ceil(n x Out / In) going up, and
// 1 + floor((n - 1) x Out / In) going down, the first frame being kept).
int64_t ConvertedFrames(int64_t InFrames, int InRate, int OutRate, bool HighQuality);

// The bytes the converter asks of its input per block: whole frames, as many
// as keep the block's output within Room bytes (ceil(frames x OutRate /
// InRate) x FrameBytes <= Room; the whole Room when the rate does not go
// up), an even count under exact halving so the kept frames alternate
// across blocks. 0 when not even one frame fits.
int RateChunkSize(int InRate, int OutRate, int FrameBytes, int Room);

// An input that pulls PCM from Input and hands it out at OutSampleRate, in
// the input's sample form: 16-bit integers, or 32-bit floats carried
// unchanged (values beyond full scale are kept). Whole frames are kept,
// dropped or repeated. Size is ConvertedFrames of the input's, exact when
// the input's is (it follows the input's when that changes during the
// read); Position is the input's scaled to it, so progress follows the input.
//
// With AltaQualita the samples are resampled by libsoxr at its very high
// quality instead (band-limited, no aliasing), and handed out as 32-bit
// float whatever the input's form, so nothing the filter makes beyond full
// scale is clipped; the filter's delay is compensated and the tail drained
// at the input's end. Equal rates copy the samples unchanged in both modes.
//
// Lifecycle: BeginRead opens the input and fixes the ratio and the sample
// form; ReadData until it returns 0; EndRead closes the input. Input is
// forgotten when its component is removed from the owner they share.
// Failure: VelmarException "Input not assigned" without Input, "The Stream
// is not opened" outside a read cycle, and TMotivo::RicampionamentoImpossibile
// naming the channels and rates in BeginRead for a bad rate or channel count,
// or a frame too wide for one block (the input is closed again then).
// Thread: one read cycle at a time, from one thread; the format getters may
// be called at any time.
class TVelmarRateConverter : public TVelmarInput {
public:
    static constexpr int BlockSize = 32768;

    explicit TVelmarRateConverter(TComponent* AOwner = nullptr);

    int GetBitsPerSample() override { return GetSampleFormat() == TSampleFormat::Float32 ? 32 : 16; }
    int GetChannels() override;
    TSampleFormat GetSampleFormat() override;
    int GetSampleRate() override { return FOutSampleRate; }
    int ReadData(void* Buffer, int BufferSize) override;
    void BeginRead() override;
    void EndRead() override;

    TVelmarInput* Input() const { return FInput; }
    void SetInput(TVelmarInput* Value) { FInput = Value; }
    TVelmarInput* Upstream() const override { return FInput; }
    // Forgets Input when that component goes (once no run reads it).
    void Notification(TComponent* AComponent, TOperation Operation) override;
    int OutSampleRate() const { return FOutSampleRate; }
    void SetOutSampleRate(int Value) { FOutSampleRate = Value; }
    bool AltaQualita() const { return FAltaQualita; }
    void SetAltaQualita(bool Value) { FAltaQualita = Value; }
    int ChunkSize() const { return FChunkSize; }
    int32_t Accumulator() const { return FAccumulator; }

    ~TVelmarRateConverter() override;

private:
    struct TSoxrDeleter {
        void operator()(soxr* S) const;
    };

    VelmarException Refusal() const;
    void ScaleSize();
    int GatherInput();
    int Refill();
    int RefillHighQuality();
    void StartHighQuality(TSampleFormat In);

    TVelmarInput* FInput = nullptr;
    int FOutSampleRate = 22050;
    int FChunkSize = BlockSize;
    bool FInputEnded = false;
    int32_t FAccumulator = -1;
    int FInRate = 0;       // fixed for the read cycle
    int FChannels = 0;     // fixed for the read cycle
    std::atomic<TSampleFormat> FFormat{TSampleFormat::Int16}; // handed out; fixed for the read cycle
    int FInFrameBytes = 0;  // fixed for the read cycle
    int FOutFrameBytes = 0; // fixed for the read cycle
    int64_t FInSize = -1;  // the input's Size that FSize was scaled from
    bool FAltaQualita = false;
    std::unique_ptr<soxr, TSoxrDeleter> FSoxr; // for the read cycle, high quality only
    int FInUsed = 0;       // bytes of InBuf the resampler has taken
    int FInHeld = 0;       // bytes in InBuf
    bool FDrained = false; // the resampler's tail has been handed out
    alignas(8) std::array<uint8_t, BlockSize> FInBuf{};
    alignas(8) std::array<uint8_t, BlockSize> FOutBuf{};
};

} // namespace velmar
