#include "sources/VelmarConverters.h"

#include <algorithm>
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

int ConvertFrames(const uint8_t* In, uint8_t* Out, int InBytes, int32_t& Accumulator, int OutRate, int InRate,
                  int FrameBytes)
{
    if (FrameBytes == 2)
        return ConvertMono16(In, Out, InBytes, Accumulator, OutRate, InRate);
    if (FrameBytes == 4)
        return ConvertStereo16(In, Out, InBytes, Accumulator, OutRate, InRate);
    return Kernel<0>(In, Out, InBytes, Accumulator, OutRate, InRate, FrameBytes);
}

int64_t ConvertedFrames(int64_t InFrames, int InRate, int OutRate, bool HighQuality)
{
    if (InFrames <= 0 || InRate <= 0 || OutRate <= 0 || InRate == OutRate)
        return std::max<int64_t>(InFrames, 0);
    // 128 bits: a size from a file times a rate must not overflow.
    using Wide = unsigned __int128;
    const Wide n = Wide(InFrames), in = Wide(InRate), out = Wide(OutRate);
    Wide frames;
    if (HighQuality)
        frames = (2 * n * out + in) / (2 * in); // rounded to nearest
    else if (InRate == 2 * int64_t(OutRate))
        frames = n / 2;
    else if (OutRate == 2 * int64_t(InRate))
        frames = 2 * n;
    else if (OutRate > InRate)
        frames = (n * out + in - 1) / in; // every input frame written until the output catches up
    else
        frames = 1 + (n - 1) * out / in; // the first frame kept, then one per In / Out
    return static_cast<int64_t>(std::min<Wide>(frames, Wide(INT64_MAX)));
}

int RateChunkSize(int InRate, int OutRate, int FrameBytes, int Room)
{
    if (InRate <= 0 || OutRate <= 0 || FrameBytes <= 0 || Room <= 0)
        return 0;
    const int64_t room = Room / FrameBytes;
    // ceil(frames x Out / In) <= room exactly when frames x Out <= room x In.
    int64_t frames = OutRate > InRate ? room * InRate / OutRate : room;
    if (InRate == 2 * int64_t(OutRate) && frames > 1)
        frames -= frames % 2;
    return static_cast<int>(frames * FrameBytes);
}

TVelmarRateConverter::TVelmarRateConverter(TComponent* AOwner) : TVelmarInput(AOwner) {}

TVelmarRateConverter::~TVelmarRateConverter() { CheckNotRead(); }

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

// What the converter cannot do, with the channels and rates it was asked for.
VelmarException TVelmarRateConverter::Refusal() const
{
    return VelmarException(TMotivo::RicampionamentoImpossibile, {},
                           std::to_string(FChannels) + " canali da " + std::to_string(FInRate) + " Hz a " +
                               std::to_string(FOutSampleRate) + " Hz");
}

