// Arbitrary bytes as a coded WAVE file through the converter: load, suggest,
// convert, save, as the reader uses it.
#include "sources/WaveChunks.h"
#include "sources/WaveConverter.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    velmar::TMemoryStream stream;
    stream.Write(Data, static_cast<int64_t>(Size));
    stream.SetPosition(0);
    try {
        velmar::TVelmarWaveConverter converter;
        converter.LoadWave(stream);
        converter.TargetFormat.Format.wFormatTag = velmar::WAVE_FORMAT_PCM;
        if (velmar::acmFormatSuggest(nullptr, &converter.SourceFormat.Format, &converter.TargetFormat.Format,
                                     sizeof converter.TargetFormat, velmar::ACM_FORMATSUGGESTF_WFORMATTAG) != 0)
            return 0;
        if (converter.Convert() != 0)
            return 0;
        velmar::TMemoryStream image;
        converter.SaveWave(image);
    } catch (const velmar::Exception&) {
    }
    return 0;
}
