#include "sources/WaveConverter.h"

#include "sources/WaveChunks.h"

#include <cstring>
#include <vector>

namespace velmar {

namespace {

// The four identifiers of the image, in the order they are written.
constexpr char kImageIds[] = "RIFFWAVEfmt data";

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

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
    if (wave && chunks.HasFmt)
        SourceFormat = FormatBufferOf(chunks.Fmt);
    if (wave && chunks.HasData) {
        // DataSize is already clamped to the stream's end.
        Clear();
        SetSize(chunks.DataSize);
        Source.SetPosition(chunks.DataPos);
        SetSize(Source.Read(Memory(), chunks.DataSize));
        FHasData = true;
        FFactFrames = chunks.FactFrames;
    }
    SetPosition(0);
}

MMRESULT TVelmarWaveConverter::Convert()
{
    if (!FHasData)
        return ACMERR_NOTPOSSIBLE;
    TVelmarWaveDecoder decoder;
    MMRESULT r = decoder.Open(*this, 0, Size(), &SourceFormat.Format, FFactFrames, &TargetFormat.Format);
    if (r != MMSYSERR_NOERROR)
        return r;
    const int frameBytes = decoder.PcmFormat().nBlockAlign;
    std::vector<uint8_t> pcm;
    std::vector<uint8_t> piece(65536);
    for (;;) {
        int frames = 0;
        r = decoder.Read(piece.data(), static_cast<int>(piece.size()) / frameBytes, frames);
        if (r != MMSYSERR_NOERROR)
            return r;
        if (frames == 0)
            break;
        pcm.insert(pcm.end(), piece.begin(), piece.begin() + int64_t(frames) * frameBytes);
    }
    SourceFormat = TargetFormat;
    Clear();
    WriteBuffer(pcm.data(), static_cast<int64_t>(pcm.size()));
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
