#include "sources/VelmarSndfile.h"

#include "platform/PipeStream.h"
#include "sources/AiffChunks.h"
#include "sources/FlacMetadata.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace velmar {

namespace {

constexpr int MaxChannels = 255;
constexpr int MaxSampleRate = 1000000;
constexpr int64_t Unbounded = int64_t(1) << 62;

enum { ReadShort, ReadInt, ReadFloat };

// What the header of an AIFF or FLAC stream tells before libsndfile reads it.
struct THeader {
    TSourceKind Kind = TSourceKind::Unknown;
    int64_t DeclaredFrames = -1;
    int64_t Length = -1; // the bytes libsndfile may look at (all but a pipe's)
    std::string Coding;  // AIFF-C's compression type, for a refusal
    TStringList Tags;
    std::vector<TPicture> Pictures;
};

THeader ReadHeader(TStream& S)
{
    THeader h;
    const bool open = S.Size() < 0;
    h.Length = open ? Unbounded : S.Size();
    const TFlacMetadata flac = ReadFlacMetadata(S);
    if (flac.IsFlac) {
        h.Kind = TSourceKind::Flac;
        h.DeclaredFrames = flac.TotalFrames;
        h.Tags = flac.Comments;
        h.Pictures = flac.Pictures;
        return h;
    }
    const TAiffChunks aiff = WalkAiffChunks(S);
    if (!aiff.IsAiff)
        return h;
    h.Kind = aiff.Compressed ? TSourceKind::AiffC : TSourceKind::Aiff;
    h.DeclaredFrames = aiff.CommFrames;
    h.Coding.assign(aiff.Compression, 4);
    // libsndfile looks for chunks after the sound data; in a pipe it must
    // find the end there, not read the audio to look.
    if (open && aiff.HasSound)
        h.Length = aiff.SoundEnd;
    const TWaveTagReader tags = ReadTagChunks(S, aiff.Tags, true);
    h.Tags = tags.Lines();
    h.Pictures = tags.Pictures();
    return h;
}

// The stream as libsndfile's virtual file: reads stop at Length, errors
// are kept for the caller (they must not cross libsndfile).
struct TVirtual {
    TStream* S = nullptr;
    int64_t Length = 0;
    int64_t Pos = 0;
    std::exception_ptr Error;
};

sf_count_t VioLength(void* U) { return static_cast<TVirtual*>(U)->Length; }

sf_count_t VioSeek(sf_count_t Offset, int Whence, void* U)
{
    auto* v = static_cast<TVirtual*>(U);
    const int64_t base = Whence == SEEK_SET ? 0 : Whence == SEEK_CUR ? v->Pos : v->Length;
    v->Pos = std::clamp<int64_t>(base + Offset, 0, Unbounded);
    return v->Pos;
}

sf_count_t VioRead(void* Ptr, sf_count_t Count, void* U)
{
    auto* v = static_cast<TVirtual*>(U);
    const int64_t n = std::min<int64_t>(Count, v->Length - v->Pos);
    if (n <= 0 || v->Error)
        return 0;
    try {
        v->S->SetPosition(v->Pos);
        const int64_t got = v->S->Read(Ptr, n);
        v->Pos += got;
        return got;
    } catch (...) {
        v->Error = std::current_exception();
        return 0;
    }
}

sf_count_t VioWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t VioTell(void* U) { return static_cast<TVirtual*>(U)->Pos; }

int ReadKind(int Format)
{
    switch (Format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32: return ReadInt;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE: return ReadFloat;
    default: return ReadShort;
    }
}

} // namespace

struct TVelmarSndfileIn::TFile {
    TVirtual Io;
    SF_VIRTUAL_IO Vio{VioLength, VioSeek, VioRead, VioWrite, VioTell};
    SF_INFO Info{};
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> Handle{nullptr, sf_close};
    THeader Header;

