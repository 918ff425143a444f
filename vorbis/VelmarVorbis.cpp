#include "vorbis/VelmarVorbis.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

namespace velmar {

namespace VO = velmar::ogg;
namespace VC = velmar::Codec;
namespace VE = velmar::VorbisEnc;

void LoadCodecLibraries()
{
    ogg::Startup();
    Codec::Startup();
    VorbisEnc::Startup();
    VorbisFile::Startup();
}

void ReleaseCodecLibraries()
{
    VorbisFile::Shutdown();
    VorbisEnc::Shutdown();
    Codec::Shutdown();
    ogg::Shutdown();
}

// The codec records of one run; each is cleared only if it was initialised,
// in the order the libraries expect.
struct TVelmarVorbisOut::TCodecState {
    ogg_stream_state Stream{};
    ogg_page Page{};
    ogg_packet Packet{};
    vorbis_info Info{};
    vorbis_comment Comment{};
    vorbis_dsp_state Dsp{};
    vorbis_block Block{};
    bool HasInfo = false, HasComment = false, HasDsp = false, HasBlock = false, HasStream = false;

    ~TCodecState()
    {
        if (HasStream)
            VO::ogg_stream_clear(&Stream);
        if (HasBlock)
            VC::vorbis_block_clear(&Block);
        if (HasDsp)
            VC::vorbis_dsp_clear(&Dsp);
        if (HasComment)
            VC::vorbis_comment_clear(&Comment);
        if (HasInfo)
            VC::vorbis_info_clear(&Info);
    }
};

namespace {

// For each Vorbis channel, the WAVE channel it takes (Vorbis I, 4.3.9).
const int* VorbisOrder(int Channels)
{
    static const int c3[] = {0, 2, 1};
    static const int c5[] = {0, 2, 1, 3, 4};
    static const int c6[] = {0, 2, 1, 4, 5, 3};
    static const int c7[] = {0, 2, 1, 5, 6, 4, 3};
    static const int c8[] = {0, 2, 1, 6, 7, 4, 5, 3};
    switch (Channels) {
    case 3: return c3;
    case 5: return c5;
    case 6: return c6;
    case 7: return c7;
    case 8: return c8;
    default: return nullptr;
    }
}

bool IsRegularFile(const std::string& Path)
{
    struct stat st {};
    return ::lstat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

constexpr int FeedSlice = 1024;

// De-interleaves Frames frames of Ch samples of type T into the encoder's
// channel buffers, in Vorbis order, each sample through Scale.
template <class T, class F>
void Split(const uint8_t* Pcm, float** Buffers, int Frames, int Ch, const int* Order, F Scale)
{
    for (int v = 0; v < Ch; ++v) {
        float* out = Buffers[v];
        const uint8_t* in = Pcm + sizeof(T) * size_t(Order ? Order[v] : v);
        const size_t stride = sizeof(T) * size_t(Ch);
        for (int i = 0; i < Frames; ++i) {
            T x;
            std::memcpy(&x, in + stride * size_t(i), sizeof x);
            out[i] = Scale(x);
        }
    }
}

std::string NameOf(const std::string& Line)
{
    auto eq = Line.find('=');
    return eq == std::string::npos ? std::string() : Line.substr(0, eq);
}

} // namespace

TVelmarVorbisOut::TVelmarVorbisOut(TComponent* AOwner) : TVelmarStreamedOutput(AOwner)
{
    if (!VO::OggLibLoaded)
        throw VelmarException("ogg.dll library could not be loaded.");
    if (!VC::VorbisLibLoaded)
        throw VelmarException("vorbis.dll library could not be loaded.");
    if (!VorbisFile::VorbisFileLibLoaded)
        throw VelmarException("vorbisfile.dll library could not be loaded.");
    if (!VE::VorbisEncLibLoaded)
        throw VelmarException("vorbisenc.dll library could not be loaded.");
}

TVelmarVorbisOut::~TVelmarVorbisOut()
{
    // The worker's final step drains a run cut short by destruction.
    ShutdownThread();
    if (Busy()) {
        try {
            FinishOutput();
        } catch (const std::exception&) {
        }
    }
}

void TVelmarVorbisOut::CheckFormat(int Channels, int Rate) const
{
    if (Channels < 1 || Channels > 255)
        throw VelmarException("Cannot encode " + std::to_string(Channels) + " channels: Vorbis takes 1 to 255");
    if (Rate < 1)
        throw VelmarException("Cannot encode at a sample rate of " + std::to_string(Rate) + " Hz");
}

void TVelmarVorbisOut::SetUpEncoder(int Channels, int Rate)
{
    TCodecState& c = *FCodec;
    VC::vorbis_info_init(&c.Info);
    c.HasInfo = true;
    int rc = VE::vorbis_encode_init_vbr(&c.Info, Channels, Rate, FCompression);
    if (rc != 0)
        throw VelmarException("The Vorbis encoder refused " + std::to_string(Channels) + " channels at " +
                              std::to_string(Rate) + " Hz, quality " + std::to_string(FCompression) +
                              " (error " + std::to_string(rc) + ")");

    VC::vorbis_comment_init(&c.Comment);
    c.HasComment = true;
    for (const std::string& line : FComments) {
        const std::string name = NameOf(line);
        for (const std::string& other : FComments) {
            if (strcasecmp(NameOf(other).c_str(), name.c_str()) == 0) {
                const auto eq = other.find('=');
                const std::string value = eq == std::string::npos ? std::string() : other.substr(eq + 1);
                VC::vorbis_comment_add_tag(&c.Comment, name.c_str(), value.c_str());
                break;
            }
        }
    }

    if (VC::vorbis_analysis_init(&c.Dsp, &c.Info) != 0)
        throw VelmarException("The Vorbis encoder could not start");
    c.HasDsp = true;
    VC::vorbis_block_init(&c.Dsp, &c.Block);
    c.HasBlock = true;
    VO::ogg_stream_init(&c.Stream, FSerial);
    c.HasStream = true;
}

void TVelmarVorbisOut::WriteHeaders()
{
    TCodecState& c = *FCodec;
    ogg_packet ident, comment, setup;
    VC::vorbis_analysis_headerout(&c.Dsp, &c.Comment, &ident, &comment, &setup);
    VO::ogg_stream_packetin(&c.Stream, &ident);
    VO::ogg_stream_packetin(&c.Stream, &comment);
    VO::ogg_stream_packetin(&c.Stream, &setup);
    while (VO::ogg_stream_flush(&c.Stream, &c.Page) != 0)
        WritePage(c.Page);
}

void TVelmarVorbisOut::Discard()
{
    FDiscard = true;
    Stop();
}

void TVelmarVorbisOut::PrepareOutput()
{
    FDiscard = false;
    // Before anything can fail: the last run's flags would keep a failed
    // start's file from being removed.
    FEndOfStream = false;
    FComplete = false;
    try {
        if (!FStreamAssigned) {
            if (FFileName.empty())
                throw VelmarException("File name is not assigned.");
            FFileStream = TFileStream::CreateTemporaryFor(FFileName);
            SetTemporaryFileName(FFileStream->FileName());
            FStream = FFileStream.get();
        }
        Input()->BeginRead();
        FInputOpen = true;
        FChannels = Input()->GetChannels();
        FFormat = Input()->GetSampleFormat();
        const int rate = Input()->GetSampleRate();
        CheckFormat(FChannels, rate);
        FFrameBytes = FChannels * (FFormat == TSampleFormat::Float32 ? 4 : 2);
        FFramesFed = 0;
        FLastGranule = -1;
        const int64_t size = Input()->Size();
        FFramesExpected = size < 0 ? -1 : size / FFrameBytes;
        FCodec = std::make_unique<TCodecState>();
        SetUpEncoder(FChannels, rate);
        WriteHeaders();
    } catch (...) {
        // Nothing of a run that never started stays behind.
        ReleaseRun();
        throw;
    }
}

void TVelmarVorbisOut::WritePage(const ogg_page& Page)
{
    FStream->WriteBuffer(Page.header, Page.header_len);
    FStream->WriteBuffer(Page.body, Page.body_len);
}

// Hands Bytes of interleaved PCM to the encoder, whole frames only, 1024 at
// a time: how the first samples arrive shapes the first packet, and in
// slices of 1024 frames equal samples give packets equal to oggenc's
// (bench/run packets).
void TVelmarVorbisOut::Feed(int Bytes)
{
    const int frames = Bytes / FFrameBytes;
    if (frames == 0)
        return; // a dangling partial frame; 0 frames would end the stream
    const int* order = VorbisOrder(FChannels);
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, FeedSlice);
        const uint8_t* pcm = FPcm.data() + size_t(done) * size_t(FFrameBytes);
        float** buf = VC::vorbis_analysis_buffer(&FCodec->Dsp, n);
        if (FFormat == TSampleFormat::Float32)
            Split<float>(pcm, buf, n, FChannels, order, [](float v) { return v; });
        else
            Split<int16_t>(pcm, buf, n, FChannels, order, [](int16_t v) { return v / 32768.0f; });
        VC::vorbis_analysis_wrote(&FCodec->Dsp, n);
        done += n;
    }
    FFramesFed += frames;
}

