#include "sources/VelmarWave.h"

#include "platform/PipeStream.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace velmar {

namespace {

constexpr int MaxChannels = 255;
constexpr uint32_t MaxSampleRate = 1000000;

// A sample of N bytes at P as a signed value (N = 2, 3, 4).
template <int N, bool BigEndian> int32_t Signed(const uint8_t* P)
{
    uint32_t v = 0;
    for (int k = 0; k < N; ++k)
        v |= uint32_t(P[BigEndian ? N - 1 - k : k]) << (8 * k);
    return static_cast<int32_t>(v << (32 - 8 * N)) >> (32 - 8 * N);
}

template <bool BigEndian> uint64_t Bits(const uint8_t* P, int N)
{
    uint64_t v = 0;
    for (int k = 0; k < N; ++k)
        v |= uint64_t(P[BigEndian ? N - 1 - k : k]) << (8 * k);
    return v;
}

void Put(uint8_t* Out, int64_t I, int16_t V) { std::memcpy(Out + 2 * I, &V, 2); }
void Put(uint8_t* Out, int64_t I, float V) { std::memcpy(Out + 4 * I, &V, 4); }

// Samples of the file to what the reader hands out: 1 and 2 bytes to signed
// 16-bit, the rest to float at full scale 1.0 (exact for integers, since
// the scales are powers of two; doubles rounded once).
template <bool BigEndian>
void Convert(const uint8_t* In, uint8_t* Out, int64_t Samples, int Bytes, bool IsFloat)
{
    if (IsFloat && Bytes == 4) {
        for (int64_t i = 0; i < Samples; ++i) {
            const auto u = static_cast<uint32_t>(Bits<BigEndian>(In + 4 * i, 4));
            float f;
            std::memcpy(&f, &u, 4);
            Put(Out, i, f);
        }
    } else if (IsFloat) {
        for (int64_t i = 0; i < Samples; ++i) {
            const uint64_t u = Bits<BigEndian>(In + 8 * i, 8);
            double d;
            std::memcpy(&d, &u, 8);
            // Beyond float's range is infinite, as rounding would make it.
            Put(Out, i, std::fabs(d) > FLT_MAX ? std::copysign(INFINITY, float(d > 0 ? 1 : -1)) : float(d));
        }
    } else if (Bytes == 1) {
        for (int64_t i = 0; i < Samples; ++i)
            Put(Out, i, static_cast<int16_t>((In[i] - 128) * 256));
    } else if (Bytes == 2) {
        for (int64_t i = 0; i < Samples; ++i)
            Put(Out, i, static_cast<int16_t>(Signed<2, BigEndian>(In + 2 * i)));
    } else if (Bytes == 3) {
        for (int64_t i = 0; i < Samples; ++i)
            Put(Out, i, static_cast<float>(Signed<3, BigEndian>(In + 3 * i)) / 8388608.0f);
    } else {
        for (int64_t i = 0; i < Samples; ++i)
            Put(Out, i, static_cast<float>(double(Signed<4, BigEndian>(In + 4 * i)) / 2147483648.0));
    }
}

// Checks what the chain needs of any format: a known layout, channels and
// a usable rate.
void CheckFormat(const TWaveFormat& Fmt, const std::string& File)
{
    if (Fmt.StoredTag == WAVE_FORMAT_EXTENSIBLE && !Fmt.SubFormatKnown)
        throw VelmarException(TMotivo::EstensibileDanneggiato, File);
    if (Fmt.Channels == 0 || Fmt.Channels > MaxChannels)
        throw VelmarException(TMotivo::CanaliNonValidi, File, std::to_string(Fmt.Channels));
    if (Fmt.SamplesPerSec == 0 || Fmt.SamplesPerSec > MaxSampleRate)
        throw VelmarException(TMotivo::FrequenzaNonValida, File, std::to_string(Fmt.SamplesPerSec));
}

// Bytes per sample in the file for PCM and float data. Samples narrower
// than their container (20 bits in 3 bytes, 12 in 2) sit at its top and are
// read as the container's width.
int ContainerBytes(const TWaveFormat& Fmt, const std::string& File)
{
    const unsigned bits = Fmt.BitsPerSample;
    if (Fmt.FormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        if (bits == 32 || bits == 64)
            return static_cast<int>(bits / 8);
    } else if (bits % 8 == 0 && bits >= 8 && bits <= 32) {
        return static_cast<int>(bits / 8);
    } else if (bits > 0 && bits < 32 && Fmt.BlockAlign % Fmt.Channels == 0) {
        const unsigned container = Fmt.BlockAlign / Fmt.Channels;
        if (container * 8 >= bits && container <= 4)
            return static_cast<int>(container);
    }
    throw VelmarException(TMotivo::AmpiezzaNonSupportata, File, std::to_string(bits));
}

uint16_t ShownTag(const TWaveFormat& Fmt)
{
    return Fmt.StoredTag == WAVE_FORMAT_EXTENSIBLE ? Fmt.FormatTag : Fmt.StoredTag;
}

// A coded format's frames, as the decoder will hand them out; -1 when only
// decoding can tell (MPEG).
int64_t CodedFrames(const TWaveChunks& W, const TWaveFormat& Fmt, int64_t Bytes)
{
    if (Fmt.FormatTag == WAVE_FORMAT_MPEGLAYER3)
        return -1;
    return DecodedFrames(Bytes, Fmt.BlockAlign, FramesPerBlock(W.Fmt), W.FactFrames);
}

} // namespace

