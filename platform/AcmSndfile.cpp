#include "platform/AcmSndfile.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace velmar::acm {

namespace {

// A WAVE image presented to libsndfile without copying the data: a small
// header followed by the caller's bytes (Data holds those from DataAt on).
struct TImage {
    std::vector<uint8_t> Head;
    const uint8_t* Data = nullptr;
    int64_t DataAt = 0;
    int64_t DataLen = 0;
    int64_t Length = 0; // the size the image claims
    int64_t Pos = 0;
    bool Starved = false; // a read stopped short of Length for want of bytes
};

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// An image whose data chunk declares Len bytes, the first of them at Data.
TImage MakeImage(const TSource& s, const uint8_t* Data, uint32_t Len)
{
    TImage im;
    const uint32_t fmtSize = static_cast<uint32_t>(s.Fmt.size());
    const uint32_t fmtPadded = fmtSize + (fmtSize & 1);
    im.Head.assign(20 + fmtPadded + 8, 0);
    uint8_t* h = im.Head.data();
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, 4 + 8 + fmtPadded + 8 + Len);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, fmtSize);
    std::memcpy(h + 20, s.Fmt.data(), fmtSize);
    std::memcpy(h + 20 + fmtPadded, "data", 4);
    Put32(h + 24 + fmtPadded, Len);
    im.Data = Data;
    im.DataAt = static_cast<int64_t>(im.Head.size());
    im.DataLen = Data ? Len : 0;
    im.Length = im.DataAt + Len;
    return im;
}

sf_count_t VioLength(void* u) { return static_cast<TImage*>(u)->Length; }

sf_count_t VioSeek(sf_count_t Offset, int Whence, void* u)
{
    auto* im = static_cast<TImage*>(u);
    const int64_t base = Whence == SEEK_SET ? 0 : Whence == SEEK_CUR ? im->Pos : im->Length;
    im->Pos = std::max<int64_t>(0, base + Offset);
    return im->Pos;
}

// Reads stop where the bytes at hand end.
sf_count_t VioRead(void* Ptr, sf_count_t Count, void* u)
{
    auto* im = static_cast<TImage*>(u);
    auto* out = static_cast<uint8_t*>(Ptr);
    sf_count_t done = 0;
    const int64_t head = static_cast<int64_t>(im->Head.size());
    while (done < Count && im->Pos < im->Length) {
        const uint8_t* from;
        int64_t left;
        if (im->Pos < head) {
            from = im->Head.data() + im->Pos;
            left = head - im->Pos;
        } else {
            const int64_t at = im->Pos - im->DataAt;
            if (at < 0 || at >= im->DataLen) {
                im->Starved = true;
                break;
            }
            from = im->Data + at;
            left = im->DataLen - at;
        }
        const int64_t n = std::min<int64_t>(left, Count - done);
        std::memcpy(out + done, from, static_cast<size_t>(n));
        done += n;
        im->Pos += n;
    }
    return done;
}

sf_count_t VioWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t VioTell(void* u) { return static_cast<TImage*>(u)->Pos; }

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using TSndfile = std::unique_ptr<SNDFILE, SndfileCloser>;

sf_count_t ReadShorts(SNDFILE* f, int16_t* Dst, sf_count_t Frames, uint16_t Ch, bool IsFloat)
{
    if (!IsFloat)
        return sf_readf_short(f, Dst, Frames);
    std::vector<float> fl(static_cast<size_t>(Frames) * Ch);
    const sf_count_t n = sf_readf_float(f, fl.data(), Frames);
    FloatsTo16(fl.data(), reinterpret_cast<uint8_t*>(Dst), static_cast<size_t>(std::max<sf_count_t>(n, 0)) * Ch);
    return n;
}

// Reads up to Frames frames into Dst. Libsndfile zero-fills its buffer past
// the end of the audio (and decodes a short last block as a whole one), so
// it reads into a scratch block and only real frames reach Dst.
uint64_t ReadFrames(SNDFILE* f, uint8_t* Dst, uint16_t Ch, uint64_t Frames, bool IsFloat)
{
    const uint64_t chunk = std::min<uint64_t>(Frames, 4096);
    std::vector<int16_t> scratch(chunk * Ch);
    const size_t frameBytes = Ch * sizeof(int16_t);
    uint64_t frames = 0;
    while (frames < Frames) {
        const sf_count_t n = ReadShorts(f, scratch.data(), static_cast<sf_count_t>(std::min(chunk, Frames - frames)),
                                        Ch, IsFloat);
        if (n <= 0)
            break;
        std::memcpy(Dst + frames * frameBytes, scratch.data(), static_cast<size_t>(n) * frameBytes);
        frames += static_cast<uint64_t>(n);
    }
    return frames;
}

} // namespace

// Libsndfile reads one image per stream: a WAVE header whose data chunk
// declares nearly 4 GiB, the bytes of which are queued as conversions bring
// them. It reads a block only when it needs its frames (and, while opening,
// the data's first bytes and first block), so it never reads past the
// queue: GSM's filter state goes on from one conversion to the next, and
// the data's first bytes are looked at once, as in a whole file.
struct TSndfileDecoder::TState {
    TImage Image;
    std::vector<uint8_t> Queue; // the image's data from Image.DataAt on
    uint64_t Pending = 0;       // frames of the queued blocks not handed out yet
    TSndfile File;
    bool IsFloat = false;
};

TSndfileDecoder::TSndfileDecoder() = default;
TSndfileDecoder::~TSndfileDecoder() = default;

