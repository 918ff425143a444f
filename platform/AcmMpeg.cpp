#include "platform/AcmMpeg.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace velmar::acm {

namespace {

struct Mpg123Deleter {
    void operator()(mpg123_handle* h) const { mpg123_delete(h); }
};

} // namespace

struct TMpegDecoder::TState {
    std::unique_ptr<mpg123_handle, Mpg123Deleter> Handle;
    std::vector<float> Scratch;
    std::vector<uint8_t> Slice; // source bytes taken, not yet a whole slice for the decoder
    uint64_t Fed = 0;     // source bytes handed to the decoder
    uint64_t Decoded = 0; // frames it gave
};

TMpegDecoder::TMpegDecoder() = default;
TMpegDecoder::~TMpegDecoder() = default;

namespace {

// Source bytes handed to the decoder at a time, at fixed offsets of the
// stream: libmpg123 resynchronises on corrupt data by what it has been fed
// so far, so feeding it as the caller's buffers come would make the audio
// of a damaged file depend on how the caller cuts it.
constexpr size_t kMp3Feed = 4096;
constexpr uint64_t kMp3ScratchFrames = 4608;  // four MPEG-1 frames

MMRESULT StartMp3(std::unique_ptr<TMpegDecoder::TState>& State, const TSource& S)
{
    static const int ready = mpg123_init(); // a no-op in current versions, required by older ones
    if (ready != MPG123_OK)
        return MMSYSERR_ERROR;
    auto m = std::make_unique<TMpegDecoder::TState>();
    int err = MPG123_OK;
    m->Handle.reset(mpg123_new(nullptr, &err));
    if (!m->Handle)
        return MMSYSERR_NOMEM;
    mpg123_handle* mh = m->Handle.get();
    // Never prints; trims the encoder's delay and padding when the stream
    // says how long they are; decodes at the declared rate only.
    if (mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0) != MPG123_OK ||
        mpg123_format_none(mh) != MPG123_OK ||
        mpg123_format(mh, static_cast<long>(S.Rate), MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32) !=
            MPG123_OK ||
        mpg123_open_feed(mh) != MPG123_OK)
        return ACMERR_NOTPOSSIBLE;
    m->Scratch.resize(kMp3ScratchFrames * S.Channels);
    State = std::move(m);
    return MMSYSERR_NOERROR;
}

// The stream must be what the header declares: no channel mixing or rate
// change by the decoder.
bool Mp3FormatAgrees(mpg123_handle* Mh, const TSource& S)
{
    long rate = 0;
    int channels = 0, encoding = 0;
    mpg123_frameinfo2 frame{};
    return mpg123_getformat(Mh, &rate, &channels, &encoding) == MPG123_OK && mpg123_info2(Mh, &frame) == MPG123_OK &&
           rate == long(S.Rate) && frame.rate == long(S.Rate) && channels == S.Channels &&
           encoding == MPG123_ENC_FLOAT_32;
}

} // namespace

MMRESULT TMpegDecoder::Convert(const TSource& Source, bool Float, ACMSTREAMHEADER& h, uint32_t Flags)
{
    h.cbSrcLengthUsed = 0;
    h.cbDstLengthUsed = 0;
    if ((Flags & ACM_STREAMCONVERTF_START) || !FState) {
        FState.reset();
        const MMRESULT r = StartMp3(FState, Source);
        if (r != MMSYSERR_NOERROR)
            return r;
    }
    TState& m = *FState;
    mpg123_handle* mh = m.Handle.get();
    const uint64_t ch = Source.Channels;
    const uint64_t frameBytes = ch * (Float ? sizeof(float) : 2);
    const uint64_t room = h.cbDstLength / frameBytes;
    uint64_t used = 0;
    uint64_t frames = 0;
    while (frames < room) {
        const uint64_t want = std::min(room - frames, kMp3ScratchFrames);
        size_t bytes = 0;
        const int r = mpg123_read(mh, m.Scratch.data(), want * ch * sizeof(float), &bytes);
        const uint64_t got = bytes / (ch * sizeof(float));
        if (Float)
            std::memcpy(h.pbDst + frames * frameBytes, m.Scratch.data(), got * frameBytes);
        else
            FloatsTo16(m.Scratch.data(), h.pbDst + frames * frameBytes, got * ch);
        frames += got;
        if (r == MPG123_OK)
            continue;
        if (r == MPG123_NEW_FORMAT) {
            if (!Mp3FormatAgrees(mh, Source))
                return ACMERR_NOTPOSSIBLE;
            continue;
        }
        if (r == MPG123_DONE)
            break;
        if (r != MPG123_NEED_MORE)
            return ACMERR_NOTPOSSIBLE;
        const size_t n = std::min<size_t>(kMp3Feed - m.Slice.size(), h.cbSrcLength - used);
        m.Slice.insert(m.Slice.end(), h.pbSrc + used, h.pbSrc + used + n);
        used += n;
        // The last slice may be short: it goes once the stream's end is given.
        const bool last = (Flags & ACM_STREAMCONVERTF_END) && used == h.cbSrcLength;
        if (m.Slice.empty() || (m.Slice.size() < kMp3Feed && !last))
            break;
        if (mpg123_feed(mh, m.Slice.data(), m.Slice.size()) != MPG123_OK)
            return ACMERR_NOTPOSSIBLE;
        m.Fed += m.Slice.size();
        m.Slice.clear();
    }
    m.Decoded += frames;
    // A stream that ends without one decodable frame is not MPEG audio.
    if ((Flags & ACM_STREAMCONVERTF_END) && used == h.cbSrcLength && m.Slice.empty() && m.Decoded == 0 &&
        m.Fed > 0)
        return ACMERR_NOTPOSSIBLE;
    h.cbSrcLengthUsed = static_cast<uint32_t>(used);
    h.cbDstLengthUsed = static_cast<uint32_t>(frames * frameBytes);
    return MMSYSERR_NOERROR;
}

} // namespace velmar::acm