std::string FormatName(uint16_t FormatTag)
{
    static const struct {
        uint16_t Tag;
        const char* Name;
    } names[] = {
        {0x0001, "PCM"},
        {0x0002, "ADPCM Microsoft"},
        {0x0003, "virgola mobile IEEE"},
        {0x0006, "G.711 A-law"},
        {0x0007, "G.711 µ-law"},
        {0x0008, "DTS"},
        {0x0010, "ADPCM OKI"},
        {0x0011, "ADPCM IMA"},
        {0x0017, "ADPCM Dialogic OKI"},
        {0x0020, "ADPCM Yamaha"},
        {0x0022, "TrueSpeech"},
        {0x0031, "GSM 6.10"},
        {0x0040, "G.721 ADPCM"},
        {0x0050, "MPEG"},
        {0x0055, "MPEG Layer 3"},
        {0x0064, "G.726 ADPCM"},
        {0x0065, "G.722 ADPCM"},
        {0x0092, "Dolby AC-3 S/PDIF"},
        {0x00FF, "AAC"},
        {0x0160, "Windows Media Audio 1"},
        {0x0161, "Windows Media Audio"},
        {0x0162, "Windows Media Audio Pro"},
        {0x0163, "Windows Media Audio Lossless"},
        {0x0270, "ATRAC3"},
        {0x1600, "AAC ADTS"},
        {0x1610, "HE-AAC"},
        {0x2000, "Dolby AC-3"},
        {0x2001, "DTS"},
        {0xF1AC, "FLAC"},
    };
    char hex[16];
    std::snprintf(hex, sizeof hex, " (0x%04X)", FormatTag);
    for (const auto& n : names)
        if (n.Tag == FormatTag)
            return n.Name + std::string(hex);
    return "formato sconosciuto" + std::string(hex);
}

struct TVelmarWaveIn::THeader {
    TWaveDescription Description;
    TWaveChunks Chunks;
    TWaveFormat Format;
    int Container = 0; // bytes per sample of PCM or float data; 0: coded data
};