namespace {

constexpr uint32_t kImageData = UINT32_MAX - 1024; // an image's data chunk, rounded down to blocks
constexpr size_t kOpenBytes = 4; // libsndfile looks at the data's first bytes, then reads its first block

std::unique_ptr<TSndfileDecoder::TState> NewSndState(const TSource& s)
{
    uint64_t blocks = kImageData / s.BlockBytes;
    // Libsndfile refuses an IMA ADPCM image of more than 2^31 frames; the
    // stateless codecs start a new image after 2^30 (hours of audio).
    if (s.Codec != TCodec::Gsm)
        blocks = std::min<uint64_t>(blocks, (uint64_t(1) << 30) / s.FramesPerBlock);
    auto st = std::make_unique<TSndfileDecoder::TState>();
    st->Image = MakeImage(s, nullptr, static_cast<uint32_t>(blocks * s.BlockBytes));
    return st;
}

bool OpenSndState(TSndfileDecoder::TState& St, const TSource& s)
{
    SF_VIRTUAL_IO vio{VioLength, VioSeek, VioRead, VioWrite, VioTell};
    SF_INFO info{};
    St.File.reset(sf_open_virtual(&vio, SFM_READ, &info, &St.Image));
    if (!St.File || info.channels != s.Channels || info.samplerate != static_cast<int>(s.Rate))
        return false;
    sf_command(St.File.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    St.IsFloat = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    return true;
}

// A trailing partial ADPCM block (these decode on their own) goes to an
// image of its own that declares just its bytes, so libsndfile decodes it
// as a short block: Frames (those the bytes hold) are real.
bool DecodePartial(const TSource& s, const uint8_t* Data, uint32_t Len, uint8_t* Dst, uint64_t Frames)
{
    TImage image = MakeImage(s, Data, Len);
    SF_VIRTUAL_IO vio{VioLength, VioSeek, VioRead, VioWrite, VioTell};
    SF_INFO info{};
    TSndfile f(sf_open_virtual(&vio, SFM_READ, &info, &image));
    return f && info.channels == s.Channels && ReadFrames(f.get(), Dst, s.Channels, Frames, false) == Frames &&
           sf_error(f.get()) == SF_ERR_NO_ERROR;
}

} // namespace

MMRESULT TSndfileDecoder::Convert(const TSource& s, ACMSTREAMHEADER& h, uint32_t Flags)
{
    h.cbSrcLengthUsed = 0;
    h.cbDstLengthUsed = 0;
    if ((Flags & ACM_STREAMCONVERTF_START) || !FState)
        FState = NewSndState(s);
    TState* st = FState.get();
    const uint64_t room = h.cbDstLength / (2u * s.Channels);
    const uint64_t whole = h.cbSrcLength / s.BlockBytes;
    const uint64_t rem = h.cbSrcLength % s.BlockBytes;
    uint64_t blocks = std::min<uint64_t>(whole, (room - std::min(room, st->Pending)) / s.FramesPerBlock);
    if (st->Image.DataAt + int64_t(st->Queue.size() + blocks * s.BlockBytes) > st->Image.Length) {
        if (s.Codec == TCodec::Gsm)
            return ACMERR_NOTPOSSIBLE;
        if (st->Pending == 0) {
            FState = NewSndState(s);
            st = FState.get();
        } else {
            blocks = 0; // the frames of this image first
        }
    }
    const uint64_t queued = blocks * s.BlockBytes;
    uint64_t partial = (Flags & ACM_STREAMCONVERTF_BLOCKALIGN) || blocks < whole ? 0 : PartialFrames(s, rem);
    if (room - std::min(room, st->Pending + blocks * s.FramesPerBlock) < partial)
        partial = 0;
    if (!BlocksIntact(s, h.pbSrc, queued + (partial > 0 ? rem : 0)))
        return ACMERR_NOTPOSSIBLE;
    TImage& im = st->Image;
    st->Queue.insert(st->Queue.end(), h.pbSrc, h.pbSrc + queued);
    st->Pending += blocks * s.FramesPerBlock;
    im.Data = st->Queue.data();
    im.DataLen = static_cast<int64_t>(st->Queue.size());
    uint64_t got = 0;
    if (!st->File && partial == 0 &&
        (st->Queue.empty() || (st->Queue.size() < kOpenBytes && !(Flags & ACM_STREAMCONVERTF_END)))) {
        h.cbSrcLengthUsed = static_cast<uint32_t>(queued);
        return MMSYSERR_NOERROR;
    }
    if (!st->File && !st->Queue.empty()) {
        if (!OpenSndState(*st, s) || im.Starved) {
            FState.reset();
            return ACMERR_NOTPOSSIBLE;
        }
    }
    if (st->File) {
        const uint64_t want = std::min(room, st->Pending);
        got = ReadFrames(st->File.get(), h.pbDst, s.Channels, want, st->IsFloat);
        // What libsndfile has read is gone from the queue.
        const int64_t read = std::clamp<int64_t>(im.Pos - im.DataAt, 0, im.DataLen);
        st->Queue.erase(st->Queue.begin(), st->Queue.begin() + read);
        im.DataAt += read;
        im.Data = st->Queue.data();
        im.DataLen = static_cast<int64_t>(st->Queue.size());
        st->Pending -= got;
        if (got != want || im.Starved || sf_error(st->File.get()) != SF_ERR_NO_ERROR)
            return ACMERR_NOTPOSSIBLE;
    }
    if (partial > 0 &&
        !DecodePartial(s, h.pbSrc + queued, static_cast<uint32_t>(rem), h.pbDst + got * 2 * s.Channels, partial))
        return ACMERR_NOTPOSSIBLE;
    h.cbSrcLengthUsed = static_cast<uint32_t>(queued + (partial > 0 ? rem : 0));
    h.cbDstLengthUsed = static_cast<uint32_t>((got + partial) * 2 * s.Channels);
    return MMSYSERR_NOERROR;
}

} // namespace velmar::acm
