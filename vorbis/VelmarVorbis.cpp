#include "vorbis/VelmarVorbis.h"

#include "platform/TempFiles.h"
#include "vorbis/OggPages.h"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
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

// Stereo frames of type T to one channel: the mean of the two, each sample
// through Scale first (as oggenc mixes, so the same samples give the same
// packets).
template <class T, class F>
void Mix(const uint8_t* Pcm, float* Out, int Frames, F Scale)
{
    for (int i = 0; i < Frames; ++i) {
        T l, r;
        std::memcpy(&l, Pcm + 2 * sizeof(T) * size_t(i), sizeof l);
        std::memcpy(&r, Pcm + 2 * sizeof(T) * size_t(i) + sizeof(T), sizeof r);
        Out[i] = (Scale(l) + Scale(r)) * 0.5f;
    }
}

// NAME=value with a name of printable ASCII but "=", as a Vorbis comment
// must be; the value is any bytes but NUL.
bool IsComment(const std::string& Line)
{
    const auto eq = Line.find('=');
    if (eq == 0 || eq == std::string::npos || Line.find('\0') != std::string::npos)
        return false;
    return std::all_of(Line.begin(), Line.begin() + long(eq), [](char c) { return c >= 0x20 && c <= 0x7D; });
}

} // namespace

TVelmarVorbisOut::TVelmarVorbisOut(TComponent* AOwner) : TVelmarStreamedOutput(AOwner)
{
    // The first missing one, in the order the libraries were always checked.
    if (!VO::OggLibLoaded)
        throw VelmarException(TMotivo::LibreriaMancante, {}, VO::LibraryFile());
    if (!VC::VorbisLibLoaded)
        throw VelmarException(TMotivo::LibreriaMancante, {}, VC::LibraryFile());
    if (!VorbisFile::VorbisFileLibLoaded)
        throw VelmarException(TMotivo::LibreriaMancante, {}, VorbisFile::LibraryFile());
    if (!VE::VorbisEncLibLoaded)
        throw VelmarException(TMotivo::LibreriaMancante, {}, VE::LibraryFile());
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
        throw VelmarException(TMotivo::CodificatoreRifiuta, {}, std::to_string(Channels) + " canali (da 1 a 255)");
    if (Rate < 1)
        throw VelmarException(TMotivo::CodificatoreRifiuta, {}, std::to_string(Rate) + " Hz");
    if (FDownmix && Channels != 2)
        throw VelmarException(TMotivo::MonoSoloDaStereo, {}, std::to_string(Channels));
}

namespace {

// What the user asked, for a refusal: "quality 4,5", "128 kbit/s".
std::string ModeText(const TVorbisMode& M, float Quality)
{
    if (M.QualitySet()) {
        std::string q = std::to_string(std::lround(double(Quality) * 1000.0) / 100.0);
        q.erase(q.find_last_not_of('0') + 1);
        if (q.back() == '.')
            q.pop_back();
        std::replace(q.begin(), q.end(), '.', ',');
        return "qualità " + q;
    }
    return std::to_string(M.Nominal > 0 ? M.Nominal : M.Maximum > 0 ? M.Maximum : M.Minimum) + " kbit/s";
}

} // namespace

// The set-up oggenc makes for the same options, call for call, so that the
// same samples give the same packets.
void TVelmarVorbisOut::SetUpEncoder(int Channels, int Rate)
{
    TCodecState& c = *FCodec;
    VC::vorbis_info_init(&c.Info);
    c.HasInfo = true;
    const TVorbisMode& m = FMode;
    const auto refused = [&](int Code) {
        return VelmarException(TMotivo::CodificatoreRifiuta, {},
                               std::to_string(Channels) + " canali a " + std::to_string(Rate) + " Hz, " +
                                   ModeText(m, FCompression) + " (errore " + std::to_string(Code) + ")");
    };
    int rc;
    if (m.QualitySet()) {
        rc = VE::vorbis_encode_setup_vbr(&c.Info, Channels, Rate, FCompression);
        if (rc != 0)
            throw refused(rc);
        if (m.Maximum > 0 || m.Minimum > 0) {
            // Hard limits on a quality: the manager needs the average the
            // quality gives, which only a full set-up tells.
            long nominal;
            {
                vorbis_info probe;
                VC::vorbis_info_init(&probe);
                VE::vorbis_encode_setup_vbr(&probe, Channels, Rate, FCompression);
                VE::vorbis_encode_setup_init(&probe);
                nominal = probe.bitrate_nominal;
                VC::vorbis_info_clear(&probe);
            }
            ovectl_ratemanage2_arg ai{};
            VE::vorbis_encode_ctl(&c.Info, OV_ECTL_RATEMANAGE2_GET, &ai);
            ai.bitrate_average_kbps = nominal / 1000;
            ai.bitrate_average_damping = 1.5;
            ai.bitrate_limit_reservoir_bits = nominal * 2;
            ai.bitrate_limit_reservoir_bias = .1;
            ai.bitrate_limit_min_kbps = m.Minimum;
            ai.bitrate_limit_max_kbps = m.Maximum;
            ai.management_active = 1;
            rc = VE::vorbis_encode_ctl(&c.Info, OV_ECTL_RATEMANAGE2_SET, &ai);
            if (rc != 0)
                throw refused(rc);
        }
    } else {
        rc = VE::vorbis_encode_setup_managed(&c.Info, Channels, Rate, m.Maximum > 0 ? m.Maximum * 1000L : -1,
                                             m.Nominal * 1000L, m.Minimum > 0 ? m.Minimum * 1000L : -1);
        if (rc != 0)
            throw refused(rc);
    }
    if (m.Managed && m.Nominal < 0) {
        ovectl_ratemanage2_arg ai{};
        VE::vorbis_encode_ctl(&c.Info, OV_ECTL_RATEMANAGE2_GET, &ai);
        ai.bitrate_average_kbps = -1;
        VE::vorbis_encode_ctl(&c.Info, OV_ECTL_RATEMANAGE2_SET, &ai);
    } else if (!m.Managed) {
        VE::vorbis_encode_ctl(&c.Info, OV_ECTL_RATEMANAGE2_SET, nullptr); // no management at all
    }
    rc = VE::vorbis_encode_setup_init(&c.Info);
    if (rc != 0)
        throw refused(rc);

    VC::vorbis_comment_init(&c.Comment);
    c.HasComment = true;
    // Verbatim and in order: a name may come more than once (two artists).
    for (const std::string& line : FComments)
        if (IsComment(line))
            VC::vorbis_comment_add(&c.Comment, line.c_str());

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
    FHeaderPages.clear();
    while (VO::ogg_stream_flush(&c.Stream, &c.Page) != 0) {
        if (FTap) {
            THeaderPage& p = FHeaderPages.emplace_back();
            p.At = FStream->Position();
            p.Bytes.assign(c.Page.header, c.Page.header + c.Page.header_len);
            p.Bytes.insert(p.Bytes.end(), c.Page.body, c.Page.body + c.Page.body_len);
        }
        WritePage(c.Page);
    }
}