TVelmarWaveIn::THeader TVelmarWaveIn::LookAt(TStream& S, const std::string& File)
{
    THeader h;
    TWaveChunks& w = h.Chunks;
    w = WalkWaveChunks(S);
    if (!w.IsWave)
        throw VelmarException(TMotivo::NonWave, File);
    if (!w.HasFmt)
        throw VelmarException(TMotivo::SenzaFormato, File);
    if (!w.HasData)
        throw VelmarException(TMotivo::SenzaDati, File);
    const TWaveFormat& f = h.Format = ParseWaveFormat(w.Fmt, w.BigEndian);
    CheckFormat(f, File);

    TWaveDescription& d = h.Description;
    d.Channels = f.Channels;
    d.SampleRate = static_cast<int>(f.SamplesPerSec);
    if (f.FormatTag == WAVE_FORMAT_PCM || f.FormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        h.Container = ContainerBytes(f, File);
        const bool wide = f.FormatTag == WAVE_FORMAT_IEEE_FLOAT || h.Container > 2;
        d.Format = wide ? TSampleFormat::Float32 : TSampleFormat::Int16;
        const int64_t frameBytes = int64_t(h.Container) * f.Channels;
        d.Frames = w.DataSize < 0 ? -1 : w.DataSize / frameBytes;
        d.DeclaredFrames = w.DeclaredDataSize < 0 ? -1 : w.DeclaredDataSize / frameBytes;
        d.Size = d.Frames < 0 ? -1 : d.Frames * f.Channels * (wide ? 4 : 2);
    } else {
        // Coded data: the layer must take the format; the data is only
        // looked at when it is decoded.
        if (w.BigEndian)
            throw VelmarException(TMotivo::FormatoNonSupportato, File, FormatName(ShownTag(f)) + " in RIFX");
        const TWaveFormatBuffer src = FormatBufferOf(w.Fmt);
        WAVEFORMATEX pcm{};
        if (acmFormatSuggest(nullptr, &src.Format, &pcm, sizeof pcm, 0) != MMSYSERR_NOERROR)
            throw VelmarException(TMotivo::FormatoNonSupportato, File, FormatName(ShownTag(f)));
        d.Format = pcm.wFormatTag == WAVE_FORMAT_IEEE_FLOAT ? TSampleFormat::Float32 : TSampleFormat::Int16;
        d.Frames = w.DataSize < 0 ? -1 : CodedFrames(w, f, w.DataSize);
        if (w.DataSize < 0)
            d.DeclaredFrames = w.FactFrames;
        else if (w.DeclaredDataSize > w.DataSize) // cut short: what the whole would have held
            d.DeclaredFrames = w.FactFrames >= 0 ? w.FactFrames : CodedFrames(w, f, w.DeclaredDataSize);
        else if (w.DataEndUnknown)
            d.DeclaredFrames = CodedFrames(w, f, w.DeclaredDataSize);
        else
            d.DeclaredFrames = d.Frames >= 0 && w.DeclaredDataSize >= 0 ? d.Frames : w.FactFrames;
        d.Size = d.Frames < 0 ? -1 : d.Frames * pcm.nBlockAlign;
    }
    if (w.DataEndUnknown) {
        const bool timed = d.Frames >= 0 && d.DeclaredFrames >= 0;
        d.Warnings.push_back(TestoMotivo(
            TMotivo::OltreDichiarato,
            timed ? Secondi(d.Frames, d.SampleRate) + " invece dei " + Secondi(d.DeclaredFrames, d.SampleRate) +
                        " dichiarati"
                  : std::to_string(w.DataSize) + " byte invece dei " + std::to_string(w.DeclaredDataSize) +
                        " dichiarati"));
    }
    const TWaveTagReader tags = ReadTagChunks(S, w.Tags, w.BigEndian);
    d.Tags = tags.Lines();
    d.Pictures = tags.Pictures();
    d.Cues = tags.Cues();
    return h;
}

TVelmarWaveIn::TVelmarWaveIn(TComponent* AOwner) : TVelmarSourceIn(AOwner) {}

TVelmarWaveIn::~TVelmarWaveIn()
{
    CheckNotRead();
    if (FOpenCount > 0) {
        FOpenCount = 1;
        CloseSource();
    }
}

TSourceDescription TVelmarWaveIn::Describe(TStream& S) { return LookAt(S, FFileName).Description; }

void TVelmarWaveIn::OpenSource()
{
    if (FOpenCount != 0) {
        ++FOpenCount;
        return;
    }
    try {
        THeader h;
        OpenLooked([&](TStream& S) {
            h = LookAt(S, FFileName);
            return h.Description;
        });
        FOpenEnded = FStream->Size() < 0;
        if (h.Container > 0)
            TakeHeader(h.Chunks, h.Format, h.Container);
        else if (!OpenDecoded(h.Chunks, h.Format))
            throw VelmarException(TMotivo::DatiDanneggiati, FFileName, FormatName(ShownTag(h.Format)));
        ReleasePipeHead(FStream); // only the audio is read from here on
        ++FOpenCount;
    } catch (...) {
        ReleaseStreams();
        throw;
    }
}

void TVelmarWaveIn::TakeHeader(const TWaveChunks& Chunks, const TWaveFormat& Fmt, int Container)
{
    FChan = Fmt.Channels;
    FSR = static_cast<int>(Fmt.SamplesPerSec);
    FContainer = Container;
    FFloatIn = Fmt.FormatTag == WAVE_FORMAT_IEEE_FLOAT;
    FBigEndian = Chunks.BigEndian;
    FOut = FFloatIn || Container > 2 ? TSampleFormat::Float32 : TSampleFormat::Int16;
    FBPS = FOut == TSampleFormat::Float32 ? 32 : 16;
    FFrameBytes = FBPS / 8 * FChan;
    const int64_t srcFrame = int64_t(Container) * FChan;
    const int64_t frames = Chunks.DataSize / srcFrame;
    FDataLeft = Chunks.DataSize < 0 ? INT64_MAX : frames * srcFrame;
    FSize = Chunks.DataSize < 0 ? -1 : frames * FFrameBytes;
    FSizeExact = true;
    const bool direct = Container == 2 && !FBigEndian;
    FRaw.assign(direct ? 0 : static_cast<size_t>((BlockSize / FFrameBytes) * srcFrame), 0);
    FStream->SetPosition(Chunks.DataPos);
}

