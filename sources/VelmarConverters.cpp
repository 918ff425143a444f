#include "sources/VelmarConverters.h"

#include <cmath>
#include <cstring>

#include <soxr.h>

namespace velmar {

namespace {

template <int Unit> inline void CopyUnit(uint8_t* Dst, const uint8_t* Src, int) { std::memcpy(Dst, Src, Unit); }
template <> inline void CopyUnit<0>(uint8_t* Dst, const uint8_t* Src, int Bytes) { std::memcpy(Dst, Src, Bytes); }

// Unit is the frame size in bytes when known at compile time, 0 otherwise.
template <int Unit>
int Kernel(const uint8_t* In, uint8_t* Out, int InBytes, int32_t& Acc, int OutRate, int InRate, int UnitBytes)
{
    const int count = InBytes / UnitBytes;
    int written = 0;
    auto put = [&](int unit) { CopyUnit<Unit>(Out + written++ * UnitBytes, In + unit * UnitBytes, UnitBytes); };

    if (InRate > OutRate) {
        if (double(InRate) / double(OutRate) == 2.0) {
            for (int k = 0; k < count / 2; ++k)
                put(2 * k);
        } else {
            const int32_t step = InRate - OutRate;
            if (Acc < 0)
                Acc = OutRate;
            for (int i = 0; i < count; ++i) {
                if (Acc > OutRate) {
                    Acc -= OutRate;
                } else {
                    put(i);
                    Acc += step;
                }
            }
        }
    } else if (double(OutRate) / double(InRate) == 2.0) {
        for (int i = 0; i < count; ++i) {
            put(i);
            put(i);
        }
    } else {
        if (Acc < 0)
            Acc = 0;
        for (int i = 0; i < count; ++i) {
            while (Acc < OutRate) {
                put(i);
                Acc += InRate;
            }
            Acc -= OutRate;
        }
    }
    return written * UnitBytes;
}

} // namespace

int ConvertMono16(const uint8_t* In, uint8_t* Out, int InBytes, int32_t& Accumulator, int OutRate, int InRate)
{
    return Kernel<2>(In, Out, InBytes, Accumulator, OutRate, InRate, 2);
}

int ConvertStereo16(const uint8_t* In, uint8_t* Out, int InBytes, int32_t& Accumulator, int OutRate, int InRate)
{
    return Kernel<4>(In, Out, InBytes, Accumulator, OutRate, InRate, 4);
}

int ConvertFrames16(const uint8_t* In, uint8_t* Out, int InBytes, int32_t& Accumulator, int OutRate, int InRate,
                    int FrameBytes)
{
    if (FrameBytes == 2)
        return ConvertMono16(In, Out, InBytes, Accumulator, OutRate, InRate);
    if (FrameBytes == 4)
        return ConvertStereo16(In, Out, InBytes, Accumulator, OutRate, InRate);
    return Kernel<0>(In, Out, InBytes, Accumulator, OutRate, InRate, FrameBytes);
}

TVelmarRateConverter::TVelmarRateConverter(TComponent* AOwner) : TVelmarInput(AOwner) {}

TVelmarRateConverter::~TVelmarRateConverter() = default;

void TVelmarRateConverter::TSoxrDeleter::operator()(soxr* S) const
{
    soxr_delete(S);
}

void TVelmarRateConverter::Notification(TComponent* AComponent, TOperation Operation)
{
    // While a run reads through this converter, the run's output stops it
    // first and tells again (TVelmarOutput::Notification).
    if (AComponent == FInput && Operation == TOperation::opRemove && !FBusy)
        FInput = nullptr;
    TVelmarInput::Notification(AComponent, Operation);
}

void TVelmarRateConverter::StartHighQuality()
{
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    soxr_io_spec_t ioNoDither = io;
    ioNoDither.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    FSoxr.reset(soxr_create(FInRate, FOutSampleRate, static_cast<unsigned>(FChannels), &error, &ioNoDither,
                            &quality, &runtime));
    if (!FSoxr || error) {
        FSoxr.reset();
        FInput->CancelRead();
        throw VelmarException(std::string("Cannot set up the resampler: ") + soxr_strerror(error));
    }
    FInUsed = FInHeld = 0;
    FDrained = false;
}

int TVelmarRateConverter::GetChannels()
{
    if (!FInput)
        throw VelmarException("Input not assigned");
    return FInput->GetChannels();
}

void TVelmarRateConverter::BeginRead()
{
    if (!FInput)
        throw VelmarException("Input not assigned");
    FInput->BeginRead();
    FInRate = FInput->GetSampleRate();
    FChannels = FInput->GetChannels();
    if (FInRate <= 0 || FOutSampleRate <= 0 || FChannels <= 0) {
        FInput->CancelRead();
        throw VelmarException("Cannot convert " + std::to_string(FChannels) + " channels from " +
                              std::to_string(FInRate) + " Hz to " + std::to_string(FOutSampleRate) + " Hz");
    }
    FBusy = true;
    FPosition = 0;
    BufStart = 1;
    BufEnd = 0;
    FInputEnded = false;

    const float ratio = static_cast<float>(double(FOutSampleRate) / double(FInRate));
    // Blocks hold whole frames; mono and stereo keep the 4-byte granularity.
    const int frameBytes = FChannels * 2;
    const int grain = FChannels <= 2 ? 4 : frameBytes;
    if (ratio > 1.0f) {
        const int fit = FChannels <= 2 ? static_cast<int>(32768.0 / ratio)
                                       : static_cast<int>((BlockSize / frameBytes) / ratio) * frameBytes;
        FChunkSize = fit / grain * grain;
    } else {
        FChunkSize = BlockSize / grain * grain;
    }
    const int64_t inSize = FInput->Size();
    FSize = inSize < 0 ? -1 : static_cast<int64_t>(std::nearbyint(double(inSize) * double(ratio)));
    FAccumulator = -1;
    FSoxr.reset();
    if (FAltaQualita && FInRate != FOutSampleRate)
        StartHighQuality();
}

void TVelmarRateConverter::EndRead()
{
    FSoxr.reset();
    if (FInput)
        FInput->EndRead();
    FBusy = false;
}

// Fills InBuf with up to ChunkSize bytes; 0 when the input had nothing more.
int TVelmarRateConverter::GatherInput()
{
    int n = FInput->ReadData(FInBuf.data(), FChunkSize);
    if (n == 0) {
        FInputEnded = true;
        return 0;
    }
    int total = n;
    while (n != 0 && total < FChunkSize) {
        n = FInput->ReadData(FInBuf.data() + total, FChunkSize - total);
        total += n;
    }
    if (n == 0)
        FInputEnded = true;
    return total;
}

// The next output block in OutBuf; -1 at the end of the data.
int TVelmarRateConverter::Refill()
{
    if (FSoxr)
        return RefillHighQuality();
    if (FInputEnded)
        return -1;
    const int total = GatherInput();
    if (total == 0)
        return -1;
    return ConvertFrames16(FInBuf.data(), FOutBuf.data(), total, FAccumulator, FOutSampleRate, FInRate,
                           FChannels * 2);
}

int TVelmarRateConverter::RefillHighQuality()
{
    const int frameBytes = FChannels * 2;
    const size_t room = BlockSize / frameBytes;
    while (!FDrained) {
        if (FInUsed == FInHeld && !FInputEnded) {
            FInHeld = GatherInput();
            FInUsed = 0;
        }
        size_t taken = 0, made = 0;
        soxr_error_t error;
        if (FInUsed < FInHeld) {
            const size_t frames = static_cast<size_t>((FInHeld - FInUsed) / frameBytes);
            error = soxr_process(FSoxr.get(), FInBuf.data() + FInUsed, frames, &taken, FOutBuf.data(), room, &made);
            FInUsed = frames == 0 ? FInHeld : FInUsed + static_cast<int>(taken) * frameBytes;
        } else {
            // The input has ended: the filter's tail follows.
            error = soxr_process(FSoxr.get(), nullptr, 0, nullptr, FOutBuf.data(), room, &made);
            FDrained = made < room;
        }
        if (error)
            throw VelmarException(std::string("Resampling failed: ") + soxr_strerror(error));
        if (made > 0)
            return static_cast<int>(made) * frameBytes;
    }
    return -1;
}

int TVelmarRateConverter::ReadData(void* Buffer, int BufferSize)
{
    if (!FBusy)
        throw VelmarException("The Stream is not opened");
    if (BufStart > BufEnd) {
        BufStart = 1;
        const int produced = Refill();
        if (produced < 0) {
            BufEnd = 0; // nothing stale is handed out by a later call
            return 0;
        }
        BufEnd = produced;
    }
    const int count = std::max(0, std::min(BufferSize, BufEnd - BufStart + 1));
    std::memcpy(Buffer, FOutBuf.data() + BufStart - 1, static_cast<size_t>(count));
    BufStart += count;
    const int64_t inSize = FInput->Size();
    if (inSize > 0)
        FPosition = static_cast<int64_t>(std::nearbyint(double(Size()) / double(inSize) * double(FInput->Position())));
    return count;
}

} // namespace velmar
