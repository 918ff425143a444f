#include "sources/VelmarWave.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace velmar {

namespace {

constexpr int MaxChannels = 255;
constexpr uint32_t MaxSampleRate = 1000000;

int16_t Clip16(int64_t V)
{
    return static_cast<int16_t>(std::clamp<int64_t>(V, -32768, 32767));
}

int16_t FromFloat(double X)
{
    if (std::isnan(X))
        return 0;
    return Clip16(static_cast<int64_t>(std::lrint(std::clamp(X * 32768.0, -40000.0, 40000.0))));
}

int32_t LE24(const uint8_t* p)
{
    int32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    return (v ^ 0x800000) - 0x800000;
}

int32_t LE32s(const uint8_t* p)
{
    uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
    return static_cast<int32_t>(v);
}

// Source samples to signed 16-bit, rounded to nearest and clipped.
void ConvertTo16(const uint8_t* In, int16_t* Out, int64_t Samples, int Bytes, bool IsFloat)
{
    if (IsFloat && Bytes == 4) {
        for (int64_t i = 0; i < Samples; ++i) {
            float f;
            std::memcpy(&f, In + i * 4, 4);
            Out[i] = FromFloat(f);
        }
    } else if (IsFloat) {
        for (int64_t i = 0; i < Samples; ++i) {
            double d;
            std::memcpy(&d, In + i * 8, 8);
            Out[i] = FromFloat(d);
        }
    } else if (Bytes == 1) {
        for (int64_t i = 0; i < Samples; ++i)
            Out[i] = static_cast<int16_t>((In[i] - 128) * 256);
    } else if (Bytes == 3) {
        for (int64_t i = 0; i < Samples; ++i)
            Out[i] = Clip16((int64_t(LE24(In + i * 3)) + 128) >> 8);
    } else {
        for (int64_t i = 0; i < Samples; ++i)
            Out[i] = Clip16((int64_t(LE32s(In + i * 4)) + 32768) >> 16);
    }
}

std::string Hex4(unsigned V)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", V & 0xFFFF);
    return buf;
}

std::string UnsupportedText(const TWaveFormat& Fmt)
{
    const char* name = AcmFormatTagName(Fmt.FormatTag);
    std::string what = name ? std::string(name) + " data that cannot be decoded" : "unsupported format";
    return what + " (format tag " + Hex4(Fmt.StoredTag == WAVE_FORMAT_EXTENSIBLE ? Fmt.FormatTag : Fmt.StoredTag) +
           ", " + std::to_string(Fmt.BitsPerSample) + " bits per sample)";
}

} // namespace

TVelmarWaveIn::TVelmarWaveIn(TComponent* AOwner) : TVelmarFileIn(AOwner) {}

TVelmarWaveIn::~TVelmarWaveIn()
{
    if (FOpenCount > 0) {
        FOpenCount = 1;
        CloseSource();
    }
}

std::string TVelmarWaveIn::Describe() const
{
    return FFileName.empty() ? std::string("the WAVE stream") : "\"" + FFileName + "\"";
}

void TVelmarWaveIn::Fail(const std::string& What) const
{
    throw VelmarException("Cannot read " + Describe() + ": " + What);
}

void TVelmarWaveIn::OpenSource()
{
    if (FOpenCount != 0) {
        ++FOpenCount;
        return;
    }
    if (!FStreamAssigned) {
        FFileStream = std::make_unique<TFileStream>(FFileName, TFileMode::fmOpenRead);
        FStream = FFileStream.get();
    }
    try {
        TWaveChunks chunks = WalkWaveChunks(*FStream);
        if (!chunks.IsWave)
            Fail("not a RIFF/WAVE file");
        if (!chunks.HasFmt)
            Fail("the file has no format chunk");
        if (!chunks.HasData)
            Fail("the file has no data chunk");
        TWaveFormat fmt = ParseWaveFormat(chunks.Fmt);
        CheckFormat(fmt);
        if (fmt.FormatTag == WAVE_FORMAT_PCM || fmt.FormatTag == WAVE_FORMAT_IEEE_FLOAT)
            TakeHeader(chunks, fmt);
        else if (!OpenDecoded(chunks, fmt))
            Fail(UnsupportedText(fmt));
        ++FOpenCount;
    } catch (...) {
        ReleaseStreams();
        throw;
    }
}

