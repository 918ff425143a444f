// Decodes a coded WAVE stream (ADPCM, GSM, µ-law, MPEG layer 3, ...) to PCM
// in memory through the compression manager (platform/Msacm.h), and writes
// it out as a canonical 44-byte-header WAVE image. For callers that want the
// whole image; the reader decodes as it reads (sources/WaveDecoder.h).
//
// Use, in this order: construct; LoadWave(file stream); call
// acmFormatSuggest(nullptr, &SourceFormat.Format, &TargetFormat.Format,
// sizeof TargetFormat, 0) for the samples the reader hands out (16-bit PCM,
// 32-bit float for MPEG layer 3), or set TargetFormat's tag to PCM and pass
// ACM_FORMATSUGGESTF_WFORMATTAG for 16-bit PCM from every codec; Convert();
// SaveWave(empty stream); destroy. Not reused.
//
// The memory stream's content is the coded data after LoadWave and the PCM
// data after Convert. Sizes in the file are untrusted: nothing is allocated
// beyond what the file holds or what the codec can produce from it.
// Thread: one thread at a time.
#pragma once

#include "platform/Classes.h"
#include "platform/Msacm.h"
#include "sources/WaveDecoder.h"

#include <cstdint>

namespace velmar {

class TVelmarWaveConverter : public TMemoryStream {
public:
    // Asks the compression manager for MaxFormatSize; both formats start zeroed.
    TVelmarWaveConverter();

    // Reads the fmt, fact and data chunks of a RIFF/WAVE stream by walking
    // its chunk list from position 0. Not RIFF/WAVE (or RIFX): nothing is loaded
    // (SourceFormat stays zeroed). A data chunk that declares more than the
    // stream holds gives the bytes it holds. Stream errors propagate.
    void LoadWave(TStream& Source);

    // Converts the content from SourceFormat to TargetFormat, piece by
    // piece as TVelmarWaveDecoder does, so no estimate of the result's size
    // limits it. Returns 0, or the compression manager's code
    // (ACMERR_NOTPOSSIBLE when nothing was loaded); on failure the content
    // and formats are unchanged. On success the content is exactly the PCM
    // produced (trimmed to the fact chunk's count where that only drops the
    // last block's padding) and SourceFormat is the PCM format.
    MMRESULT Convert();

    // Writes "RIFF" header, a 16-byte fmt chunk from SourceFormat and the
    // content as the data chunk into an empty stream at position 0.
    // Returns 0, or SaveFailed when writing raises or the content is too
    // long for a RIFF size.
    uint32_t SaveWave(TStream& Target);

    static constexpr uint32_t SaveFailed = 286;

    uint32_t MaxFormatSize = 0;
    TWaveFormatBuffer SourceFormat{};
    TWaveFormatBuffer TargetFormat{};

private:
    bool FHasData = false;
    int64_t FFactFrames = -1; // -1: no fact chunk
};

} // namespace velmar