    // Opens S (from its start) as File; what libsndfile refuses is the reason.
    TFile(TStream& S, const std::string& File)
    {
        Header = ReadHeader(S);
        if (Header.Kind == TSourceKind::Unknown)
            throw VelmarException(TMotivo::FormatoSconosciuto, File);
        Io.S = &S;
        Io.Length = Header.Length;
        Handle.reset(sf_open_virtual(&Vio, SFM_READ, &Info, &Io));
        if (Io.Error)
            std::rethrow_exception(Io.Error);
        if (!Handle) {
            // libsndfile tells an unknown coding from a broken file by no code of its own.
            static const char* const codings[] = {"NONE", "twos", "sowt", "fl32", "FL32", "fl64", "FL64", "ulaw",
                                                  "ULAW", "alaw", "ALAW", "ima4", "GSM ", "raw ", "in24", "42ni",
                                                  "in32", "23ni"};
            if (Header.Kind == TSourceKind::AiffC &&
                std::find(std::begin(codings), std::end(codings), Header.Coding) == std::end(codings))
                throw VelmarException(TMotivo::FormatoNonSupportato, File, "AIFF-C \"" + Header.Coding + "\"");
            throw VelmarException(TMotivo::DatiDanneggiati, File,
                                  std::string("intestazione ") + KindName(Header.Kind) + " non leggibile");
        }
        if (Info.channels < 1 || Info.channels > MaxChannels)
            throw VelmarException(TMotivo::CanaliNonValidi, File, std::to_string(Info.channels));
        if (Info.samplerate < 1 || Info.samplerate > MaxSampleRate)
            throw VelmarException(TMotivo::FrequenzaNonValida, File, std::to_string(Info.samplerate));
        // Floats as they are: no clipping, no scaling.
        sf_command(Handle.get(), SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
        sf_command(Handle.get(), SFC_SET_CLIPPING, nullptr, SF_FALSE);
    }

    TSourceDescription Description() const
    {
        TSourceDescription d;
        d.Kind = Header.Kind;
        d.Channels = Info.channels;
        d.SampleRate = Info.samplerate;
        d.Format = ReadKind(Info.format) == ReadShort ? TSampleFormat::Int16 : TSampleFormat::Float32;
        // libsndfile counts "all there is" of a FLAC stream that says nothing.
        d.Frames = Info.frames >= 0 && Info.frames < Unbounded ? Info.frames : -1;
        d.DeclaredFrames = Header.DeclaredFrames;
        d.Size = d.Frames < 0 ? -1 : d.Frames * d.Channels * (d.Format == TSampleFormat::Int16 ? 2 : 4);
        d.Tags = Header.Tags;
        d.Pictures = Header.Pictures;
        return d;
    }
};

TVelmarSndfileIn::TVelmarSndfileIn(TComponent* AOwner) : TVelmarSourceIn(AOwner) {}

TVelmarSndfileIn::~TVelmarSndfileIn()
{
    CheckNotRead();
    ReleaseStreams();
}

TSourceDescription TVelmarSndfileIn::Describe(TStream& S) { return TFile(S, FFileName).Description(); }

void TVelmarSndfileIn::OpenSource()
{
    if (FOpenCount != 0) {
        ++FOpenCount;
        return;
    }
    try {
        TSourceDescription d;
        OpenLooked([&](TStream& S) {
            FFile = std::make_unique<TFile>(S, FFileName);
            return d = FFile->Description();
        });
        FChan = d.Channels;
        FSR = d.SampleRate;
        FBPS = d.Format == TSampleFormat::Float32 ? 32 : 16;
        FFrameBytes = FBPS / 8 * FChan;
        FRead = ReadKind(FFile->Info.format);
        FSize = d.Size;
        ReleasePipeHead(FStream); // only the audio is read from here on
        ++FOpenCount;
    } catch (...) {
        ReleaseStreams();
        throw;
    }
}

void TVelmarSndfileIn::ReleaseStreams()
{
    FFile.reset();
    if (!FStreamAssigned)
        FStream = nullptr;
    FFileStream.reset();
}

// The next block of whole frames, in the form handed out.
int TVelmarSndfileIn::FillBlock()
{
    SNDFILE* h = FFile->Handle.get();
    const sf_count_t frames = BlockSize / FFrameBytes;
    sf_count_t got;
    if (FRead == ReadShort) {
        got = sf_readf_short(h, reinterpret_cast<short*>(FBlock.data()), frames);
    } else if (FRead == ReadFloat) {
        got = sf_readf_float(h, reinterpret_cast<float*>(FBlock.data()), frames);
    } else {
        // Integers at full 32-bit scale (24-bit samples shifted up by 8):
        // over 2^31 as float, exactly what int24 / 2^23 gives.
        got = sf_readf_int(h, reinterpret_cast<int*>(FBlock.data()), frames);
        for (sf_count_t i = 0; i < got * FChan; ++i) {
            int32_t v;
            std::memcpy(&v, FBlock.data() + 4 * i, 4);
            const float f = static_cast<float>(v) / 2147483648.0f;
            std::memcpy(FBlock.data() + 4 * i, &f, 4);
        }
    }
    if (FFile->Io.Error)
        std::rethrow_exception(FFile->Io.Error);
    if (got == 0 && sf_error(h) != SF_ERR_NO_ERROR)
        throw VelmarException(TMotivo::DatiDanneggiati, FFileName,
                              std::string(KindName(FFile->Header.Kind)) + " non decodificabile dopo " +
                                  Secondi(Position() / FFrameBytes, FSR));
    return static_cast<int>(got * FFrameBytes);
}

int TVelmarSndfileIn::ReadData(void* Buffer, int BufferSize)
{
    if (!FBusy)
        throw VelmarException("The Stream is not opened");
    if (BufStart > BufEnd) {
        BufStart = 1;
        int n = FillBlock();
        if (n == 0) {
            // A source that held less than it said ends here all the same.
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