// A whole run's stream must hold what the input declared and say so in its
// last page; a lost or invented block fails the file instead of passing
// unnoticed.
void TVelmarVorbisOut::CheckLength()
{
    const int64_t fed = FFramesFed;
    if (!FEndOfStream)
        throw VelmarException(TMotivo::LunghezzaErrata, FFileName, "manca l'ultima pagina del flusso");
    if (FLastGranule != fed)
        throw VelmarException(TMotivo::LunghezzaErrata, FFileName,
                              "l'ultima pagina indica " + std::to_string(FLastGranule) +
                                  " campioni per canale, codificati " + std::to_string(fed));
    // The input's Size at its end: the frames its rule makes of what the
    // source holds (an estimate only if the input never learnt better).
    const int64_t size = Input()->Size();
    const int64_t expected = size < 0 ? -1 : size / FFrameBytes;
    FFramesExpected = expected;
    if (expected >= 0 && Input()->SizeExact() && std::llabs(fed - expected) > 1)
        throw VelmarException(TMotivo::LunghezzaErrata, FFileName,
                              "codificati " + std::to_string(fed) + " campioni per canale su " +
                                  std::to_string(expected) + " attesi");
    FComplete = true;
}

// Writes every page the encoder has ready; sets the end-of-stream flag on the last.
void TVelmarVorbisOut::Drain()
{
    TCodecState& c = *FCodec;
    while (VC::vorbis_analysis_blockout(&c.Dsp, &c.Block) == 1) {
        VC::vorbis_analysis(&c.Block, nullptr);
        VC::vorbis_bitrate_addblock(&c.Block);
        while (VC::vorbis_bitrate_flushpacket(&c.Dsp, &c.Packet) == 1) {
            VO::ogg_stream_packetin(&c.Stream, &c.Packet);
            while (!FEndOfStream && VO::ogg_stream_pageout(&c.Stream, &c.Page) != 0) {
                WritePage(c.Page);
                FLastGranule = VO::ogg_page_granulepos(&c.Page);
                if (VO::ogg_page_eos(&c.Page))
                    FEndOfStream = true;
            }
        }
    }
}

