// The compression-manager layer's decoder for MPEG layer 3, on libmpg123.
// Internal to the layer (platform/Msacm.h is its interface).
#pragma once

#include "platform/AcmFormats.h"

#include <memory>

namespace velmar::acm {

// MPEG layer 3 decoding carries state from one conversion to the next (the
// bit reservoir, a frame cut by the end of a buffer): libmpg123's feed
// decoder keeps it, from START (or the first conversion) to the stream's
// close. Thread: one thread at a time, as the handle it belongs to.
class TMpegDecoder {
public:
    TMpegDecoder();
    ~TMpegDecoder();
    TMpegDecoder(const TMpegDecoder&) = delete;
    TMpegDecoder& operator=(const TMpegDecoder&) = delete;

    // acmStreamConvert for an MPEG stream of Source's format: decodes until
    // the destination is full or the decoder wants more than the source
    // holds; source bytes are handed over only when the decoder asks, so
    // what is left unused is what the caller feeds again. Float: the
    // destination takes libmpg123's floats as they are, beyond full scale
    // too; otherwise 16-bit PCM, rounded and clipped.
    MMRESULT Convert(const TSource& Source, bool Float, ACMSTREAMHEADER& h, uint32_t Flags);

    struct TState; // the decoding stream, from its start to the next

private:
    std::unique_ptr<TState> FState;
};

} // namespace velmar::acm
