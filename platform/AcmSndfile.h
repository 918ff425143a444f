// The compression-manager layer's decoder for every codec but MPEG: the
// coded blocks are handed to libsndfile as one WAVE stream. Internal to the
// layer (platform/Msacm.h is its interface).
#pragma once

#include "platform/AcmFormats.h"

#include <memory>

namespace velmar::acm {

// Lifecycle: made empty with its stream handle; the first conversion, and
// every one with ACM_STREAMCONVERTF_START, starts a new decoding stream.
// Thread: one thread at a time, as the handle it belongs to.
class TSndfileDecoder {
public:
    TSndfileDecoder();
    ~TSndfileDecoder();
    TSndfileDecoder(const TSndfileDecoder&) = delete;
    TSndfileDecoder& operator=(const TSndfileDecoder&) = delete;

    // acmStreamConvert for a stream of Source's format (never MPEG): whole
    // blocks go to the stream's image as long as the destination has room
    // for their frames, then a trailing partial block (not with BlockAlign)
    // once every whole one fitted; the decoder hands out what the
    // destination holds. Libsndfile opens once what it reads to open is
    // queued (or at END); should it ever want more than the queue holds,
    // the conversion is refused rather than fed made-up bytes. A stateless
    // codec starts a new image when one is used up.
    MMRESULT Convert(const TSource& Source, ACMSTREAMHEADER& h, uint32_t Flags);

    struct TState; // the decoding stream, from its start to the next

private:
    std::unique_ptr<TState> FState;
};

} // namespace velmar::acm
