// Audio compression manager: the subset of the msacm32 interface the WAVE
// decoding path uses.
//
// Coded WAVE data (described by a WAVEFORMATEX with its extra bytes) is
// decoded to samples of the same channels and rate, as a stream: one handle
// converts buffer after buffer. 16-bit PCM for every codec; MPEG layer 3
// also to 32-bit IEEE float at full scale 1.0, its decoder's own samples,
// unrounded and unclipped. Decoded: PCM (8/16/24/32 bits), IEEE
// float, WAVE_FORMAT_EXTENSIBLE with a PCM/float/µ-law/A-law subformat,
// µ-law, A-law, IMA ADPCM, MS ADPCM and GSM 6.10 on libsndfile, MPEG layer 3
// on libmpg123.
//
// Every format field is untrusted: a format whose fields do not agree with
// its codec is refused (ACMERR_NOTPOSSIBLE), never decoded into noise.
//
// Results: 0 (MMSYSERR_NOERROR) on success, one of the codes below otherwise.
// No function throws. Pointers to WAVEFORMATEX are read as bytes: the
// structure need not be aligned, and 18 + cbSize bytes must be readable
// (16 for a PCM format).
//
// Threads: any thread; one stream handle is used by one thread at a time.
#pragma once

#include <cstdint>

namespace velmar {

using MMRESULT = uint32_t;

// Opaque handles. A stream handle is given out by acmStreamOpen and owned by
// the layer until acmStreamClose; driver and object handles are always null.
struct HACMDRIVER__;
struct HACMOBJ__;
struct HACMSTREAM__;
using HACMDRIVER = HACMDRIVER__*;
using HACMOBJ = HACMOBJ__*;
using HACMSTREAM = HACMSTREAM__*;
struct WAVEFILTER; // filters are not supported: always pass nullptr

#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize; // extra bytes that follow the structure
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// cbStruct must be sizeof(ACMSTREAMHEADER) (a native-pointer layout, so not
// the 84 bytes of the 32-bit original).
struct ACMSTREAMHEADER {
    uint32_t cbStruct;
    uint32_t fdwStatus;
    uintptr_t dwUser;
    uint8_t* pbSrc;
    uint32_t cbSrcLength;
    uint32_t cbSrcLengthUsed; // set by acmStreamConvert
    uintptr_t dwSrcUser;
    uint8_t* pbDst;
    uint32_t cbDstLength;
    uint32_t cbDstLengthUsed; // set by acmStreamConvert: the bytes really produced
    uintptr_t dwDstUser;
    uint32_t dwReservedDriver[10];
};

// Format tags of the coded formats (PCM, IEEE float and extensible are in
// sources/WaveChunks.h).
enum : uint16_t {
    WAVE_FORMAT_ADPCM = 0x0002,
    WAVE_FORMAT_ALAW = 0x0006,
    WAVE_FORMAT_MULAW = 0x0007,
    WAVE_FORMAT_IMA_ADPCM = 0x0011,
    WAVE_FORMAT_GSM610 = 0x0031,
    WAVE_FORMAT_MPEGLAYER3 = 0x0055,
};

enum : uint32_t {
    ACM_METRIC_MAX_SIZE_FORMAT = 50,

    ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000,
    ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000,
    ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000,
    ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000,

    ACM_STREAMOPENF_QUERY = 0x00000001,
    ACM_STREAMOPENF_ASYNC = 0x00000002, // not supported
    ACM_STREAMOPENF_NONREALTIME = 0x00000004,

    ACM_STREAMSIZEF_SOURCE = 0x00000000,
    ACM_STREAMSIZEF_DESTINATION = 0x00000001, // not supported

    ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004,
    ACM_STREAMCONVERTF_START = 0x00000010,
    ACM_STREAMCONVERTF_END = 0x00000020,

