#include "sources/WaveDecoder.h"

#include "sources/WaveChunks.h"

#include <algorithm>
#include <cstring>

namespace velmar {

namespace {

constexpr int64_t kPcmBytes = 65536;        // decoded frames waiting to be read
constexpr int64_t kMp3CodedBytes = 8192;    // MPEG frames have no fixed size: a plain byte count
constexpr int64_t kMaxCodedBytes = 1 << 20; // bounds a caller's block count

} // namespace

int64_t DecodedFrames(int64_t Bytes, int64_t BlockAlign, int64_t PerBlock, int64_t FactFrames)
{
    if (Bytes < 0 || BlockAlign <= 0 || PerBlock <= 0 || Bytes / BlockAlign > INT64_MAX / PerBlock)
        return -1;
    const int64_t frames = Bytes / BlockAlign * PerBlock;
    return FactFrames > 0 && FactFrames < frames && frames - FactFrames < PerBlock ? FactFrames : frames;
}

TVelmarWaveDecoder::~TVelmarWaveDecoder() { Close(); }

void TVelmarWaveDecoder::Close()
{
    if (FHandle)
        acmStreamClose(FHandle, 0);
    FHandle = nullptr;
}

MMRESULT TVelmarWaveDecoder::Open(TStream& Source, int64_t DataPos, int64_t DataSize, const WAVEFORMATEX* Format,
                                  int64_t FactFrames, const WAVEFORMATEX* Target, uint32_t CodedBlocks)
{
    if (FHandle || FSource || !Format || DataPos < 0 || DataSize < 0)
        return MMSYSERR_INVALPARAM;
    WAVEFORMATEX pcm{};
    if (Target) {
        std::memcpy(&pcm, Target, 16);
    } else {
        const MMRESULT r = acmFormatSuggest(nullptr, Format, &pcm, sizeof pcm, 0);
        if (r != MMSYSERR_NOERROR)
            return r;
    }
    MMRESULT r = acmStreamOpen(&FHandle, nullptr, Format, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
    if (r != MMSYSERR_NOERROR) {
        FHandle = nullptr;
        return r;
    }
    WAVEFORMATEX coded{};
    std::memcpy(&coded, Format, 16);
    FPcmFormat = pcm;
    FPcmFormat.cbSize = 0;
    FFrameBytes = pcm.nBlockAlign;
    FPerBlock = AcmFramesPerBlock(Format);
    const bool mp3 = coded.wFormatTag == WAVE_FORMAT_MPEGLAYER3;
    const int64_t blockBytes = mp3 ? 1 : coded.nBlockAlign;

    // Room for two blocks' frames at least: a whole block always fits beside
    // the frames the fact count holds back (fewer than a block's).
    const int64_t pcmFrames = std::max(kPcmBytes / FFrameBytes, 2 * FPerBlock);
    FPcm.resize(static_cast<size_t>(pcmFrames * FFrameBytes));
    int64_t blocks = CodedBlocks ? CodedBlocks : mp3 ? kMp3CodedBytes : std::max<int64_t>(1, pcmFrames / FPerBlock);
    blocks = std::clamp<int64_t>(blocks, 1, std::max<int64_t>(1, kMaxCodedBytes / blockBytes));
    FCoded.resize(static_cast<size_t>(blocks * blockBytes));

    FSource = &Source;
    FNextPos = DataPos;
    FLeft = DataSize;
    FDataSize = DataSize;
    FFact = FactFrames;
    FTrim = FactFrames > 0;
    if (!mp3)
        FTotal = DecodedFrames(DataSize, blockBytes, FPerBlock, FactFrames);
    r = Decode();
    if (r != MMSYSERR_NOERROR)
        Close();
    return r;
}

// Converts the next piece into the room after the frames still held.
MMRESULT TVelmarWaveDecoder::Decode()
{
    if (FPcmStart > 0) {
        std::memmove(FPcm.data(), FPcm.data() + FPcmStart, FPcmEnd - FPcmStart);
        FPcmEnd -= FPcmStart;
        FPcmStart = 0;
    }
    for (;;) {
        if (FCodedUsed == FCodedLen && FLeft > 0) {
            const int64_t want = std::min<int64_t>(FLeft, static_cast<int64_t>(FCoded.size()));
            FSource->SetPosition(FNextPos);
            const int64_t got = std::max<int64_t>(0, FSource->Read(FCoded.data(), want));
            FNextPos += got;
            // A stream shorter than its data chunk ends where its bytes end.
            FLeft = got < want ? 0 : FLeft - got;
            FCodedLen = static_cast<size_t>(got);
            FCodedUsed = 0;
        }
        ACMSTREAMHEADER h{};
        h.cbStruct = sizeof h;
        h.pbSrc = FCoded.data() + FCodedUsed;
        h.cbSrcLength = static_cast<uint32_t>(FCodedLen - FCodedUsed);
        h.pbDst = FPcm.data() + FPcmEnd;
        h.cbDstLength = static_cast<uint32_t>(FPcm.size() - FPcmEnd);
        uint32_t flags = ACM_STREAMCONVERTF_BLOCKALIGN;
        if (!FStarted)
            flags |= ACM_STREAMCONVERTF_START;
        if (FLeft == 0)
            flags |= ACM_STREAMCONVERTF_END;
        MMRESULT r = acmStreamPrepareHeader(FHandle, &h, 0);
        if (r != MMSYSERR_NOERROR)
            return r;
        r = acmStreamConvert(FHandle, &h, flags);
        const MMRESULT unprepared = acmStreamUnprepareHeader(FHandle, &h, 0);
        if (r != MMSYSERR_NOERROR)
            return r;
        if (unprepared != MMSYSERR_NOERROR)
            return unprepared;
        FStarted = true;
        FCodedUsed += h.cbSrcLengthUsed;
        FConsumed += h.cbSrcLengthUsed;
        FPcmEnd += h.cbDstLengthUsed;
        FDecoded += h.cbDstLengthUsed / FFrameBytes;
        if (h.cbDstLengthUsed > 0)
            return MMSYSERR_NOERROR;
        if (h.cbSrcLengthUsed > 0 || (FCodedUsed == FCodedLen && FLeft > 0))
            continue;
        if (FLeft == 0) {
            FEnded = true; // what is left, if anything, is a partial block
            return MMSYSERR_NOERROR;
        }
        return ACMERR_NOTPOSSIBLE; // no progress; the room above rules it out
    }
}

MMRESULT TVelmarWaveDecoder::Read(uint8_t* Out, int MaxFrames, int& Frames)
{
    Frames = 0;
    if (!FHandle)
        return MMSYSERR_INVALHANDLE;
    while (Frames < MaxFrames) {
        int64_t ready = static_cast<int64_t>(FPcmEnd - FPcmStart) / FFrameBytes;
        if (FTrim) {
            // Frames past the fact count wait until the end shows whether
            // they are only the last block's padding.
            const int64_t past = FDecoded - FFact;
            if (past >= FPerBlock)
                FTrim = false;
            else if (past > 0)
                ready -= std::min(ready, past);
        }
        if (ready > 0) {
            const int64_t n = std::min<int64_t>(ready, MaxFrames - Frames);
            std::memcpy(Out + Frames * FFrameBytes, FPcm.data() + FPcmStart, static_cast<size_t>(n * FFrameBytes));
            FPcmStart += static_cast<size_t>(n * FFrameBytes);
            FGiven += n;
            Frames += static_cast<int>(n);
            continue;
        }
        if (FEnded)
            break;
        const MMRESULT r = Decode();
        if (r != MMSYSERR_NOERROR)
            return r;
    }
    return MMSYSERR_NOERROR;
}

int64_t TVelmarWaveDecoder::EstimatedFrames() const
{
    if (FTotal >= 0)
        return FTotal;
    int64_t guess = -1;
    if (FFact > 0)
        guess = FFact;
    else if (FConsumed > 0)
        guess = static_cast<int64_t>(double(FDecoded) * double(FDataSize) / double(FConsumed));
    // A fact count is untrusted: no codec gives more than 24 frames a coded
    // byte (MPEG layer 3's smallest frame), plus one frame's samples.
    guess = std::min(guess, FDataSize * 24 + 1152);
    return std::max(guess, FDecoded);
}

} // namespace velmar