bool TVelmarVorbisOut::OutputStep(bool Abort)
{
    if (!FActive)
        return true;
    ReportProgress();
    if (FEndOfStream)
        return false;
    if (Abort && FDiscard)
        return false;
    if (Abort) {
        // A stopped file still ends as a complete stream.
        VC::vorbis_analysis_wrote(&FCodec->Dsp, 0);
        Drain();
        FComplete = FEndOfStream;
        return false;
    }
    const int n = Input()->ReadData(FPcm.data(), PcmBufferSize);
    if (n > 0) {
        Feed(n);
        Drain();
    } else {
        VC::vorbis_analysis_wrote(&FCodec->Dsp, 0);
        Drain();
        CheckLength();
    }
    return true;
}

std::string TVelmarVorbisOut::TemporaryFileName() const
{
    std::lock_guard<std::mutex> g(FTempLock);
    return FTempName;
}

void TVelmarVorbisOut::SetTemporaryFileName(const std::string& Value)
{
    std::lock_guard<std::mutex> g(FTempLock);
    FTempName = Value;
}

// A complete stream is put on disk and takes the output's name; until then
// a file of that name, if any, is left as it was.
void TVelmarVorbisOut::FinishOutput()
{
    const std::string temp = FFileStream ? FFileStream->FileName() : std::string();
    std::exception_ptr failure;
    if (!temp.empty() && FComplete) {
        try {
            FFileStream->Flush();
        } catch (const std::exception&) {
            failure = std::current_exception();
        }
    }
    const bool complete = FComplete && !failure && !FDiscard;
    ReleaseRun();
    if (temp.empty())
        return;
    if (failure) {
        RemoveTemporary(temp);
        std::rethrow_exception(failure);
    }
    if (!complete || !FRenameWhenDone)
        return;
    if (std::rename(temp.c_str(), FFileName.c_str()) != 0) {
        const std::string reason = TestoErrno(errno);
        RemoveTemporary(temp);
        throw EStreamError(TMotivo::RinominaImpossibile, FFileName, reason);
    }
    SetTemporaryFileName({});
}

// Closes the file and the input and frees the codec state; safe to call on
// a partly prepared run. A run that failed or was not checked whole leaves
// no file behind.
void TVelmarVorbisOut::ReleaseRun()
{
    const std::string temp = FFileStream ? FFileStream->FileName() : std::string();
    FFileStream.reset();
    if (!FStreamAssigned)
        FStream = nullptr;
    if (FInputOpen) {
        FInputOpen = false;
        Input()->CancelRead();
    }
    FComments.clear();
    FCodec.reset();
    if (!temp.empty() && (!FComplete || FDiscard))
        RemoveTemporary(temp);
}

void TVelmarVorbisOut::RemoveTemporary(const std::string& Name)
{
    if (IsRegularFile(Name))
        std::remove(Name.c_str());
    SetTemporaryFileName({});
}

} // namespace velmar