// The tap's final comments over their placeholders, in the header pages on
// disk: the bytes are found in the pages' bodies (a comment may run over
// a page's end), replaced, and each page touched gets its checksum again.
void TVelmarVorbisOut::FillPlaceholders()
{
    std::vector<uint8_t> bodies;
    std::vector<std::pair<size_t, size_t>> where; // page, byte of the page, for each body byte
    for (size_t p = 0; p < FHeaderPages.size(); ++p) {
        const std::vector<uint8_t>& page = FHeaderPages[p].Bytes;
        const size_t head = OggPageHeaderSize + page[OggSegmentCountAt];
        for (size_t k = head; k < page.size(); ++k) {
            bodies.push_back(page[k]);
            where.emplace_back(p, k);
        }
    }
    std::vector<bool> touched(FHeaderPages.size(), false);
    for (const auto& [placeholder, text] : FTap->Final()) {
        if (text.size() != placeholder.size())
            continue;
        const auto found = std::search(bodies.begin(), bodies.end(), placeholder.begin(), placeholder.end());
        if (found == bodies.end())
            continue;
        const size_t at = size_t(found - bodies.begin());
        for (size_t k = 0; k < text.size(); ++k) {
            const auto [p, b] = where[at + k];
            FHeaderPages[p].Bytes[b] = static_cast<uint8_t>(text[k]);
            touched[p] = true;
        }
    }
    const int64_t end = FStream->Position();
    for (size_t p = 0; p < FHeaderPages.size(); ++p) {
        if (!touched[p])
            continue;
        std::vector<uint8_t>& page = FHeaderPages[p].Bytes;
        std::fill_n(page.begin() + OggChecksumAt, 4, uint8_t(0));
        const uint32_t crc = OggChecksumUpdate(0, page.data(), page.size());
        for (int i = 0; i < 4; ++i)
            page[size_t(OggChecksumAt + i)] = static_cast<uint8_t>(crc >> (8 * i));
        FStream->SetPosition(FHeaderPages[p].At);
        FStream->WriteBuffer(page.data(), static_cast<int64_t>(page.size()));
    }
    FStream->SetPosition(end);
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
            if (!FRenameWhenDone) {
                auto hold = std::make_shared<TTemporaryHold>(FFileStream->Handle());
                std::lock_guard<std::mutex> g(FTempLock);
                FPartHold = std::move(hold);
            }
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
        SetUpEncoder(FDownmix ? 1 : FChannels, rate);
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
        if (FDownmix && FFormat == TSampleFormat::Float32)
            Mix<float>(pcm, buf[0], n, [](float v) { return v; });
        else if (FDownmix)
            Mix<int16_t>(pcm, buf[0], n, [](int16_t v) { return v / 32768.0f; });
        else if (FFormat == TSampleFormat::Float32)
            Split<float>(pcm, buf, n, FChannels, order, [](float v) { return v; });
        else
            Split<int16_t>(pcm, buf, n, FChannels, order, [](int16_t v) { return v / 32768.0f; });
        if (FTap)
            FTap->Samples(buf, FDownmix ? 1 : FChannels, n);
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

std::shared_ptr<TTemporaryHold> TVelmarVorbisOut::PartHold() const
{
    std::lock_guard<std::mutex> g(FTempLock);
    return FPartHold;
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
    if (FTap && FComplete && !FDiscard && !FHeaderPages.empty()) {
        try {
            FillPlaceholders();
        } catch (const std::exception&) {
            failure = std::current_exception();
        }
    }
    if (!temp.empty() && FComplete && !failure) {
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
    SyncFolderOf(FFileName);
    SetTemporaryFileName({});
}

// Closes the file and the input and frees the codec state; safe to call on
// a partly prepared run. A run that failed or was not checked whole leaves
// no file behind.
void TVelmarVorbisOut::ReleaseRun()
{
    FHeaderPages.clear();
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
    std::lock_guard<std::mutex> g(FTempLock);
    FPartHold.reset();
}

} // namespace velmar