// A coded file is decoded as it is read: the decoder pulls whole coded
// blocks from the stream and hands out frames in the codec's own format
// (16-bit, or float for MPEG).
bool TVelmarWaveIn::OpenDecoded(const TWaveChunks& Chunks, const TWaveFormat& Fmt)
{
    const TWaveFormatBuffer coded = FormatBufferOf(Chunks.Fmt);
    const int64_t fact = Chunks.FactFrames;
    auto decoder = std::make_unique<TVelmarWaveDecoder>();
    // Data to the end of a pipe: as much as any file could hold.
    const int64_t bytes = Chunks.DataSize < 0 ? int64_t(1) << 40 : Chunks.DataSize;
    if (decoder->Open(*FStream, Chunks.DataPos, bytes, &coded.Format, fact) != MMSYSERR_NOERROR)
        return false;
    const WAVEFORMATEX& pcm = decoder->PcmFormat();
    FChan = pcm.nChannels;
    FSR = static_cast<int>(pcm.nSamplesPerSec);
    FFloatIn = pcm.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    FContainer = FFloatIn ? 4 : 2;
    FBigEndian = false;
    FOut = FFloatIn ? TSampleFormat::Float32 : TSampleFormat::Int16;
    FBPS = FFloatIn ? 32 : 16;
    FFrameBytes = FBPS / 8 * FChan;
    FCodedTag = ShownTag(Fmt);
    FSize = Chunks.DataSize < 0 ? -1 : decoder->EstimatedFrames() * FFrameBytes;
    FSizeExact = decoder->TotalFrames() >= 0;
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

// Reads the next block of whole frames (of the data chunk only).
int TVelmarWaveIn::FillBlock()
{
    if (FDecoder)
        return FillDecoded();
    const int64_t srcFrame = int64_t(FContainer) * FChan;
    const bool direct = FRaw.empty();
    uint8_t* into = direct ? FBlock.data() : FRaw.data();
    const int64_t room = direct ? (BlockSize / FFrameBytes) * FFrameBytes : static_cast<int64_t>(FRaw.size());
    const int64_t want = std::min(room, FDataLeft);
    int64_t n = FStream->Read(into, want);
    // A file cut while it is read ends here, on a whole frame.
    FDataLeft = n < want ? 0 : FDataLeft - n;
    n -= n % srcFrame;
    if (direct)
        return static_cast<int>(n);
    const int64_t samples = n / FContainer;
    if (FBigEndian)
        Convert<true>(FRaw.data(), FBlock.data(), samples, FContainer, FFloatIn);
    else
        Convert<false>(FRaw.data(), FBlock.data(), samples, FContainer, FFloatIn);
    return static_cast<int>(samples * (FBPS / 8));
}

// The next decoded frames. An estimated Size follows the decoding and,
// once the data has ended, is what was handed out.
int TVelmarWaveIn::FillDecoded()
{
    int frames = 0;
    if (FDecoder->Read(FBlock.data(), BlockSize / FFrameBytes, frames) != MMSYSERR_NOERROR) {
        throw VelmarException(TMotivo::DatiDanneggiati, FFileName,
                              FormatName(FCodedTag) + " non decodificabile dopo " +
                                  Secondi(FDecoder->FramesRead(), FSR));
    }
    if (FDecoder->TotalFrames() < 0 && frames > 0) {
        if (Size() >= 0) // a pipe's length stays unknown until it ends
            FSize = FDecoder->EstimatedFrames() * FFrameBytes;
    } else if (FDecoder->TotalFrames() < 0) {
        FSize = FPosition.load();
        FSizeExact = true;
    }
    return frames * FFrameBytes;
}

int TVelmarWaveIn::ReadData(void* Buffer, int BufferSize)
{
    if (!FBusy)
        throw VelmarException("The Stream is not opened");
    if (BufStart > BufEnd) {
        BufStart = 1;
        // A decoded file ends where its decoder ends, whatever Size estimated.
        if (!FDecoder && Size() >= 0 && Position() >= Size()) {
            if (!FLoop)
                return 0;
            EndRead();
            BeginRead();
        }
        int n = FillBlock();
        if (n == 0) {
            if (FOpenEnded) // a pipe tells its length by ending
                FSize = Position();
            if (!FLoop)
                return 0;
            EndRead();
            BeginRead();
            n = FillBlock();
        }
        BufEnd = n;
    }
    return HandOut(FBlock.data(), Buffer, BufferSize);
}

} // namespace velmar