    ACMSTREAMHEADER_STATUSF_DONE = 0x00010000,
    ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000,
};

enum : MMRESULT {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_ERROR = 1,
    MMSYSERR_INVALHANDLE = 5,
    MMSYSERR_NOMEM = 7,
    MMSYSERR_NOTSUPPORTED = 8,
    MMSYSERR_INVALFLAG = 10,
    MMSYSERR_INVALPARAM = 11,
    ACMERR_NOTPOSSIBLE = 512,
    ACMERR_BUSY = 513,
    ACMERR_UNPREPARED = 514,
};

// ACM_METRIC_MAX_SIZE_FORMAT with hao null: the size of the largest standard
// format structure the layer decodes (MS ADPCM's, 50 bytes), as a uint32_t at
// pMetric. Other metrics: not supported.
MMRESULT acmMetrics(HACMOBJ hao, uint32_t uMetric, void* pMetric);

// Fills pwfxDst (cbwfxDst >= 16 bytes; cbSize is written when it is >= 18)
// with what the source decodes to, of its channels and rate: 32-bit IEEE
// float for MPEG layer 3, 16-bit PCM for the others; with
// ACM_FORMATSUGGESTF_WFORMATTAG and a PCM tag in pwfxDst, 16-bit PCM for
// every codec. ACMERR_NOTPOSSIBLE when the source cannot be decoded or a
// fixed field (per the flags) of pwfxDst asks for something else.
MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst,
                          uint32_t cbwfxDst, uint32_t fdwSuggest);

// Opens a conversion from pwfxSrc to pwfxDst, which must be a format
// acmFormatSuggest gives for it (16-bit PCM, or float for MPEG layer 3).
// Both structures are copied. With
// ACM_STREAMOPENF_QUERY only checks, and phas may be null.
MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, WAVEFILTER* pwfltr, uintptr_t dwCallback,
                       uintptr_t dwInstance, uint32_t fdwOpen);

// ACM_STREAMSIZEF_SOURCE: an upper bound of the destination bytes cbInput
// coded bytes give (MPEG layer 3: the frames that start in them). ACMERR_NOTPOSSIBLE when that exceeds the codec's ratio bound or
// 32 bits.
MMRESULT acmStreamSize(HACMSTREAM has, uint32_t cbInput, uint32_t* pdwOutputBytes, uint32_t fdwSize);

// The header's buffers must stay put between prepare and unprepare.
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwPrepare);

// Converts the source buffer as the next piece of the stream and sets
// cbSrcLengthUsed (source bytes consumed) and cbDstLengthUsed (PCM bytes
// written). Consecutive calls with block-aligned buffers, START on the first
// and END on the last, give exactly the frames one call on all the data
// gives. A destination too small for the whole result loses nothing: what
// fits is converted and the rest of the source is left unused, to be passed
// again (a destination without room for one block's frames converts
// nothing).
// ADPCM, law and sample formats: blocks decode on their own; with
// ACM_STREAMCONVERTF_BLOCKALIGN a trailing partial block is left unused,
// without it the frames it holds are decoded once every whole block fitted.
// GSM 6.10 and MPEG layer 3 keep their decoder's state between calls, from
// START (or the first call) to the close. MPEG takes source bytes only as
// the decoder needs them (a frame cut by the end of a buffer is finished by
// the next call) and decodes them in slices at fixed offsets of the stream,
// so even a corrupt stream decodes alike however its buffers are cut; after
// END, call again with what is left (or nothing) until no bytes come out.
// ACMERR_NOTPOSSIBLE: corrupt data (ADPCM block headers are checked first),
// an MPEG stream of another rate or channel count than the format's, or one
// that reaches END without a single decodable frame; a GSM stream past
// 4 GiB of coded data; a decoder failure.
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwConvert);

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwUnprepare);

// Frees the handle; it is invalid afterwards (later calls: MMSYSERR_INVALHANDLE).
MMRESULT acmStreamClose(HACMSTREAM has, uint32_t fdwClose);

// --- Helpers beyond the msacm32 interface ---

// True when the layer decodes some formats with this tag (the fields of a
// particular format may still be refused). WAVE_FORMAT_EXTENSIBLE: true.
bool AcmTagDecodable(uint16_t FormatTag) noexcept;

// A short English name of a format tag ("IMA ADPCM"), or nullptr when unknown.
const char* AcmFormatTagName(uint16_t FormatTag) noexcept;

// PCM frames one coded block of the format gives (1 for sample formats), or
// 0 when the format is refused.
uint32_t AcmFramesPerBlock(const WAVEFORMATEX* pwfx) noexcept;

} // namespace velmar