// Checks what the chain needs of any format: channels and a usable rate.
void TVelmarWaveIn::CheckFormat(const TWaveFormat& Fmt) const
{
    if (Fmt.StoredTag == WAVE_FORMAT_EXTENSIBLE && !Fmt.SubFormatKnown)
        Fail("broken or unknown WAVE_FORMAT_EXTENSIBLE header");
    if (Fmt.Channels == 0)
        Fail("the format declares 0 channels");
    if (Fmt.Channels > MaxChannels)
        Fail(std::to_string(Fmt.Channels) + " channels (at most " + std::to_string(MaxChannels) +
             " are supported)");
    if (Fmt.SamplesPerSec == 0 || Fmt.SamplesPerSec > MaxSampleRate)
        Fail("unsupported sample rate " + std::to_string(Fmt.SamplesPerSec) + " Hz");
    const unsigned bits = Fmt.BitsPerSample;
    if (Fmt.FormatTag == WAVE_FORMAT_PCM && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        Fail("unsupported PCM sample width (" + std::to_string(bits) + " bits)");
    if (Fmt.FormatTag == WAVE_FORMAT_IEEE_FLOAT && bits != 32 && bits != 64)
        Fail("unsupported floating-point sample width (" + std::to_string(bits) + " bits)");
}

void TVelmarWaveIn::TakeHeader(const TWaveChunks& Chunks, const TWaveFormat& Fmt)
{
    FChan = Fmt.Channels;
    FSR = static_cast<int>(Fmt.SamplesPerSec);
    FBPS = 16;
    FSourceBytes = Fmt.BitsPerSample / 8;
    FKind = Fmt.FormatTag == WAVE_FORMAT_IEEE_FLOAT ? TSampleKind::Float : TSampleKind::Int;
    FFrameBytes = 2 * FChan;
    if (FSourceBytes == 2 && FKind == TSampleKind::Int) {
        FDataLeft = Chunks.DataSize;
        FSize = Chunks.DataSize;
    } else {
        const int64_t srcFrame = int64_t(FSourceBytes) * FChan;
        const int64_t frames = Chunks.DataSize / srcFrame;
        FDataLeft = frames * srcFrame;
        FSize = frames * FFrameBytes;
        FRaw.resize(static_cast<size_t>((BlockSize / FFrameBytes) * srcFrame));
    }
    FStream->SetPosition(Chunks.DataPos);
}

// A coded file is decoded as it is read: the decoder pulls whole coded
// blocks from the stream and hands out 16-bit frames.
bool TVelmarWaveIn::OpenDecoded(const TWaveChunks& Chunks, const TWaveFormat& Fmt)
{
    const TWaveFormatBuffer coded = FormatBufferOf(Chunks.Fmt);
    const int64_t fact = ReadFactFrames(*FStream, Chunks.DataPos);
    auto decoder = std::make_unique<TVelmarWaveDecoder>();
    if (decoder->Open(*FStream, Chunks.DataPos, Chunks.DataSize, &coded.Format, fact) != MMSYSERR_NOERROR)
        return false;
    const WAVEFORMATEX& pcm = decoder->PcmFormat();
    FChan = pcm.nChannels;
    FSR = static_cast<int>(pcm.nSamplesPerSec);
    FBPS = 16;
    FSourceBytes = 2;
    FKind = TSampleKind::Int;
    FFrameBytes = 2 * FChan;
    FCodedTag = Fmt.FormatTag;
    FSize = decoder->EstimatedFrames() * FFrameBytes;
    FDecoder = std::move(decoder);
    return true;
}

void TVelmarWaveIn::ReleaseStreams()
{
    FDecoder.reset();
    if (!FStreamAssigned) {
        FStream = nullptr;
    }
    FFileStream.reset();
    FRaw.clear();
    FRaw.shrink_to_fit();
}

void TVelmarWaveIn::CloseSource()
{
    if (FOpenCount == 1)
        ReleaseStreams();
    if (FOpenCount > 0)
        --FOpenCount;
}

// Reads the next block of whole frames (of the data chunk only).
int TVelmarWaveIn::FillBlock()
{
    if (FDecoder)
        return FillDecoded();
    const int blockBytes = (BlockSize / FFrameBytes) * FFrameBytes;
    if (FSourceBytes == 2 && FKind == TSampleKind::Int) {
        int64_t n = FStream->Read(FBlock.data(), std::min<int64_t>(blockBytes, FDataLeft));
        FDataLeft -= n;
        return static_cast<int>(n);
    }
    int64_t n = FStream->Read(FRaw.data(), std::min<int64_t>(static_cast<int64_t>(FRaw.size()), FDataLeft));
    FDataLeft -= n;
    const int64_t samples = n / FSourceBytes;
    ConvertTo16(FRaw.data(), reinterpret_cast<int16_t*>(FBlock.data()), samples, FSourceBytes,
                FKind == TSampleKind::Float);
    return static_cast<int>(samples * 2);
}

// The next decoded frames. An estimated Size follows the decoding and,
// once the data has ended, is what was handed out.
int TVelmarWaveIn::FillDecoded()
{
    int frames = 0;
    if (FDecoder->Read(FBlock.data(), BlockSize / FFrameBytes, frames) != MMSYSERR_NOERROR) {
        const char* name = AcmFormatTagName(FCodedTag);
        char at[32];
        std::snprintf(at, sizeof at, "%.1f", double(FDecoder->FramesRead()) / FSR);
        std::replace(at, at + std::strlen(at), '.', ',');
        throw VelmarException(TMotivo::DatiDanneggiati, FFileName,
                              std::string(name ? name : "formato " + Hex4(FCodedTag)) + " non decodificabile dopo " +
                                  at + " s");
    }
    if (FDecoder->TotalFrames() < 0)
        FSize = frames > 0 ? FDecoder->EstimatedFrames() * FFrameBytes : FPosition.load();
    return frames * FFrameBytes;
}

int TVelmarWaveIn::ReadData(void* Buffer, int BufferSize)
{
    if (!FBusy)
        throw VelmarException("The Stream is not opened");
    if (BufStart > BufEnd) {
        BufStart = 1;
        // A decoded file ends where its decoder ends, whatever Size estimated.
        if (!FDecoder && Position() >= Size()) {
            if (!FLoop)
                return 0;
            EndRead();
            BeginRead();
        }
        int n = FillBlock();
        if (n == 0) {
            if (!FLoop)
                return 0;
            EndRead();
            BeginRead();
            n = FillBlock();
        }
        BufEnd = n;
    }
    const int count = std::max(0, std::min(BufferSize, BufEnd - BufStart + 1));
    std::memcpy(Buffer, FBlock.data() + BufStart - 1, static_cast<size_t>(count));
    BufStart += count;
    FPosition += count;
    return count;
}

} // namespace velmar