void TVelmarRateConverter::StartHighQuality(TSampleFormat In)
{
    soxr_error_t error = nullptr;
    // Always float out: the filter's overshoot above full scale stays.
    soxr_io_spec_t io = soxr_io_spec(In == TSampleFormat::Float32 ? SOXR_FLOAT32_I : SOXR_INT16_I, SOXR_FLOAT32_I);
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    FSoxr.reset(soxr_create(FInRate, FOutSampleRate, static_cast<unsigned>(FChannels), &error, &io, &quality,
                            &runtime));
    if (!FSoxr || error) {
        FSoxr.reset();
        FInput->CancelRead();
        throw Refusal();
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

TSampleFormat TVelmarRateConverter::GetSampleFormat()
{
    if (FBusy)
        return FFormat;
    if (!FInput)
        return TSampleFormat::Int16;
    if (FAltaQualita && FInput->GetSampleRate() != FOutSampleRate)
        return TSampleFormat::Float32;
    return FInput->GetSampleFormat();
}

void TVelmarRateConverter::BeginRead()
{
    if (!FInput)
        throw VelmarException("Input not assigned");
    FInput->BeginRead();
    FInRate = FInput->GetSampleRate();
    FChannels = FInput->GetChannels();
    const TSampleFormat in = FInput->GetSampleFormat();
    const bool soxr = FAltaQualita && FInRate != FOutSampleRate;
    const TSampleFormat out = soxr ? TSampleFormat::Float32 : in;
    const bool fits = FChannels > 0 && FChannels <= BlockSize / 4;
    FInFrameBytes = fits ? FChannels * (in == TSampleFormat::Float32 ? 4 : 2) : 0;
    FOutFrameBytes = fits ? FChannels * (out == TSampleFormat::Float32 ? 4 : 2) : 0;
    // libsoxr takes what part of a block it can, so only the kernel needs
    // the block kept within the output's room.
    FChunkSize = soxr ? RateChunkSize(FInRate, FInRate, FInFrameBytes, BlockSize)
                      : RateChunkSize(FInRate, FOutSampleRate, FInFrameBytes, BlockSize);
    if (FChunkSize <= 0) {
        FInput->CancelRead();
        throw Refusal();
    }
    FSoxr.reset();
    if (soxr)
        StartHighQuality(in);
    FFormat = out;
    FBusy = true;
    FPosition = 0;
    BufStart = 1;
    BufEnd = 0;
    FInputEnded = false;
    FInSize = -2;
    ScaleSize();
    FAccumulator = -1;
}

// Size is what the input's gives by the converter's own rule; -1 while the
// input's is not known, and exact as far as the input's is.
void TVelmarRateConverter::ScaleSize()
{
    const int64_t inSize = FInput->Size();
    FSizeExact = FInput->SizeExact();
    if (inSize == FInSize)
        return;
    FInSize = inSize;
    if (inSize < 0) {
        FSize = -1;
        return;
    }
    const int64_t frames = ConvertedFrames(inSize / FInFrameBytes, FInRate, FOutSampleRate, FSoxr != nullptr);
    FSize = std::min(frames, INT64_MAX / FOutFrameBytes) * FOutFrameBytes; // an untrusted size times a ratio
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
    return ConvertFrames(FInBuf.data(), FOutBuf.data(), total, FAccumulator, FOutSampleRate, FInRate, FInFrameBytes);
}

int TVelmarRateConverter::RefillHighQuality()
{
    const int inFrame = FInFrameBytes, outFrame = FOutFrameBytes;
    const size_t room = BlockSize / outFrame;
    while (!FDrained) {
        if (FInUsed == FInHeld && !FInputEnded) {
            FInHeld = GatherInput();
            FInUsed = 0;
        }
        size_t taken = 0, made = 0;
        soxr_error_t error;
        if (FInUsed < FInHeld) {
            const size_t frames = static_cast<size_t>((FInHeld - FInUsed) / inFrame);
            error = soxr_process(FSoxr.get(), FInBuf.data() + FInUsed, frames, &taken, FOutBuf.data(), room, &made);
            FInUsed = frames == 0 ? FInHeld : FInUsed + static_cast<int>(taken) * inFrame;
        } else {
            // The input has ended: the filter's tail follows.
            error = soxr_process(FSoxr.get(), nullptr, 0, nullptr, FOutBuf.data(), room, &made);
            FDrained = made < room;
        }
        if (error)
            throw Refusal();
        if (made > 0)
            return static_cast<int>(made) * outFrame;
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
            ScaleSize(); // an estimated input's Size is now what it handed out
            return 0;
        }
        BufEnd = produced;
    }
    const int count = std::max(0, std::min(BufferSize, BufEnd - BufStart + 1));
    std::memcpy(Buffer, FOutBuf.data() + BufStart - 1, static_cast<size_t>(count));
    BufStart += count;
    ScaleSize();
    if (FInSize > 0)
        FPosition = static_cast<int64_t>(std::nearbyint(double(Size()) / double(FInSize) * double(FInput->Position())));
    return count;
}

} // namespace velmar
