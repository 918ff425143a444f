// Arbitrary bytes as a coded WAVE file through the converter: load, suggest,
// convert, save, as a caller of the whole image does; and the same data
// streamed in small coded buffers, which must give exactly the same PCM.
#include "sources/WaveChunks.h"
#include "sources/WaveConverter.h"
#include "sources/WaveDecoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// The data chunk decoded in coded buffers of about 509 bytes (at least one
// block), read in odd pieces; false on a refusal.
bool Streamed(velmar::TStream& Stream, std::vector<uint8_t>& Pcm)
{
    const velmar::TWaveChunks chunks = velmar::WalkWaveChunks(Stream);
    if (!chunks.IsWave || !chunks.HasFmt || !chunks.HasData)
        return false;
    const velmar::TWaveFormatBuffer fmt = velmar::FormatBufferOf(chunks.Fmt);
    const uint32_t blockBytes = fmt.Format.wFormatTag == velmar::WAVE_FORMAT_MPEGLAYER3 || fmt.Format.nBlockAlign == 0
                                    ? 1
                                    : fmt.Format.nBlockAlign;
    velmar::TVelmarWaveDecoder decoder;
    if (decoder.Open(Stream, chunks.DataPos, chunks.DataSize, &fmt.Format,
                     chunks.FactFrames, nullptr, std::max(1u, 509 / blockBytes)) != 0)
        return false;
    const int frameBytes = decoder.PcmFormat().nBlockAlign;
    std::vector<uint8_t> piece(size_t(frameBytes) * 777);
    for (;;) {
        int frames = 0;
        if (decoder.Read(piece.data(), 777, frames) != 0)
            return false;
        if (frames == 0)
            break;
        Pcm.insert(Pcm.end(), piece.begin(), piece.begin() + frames * frameBytes);
    }
    // A length told before decoding is the length decoded.
    if (decoder.TotalFrames() >= 0 && decoder.TotalFrames() != decoder.FramesRead())
        std::abort();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    velmar::TMemoryStream stream;
    stream.Write(Data, static_cast<int64_t>(Size));
    stream.SetPosition(0);
    try {
        std::vector<uint8_t> streamed;
        const bool streamedOk = Streamed(stream, streamed);
        stream.SetPosition(0);
        velmar::TVelmarWaveConverter converter;
        converter.LoadWave(stream);
        // The reader's samples: the codec's own format.
        if (velmar::acmFormatSuggest(nullptr, &converter.SourceFormat.Format, &converter.TargetFormat.Format,
                                     sizeof converter.TargetFormat, 0) != 0)
            return 0;
        const bool converted = converter.Convert() == 0;
        // Piecewise and whole conversion agree, in the result and in every byte.
        if (converted != streamedOk || (converted && converter.Data() != streamed))
            std::abort();
        if (!converted)
            return 0;
        velmar::TMemoryStream image;
        converter.SaveWave(image);
    } catch (const velmar::Exception&) {
    }
    return 0;
}
