#include "platform/Msacm.h"

#include "platform/AcmFormats.h"
#include "platform/AcmMpeg.h"
#include "platform/AcmSndfile.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace velmar {

using namespace acm;

// The state behind a stream handle.
struct HACMSTREAM__ {
    struct Prepared {
        ACMSTREAMHEADER* Header;
        uint8_t* Src;
        uint32_t SrcLength;
        uint8_t* Dst;
        uint32_t DstLength;
    };
    acm::TSource Source;
    bool Float = false;        // the destination is 32-bit float (MPEG only)
    std::vector<Prepared> Headers;
    acm::TMpegDecoder Mpeg;    // MPEG layer 3
    acm::TSndfileDecoder Snd;  // every other codec

    Prepared* Find(ACMSTREAMHEADER* h)
    {
        for (Prepared& p : Headers)
            if (p.Header == h)
                return &p;
        return nullptr;
    }
};

namespace {

std::mutex& RegistryMutex()
{
    static std::mutex m;
    return m;
}

std::map<HACMSTREAM__*, std::unique_ptr<HACMSTREAM__>>& Registry()
{
    static std::map<HACMSTREAM__*, std::unique_ptr<HACMSTREAM__>> streams;
    return streams;
}

HACMSTREAM__* Lookup(HACMSTREAM has)
{
    std::lock_guard<std::mutex> lock(RegistryMutex());
    auto it = Registry().find(has);
    return it == Registry().end() ? nullptr : it->second.get();
}

bool HeaderUsable(const ACMSTREAMHEADER* h)
{
    return h && h->cbStruct >= sizeof(ACMSTREAMHEADER) && (h->pbSrc || h->cbSrcLength == 0) &&
           (h->pbDst || h->cbDstLength == 0);
}

// Runs Body, turning an escaping exception into a result code.
template <class F>
MMRESULT Guarded(F Body) noexcept
{
    try {
        return Body();
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    } catch (...) {
        return MMSYSERR_ERROR;
    }
}

} // namespace

MMRESULT acmMetrics(HACMOBJ hao, uint32_t uMetric, void* pMetric)
{
    if (uMetric != ACM_METRIC_MAX_SIZE_FORMAT)
        return MMSYSERR_NOTSUPPORTED;
    if (hao)
        return MMSYSERR_INVALHANDLE;
    if (!pMetric)
        return MMSYSERR_INVALPARAM;
    const uint32_t size = kMaxFormatSize;
    std::memcpy(pMetric, &size, sizeof size);
    return MMSYSERR_NOERROR;
}

MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst,
                          uint32_t cbwfxDst, uint32_t fdwSuggest)
{
    return Guarded([&]() -> MMRESULT {
        constexpr uint32_t known = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                                   ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
        if (had)
            return MMSYSERR_INVALHANDLE;
        if (fdwSuggest & ~known)
            return MMSYSERR_INVALFLAG;
        if (!pwfxSrc || !pwfxDst || cbwfxDst < 16)
            return MMSYSERR_INVALPARAM;
        TSource s;
        if (!Describe(pwfxSrc, s))
            return ACMERR_NOTPOSSIBLE;
        WAVEFORMATEX want{};
        std::memcpy(&want, pwfxDst, 16);
        // A fixed tag picks 16-bit PCM or the codec's own float; otherwise
        // the codec's own format.
        WAVEFORMATEX pcm = DecodedFor(s);
        if ((fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) && want.wFormatTag == kTagPcm)
            pcm = Pcm16For(s);
        if (((fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) && want.wFormatTag != pcm.wFormatTag) ||
            ((fdwSuggest & ACM_FORMATSUGGESTF_NCHANNELS) && want.nChannels != pcm.nChannels) ||
            ((fdwSuggest & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) && want.nSamplesPerSec != pcm.nSamplesPerSec) ||
            ((fdwSuggest & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && want.wBitsPerSample != pcm.wBitsPerSample))
            return ACMERR_NOTPOSSIBLE;
        std::memcpy(pwfxDst, &pcm, cbwfxDst >= sizeof pcm ? sizeof pcm : 16);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, WAVEFILTER* pwfltr, uintptr_t, uintptr_t,
                       uint32_t fdwOpen)
{
    return Guarded([&]() -> MMRESULT {
        if (fdwOpen & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME))
            return MMSYSERR_INVALFLAG;
        const bool query = fdwOpen & ACM_STREAMOPENF_QUERY;
        if (phas && !query)
            *phas = nullptr;
        if (had)
            return MMSYSERR_INVALHANDLE;
        if ((fdwOpen & ACM_STREAMOPENF_ASYNC) || pwfltr)
            return MMSYSERR_NOTSUPPORTED;
        if (!pwfxSrc || !pwfxDst || (!phas && !query))
            return MMSYSERR_INVALPARAM;
        auto stream = std::make_unique<HACMSTREAM__>();
        if (!Describe(pwfxSrc, stream->Source))
            return ACMERR_NOTPOSSIBLE;
        WAVEFORMATEX dst{};
        std::memcpy(&dst, pwfxDst, 16);
        if (!DestinationFits(stream->Source, dst))
            return ACMERR_NOTPOSSIBLE;
        stream->Float = dst.wFormatTag == kTagFloat;
        if (query)
            return MMSYSERR_NOERROR;
        std::lock_guard<std::mutex> lock(RegistryMutex());
        HACMSTREAM__* raw = stream.get();
        Registry().emplace(raw, std::move(stream));
        *phas = raw;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamSize(HACMSTREAM has, uint32_t cbInput, uint32_t* pdwOutputBytes, uint32_t fdwSize)
{
    return Guarded([&]() -> MMRESULT {
        HACMSTREAM__* s = Lookup(has);
        if (!s)
            return MMSYSERR_INVALHANDLE;
        if (fdwSize == ACM_STREAMSIZEF_DESTINATION)
            return MMSYSERR_NOTSUPPORTED;
        if (fdwSize != ACM_STREAMSIZEF_SOURCE)
            return MMSYSERR_INVALFLAG;
        if (!pdwOutputBytes)
            return MMSYSERR_INVALPARAM;
        const uint64_t frames = FramesFor(s->Source, cbInput);
        const uint64_t bytes = frames * s->Source.Channels * (s->Float ? 4 : 2);
        if (frames * s->Source.Channels * 2 > BoundFor(s->Source, cbInput) || bytes > UINT32_MAX)
            return ACMERR_NOTPOSSIBLE;
        *pdwOutputBytes = static_cast<uint32_t>(bytes);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwPrepare)
{
    return Guarded([&]() -> MMRESULT {
        HACMSTREAM__* s = Lookup(has);
        if (!s)
            return MMSYSERR_INVALHANDLE;
        if (fdwPrepare != 0)
            return MMSYSERR_INVALFLAG;
        if (!HeaderUsable(pash))
            return MMSYSERR_INVALPARAM;
        if (!s->Find(pash))
            s->Headers.push_back({pash, pash->pbSrc, pash->cbSrcLength, pash->pbDst, pash->cbDstLength});
        pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwConvert)
{
    return Guarded([&]() -> MMRESULT {
        HACMSTREAM__* s = Lookup(has);
        if (!s)
            return MMSYSERR_INVALHANDLE;
        if (fdwConvert & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
            return MMSYSERR_INVALFLAG;
        if (!HeaderUsable(pash))
            return MMSYSERR_INVALPARAM;
        const HACMSTREAM__::Prepared* p = s->Find(pash);
        if (!p || !(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
            return ACMERR_UNPREPARED;
        // Buffers may shrink after preparing, never move or grow.
        if (pash->pbSrc != p->Src || pash->pbDst != p->Dst || pash->cbSrcLength > p->SrcLength ||
            pash->cbDstLength > p->DstLength)
            return MMSYSERR_INVALPARAM;
        pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
        const MMRESULT r = s->Source.Codec == acm::TCodec::Mp3 ? s->Mpeg.Convert(s->Source, s->Float, *pash, fdwConvert)
                                                               : s->Snd.Convert(s->Source, *pash, fdwConvert);
        pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
        return r;
    });
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwUnprepare)
{
    return Guarded([&]() -> MMRESULT {
        HACMSTREAM__* s = Lookup(has);
        if (!s)
            return MMSYSERR_INVALHANDLE;
        if (fdwUnprepare != 0)
            return MMSYSERR_INVALFLAG;
        if (!pash)
            return MMSYSERR_INVALPARAM;
        const HACMSTREAM__::Prepared* p = s->Find(pash);
        if (!p)
            return ACMERR_UNPREPARED;
        if (pash->pbSrc != p->Src || pash->pbDst != p->Dst)
            return MMSYSERR_INVALPARAM;
        s->Headers.erase(s->Headers.begin() + (p - s->Headers.data()));
        pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamClose(HACMSTREAM has, uint32_t fdwClose)
{
    return Guarded([&]() -> MMRESULT {
        std::unique_ptr<HACMSTREAM__> gone;
        std::lock_guard<std::mutex> lock(RegistryMutex());
        auto it = Registry().find(has);
        if (it == Registry().end())
            return MMSYSERR_INVALHANDLE;
        if (fdwClose != 0)
            return MMSYSERR_INVALFLAG;
        gone = std::move(it->second);
        Registry().erase(it);
        return MMSYSERR_NOERROR;
    });
}

bool AcmTagDecodable(uint16_t FormatTag) noexcept
{
    switch (FormatTag) {
    case kTagPcm:
    case kTagFloat:
    case kTagExtensible:
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
    case WAVE_FORMAT_IMA_ADPCM:
    case WAVE_FORMAT_GSM610:
    case WAVE_FORMAT_MPEGLAYER3:
        return true;
    default:
        return false;
    }
}

const char* AcmFormatTagName(uint16_t FormatTag) noexcept
{
    switch (FormatTag) {
    case kTagPcm: return "PCM";
    case kTagFloat: return "IEEE float";
    case kTagExtensible: return "extensible";
    case WAVE_FORMAT_ADPCM: return "MS ADPCM";
    case WAVE_FORMAT_ALAW: return "A-law";
    case WAVE_FORMAT_MULAW: return "mu-law";
    case WAVE_FORMAT_IMA_ADPCM: return "IMA ADPCM";
    case WAVE_FORMAT_GSM610: return "GSM 6.10";
    case WAVE_FORMAT_MPEGLAYER3: return "MPEG layer 3";
    default: return nullptr;
    }
}

uint32_t AcmFramesPerBlock(const WAVEFORMATEX* pwfx) noexcept
{
    try {
        TSource s;
        return Describe(pwfx, s) ? s.FramesPerBlock : 0;
    } catch (...) {
        return 0;
    }
}

} // namespace velmar
