#include "sources/WaveConverter.h"

#include "sources/WaveChunks.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace velmar {

namespace {

// The four identifiers of the image, in the order they are written.
constexpr char kImageIds[] = "RIFFWAVEfmt data";

uint32_t LE32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The fact chunk's frame count, or -1. The walker does not report fact, so
// the chunks ahead of the data chunk (whose header starts at End) are
// walked here by their padded sizes.
int64_t ReadFactFrames(TStream& S, int64_t End)
{
    uint8_t hdr[8];
    for (int64_t pos = 12; pos + 8 <= End;) {
        S.SetPosition(pos);
        if (S.Read(hdr, 8) != 8)
            break;
        const uint32_t size = LE32(hdr + 4);
        if (std::memcmp(hdr, "fact", 4) == 0 && size >= 4) {
            uint8_t count[4];
            return S.Read(count, 4) == 4 ? int64_t(LE32(count)) : -1;
        }
        pos += 8 + int64_t(size) + (size & 1);
    }
    return -1;
}

// Closes the conversion on every path out of Convert.
class TStreamGuard {
public:
    ~TStreamGuard()
    {
        if (Handle)
            acmStreamClose(Handle, 0);
    }
    MMRESULT Close()
    {
        const MMRESULT r = acmStreamClose(Handle, 0);
        Handle = nullptr;
        return r;
    }
    HACMSTREAM Handle = nullptr;
};

} // namespace

TVelmarWaveConverter::TVelmarWaveConverter()
{
    acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &MaxFormatSize);
}

void TVelmarWaveConverter::LoadWave(TStream& Source)
{
    const TWaveChunks chunks = WalkWaveChunks(Source);
    // A big-endian (RIFX) format is not a WAVEFORMATEX: nothing is loaded.
    const bool wave = chunks.IsWave && !chunks.BigEndian;
    if (wave && chunks.HasFmt) {
        SourceFormat = {};
        const size_t n = std::min(chunks.Fmt.size(), sizeof SourceFormat);
        if (n > 0)
            std::memcpy(&SourceFormat, chunks.Fmt.data(), n);
        // The codec reads cbSize extra bytes: never more than were loaded
        // (none when the chunk ends inside the 18-byte header).
        SourceFormat.Format.cbSize = n >= sizeof(WAVEFORMATEX)
                                         ? static_cast<uint16_t>(std::min<size_t>(SourceFormat.Format.cbSize,
                                                                                  n - sizeof(WAVEFORMATEX)))
                                         : 0;
    }
    if (wave && chunks.HasData) {
        // DataSize is already clamped to the stream's end.
        Clear();
        SetSize(chunks.DataSize);
        Source.SetPosition(chunks.DataPos);
        SetSize(Source.Read(Memory(), chunks.DataSize));
        FHasData = true;
        FFactFrames = ReadFactFrames(Source, chunks.DataPos - 8);
    }
    SetPosition(0);
}

MMRESULT TVelmarWaveConverter::Convert()
{
    if (!FHasData || Size() > UINT32_MAX)
        return ACMERR_NOTPOSSIBLE;
    TStreamGuard stream;
    MMRESULT r = acmStreamOpen(&stream.Handle, nullptr, &SourceFormat.Format, &TargetFormat.Format,
                               nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
    if (r != MMSYSERR_NOERROR)
        return r;
    uint32_t estimate = 0;
    r = acmStreamSize(stream.Handle, static_cast<uint32_t>(Size()), &estimate, ACM_STREAMSIZEF_SOURCE);
    if (r != MMSYSERR_NOERROR)
        return r;

    // Left uninitialised: only the part the conversion fills is kept, and
    // untouched pages of a generous estimate cost no memory.
    auto pcm = std::make_unique_for_overwrite<uint8_t[]>(std::max<uint32_t>(estimate, 1));
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof header;
    header.pbSrc = Memory();
    header.cbSrcLength = static_cast<uint32_t>(Size());
    header.pbDst = pcm.get();
    header.cbDstLength = estimate;
    r = acmStreamPrepareHeader(stream.Handle, &header, 0);
    if (r != MMSYSERR_NOERROR)
        return r;
    r = acmStreamConvert(stream.Handle, &header, ACM_STREAMCONVERTF_BLOCKALIGN);
    const MMRESULT unprepared = acmStreamUnprepareHeader(stream.Handle, &header, 0);
    if (r != MMSYSERR_NOERROR)
        return r;
    if (unprepared != MMSYSERR_NOERROR)
        return unprepared;
    r = stream.Close();
    if (r != MMSYSERR_NOERROR)
        return r;

    // The fact chunk holds the true length; it may only drop the padding of
    // the last block, so a wrong count cannot cut real audio.
    uint64_t used = header.cbDstLengthUsed;
    const uint64_t frameBytes = TargetFormat.Format.nBlockAlign;
    const uint64_t frames = frameBytes ? used / frameBytes : 0;
    const uint64_t perBlock = AcmFramesPerBlock(&SourceFormat.Format);
    if (FFactFrames > 0 && uint64_t(FFactFrames) < frames && frames - uint64_t(FFactFrames) < perBlock)
        used = uint64_t(FFactFrames) * frameBytes;

    SourceFormat = TargetFormat;
    Clear();
    WriteBuffer(pcm.get(), static_cast<int64_t>(used));
    return MMSYSERR_NOERROR;
}

uint32_t TVelmarWaveConverter::SaveWave(TStream& Target)
{
    try {
        const int64_t own = Position();
        const int64_t length = Size();
        if (length > int64_t(UINT32_MAX) - 36)
            return SaveFailed;
        uint8_t head[44];
        std::memcpy(head, kImageIds, 4);
        Put32(head + 4, 0);
        std::memcpy(head + 8, kImageIds + 4, 8);
        Put32(head + 16, 16);
        std::memcpy(head + 20, &SourceFormat, 16);
        std::memcpy(head + 36, kImageIds + 12, 4);
        Put32(head + 40, static_cast<uint32_t>(length));
        Target.WriteBuffer(head, sizeof head);
        Target.WriteBuffer(Memory(), length);
        const int64_t riffSize = Target.Size() - 8;
        if (riffSize > int64_t(UINT32_MAX))
            return SaveFailed;
        Target.SetPosition(0);
        Target.WriteBuffer(kImageIds, 4);
        uint8_t size[4];
        Put32(size, static_cast<uint32_t>(riffSize));
        Target.WriteBuffer(size, 4);
        SetPosition(own);
        return 0;
    } catch (...) {
        return SaveFailed;
    }
}

} // namespace velmar
