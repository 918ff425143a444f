// Arbitrary bytes as a WAVE file through the reader: a whole read cycle.
#include "sources/VelmarWave.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    velmar::TMemoryStream stream;
    stream.Write(Data, static_cast<int64_t>(Size));
    velmar::TVelmarWaveIn wave;
    wave.SetStream(&stream);
    try {
        wave.BeginRead();
        uint8_t buf[65536];
        // Each call moves at most one block, so this bounds the run.
        for (int i = 0; i < 4096 && wave.ReadData(buf, sizeof buf) > 0; ++i) {
        }
        wave.EndRead();
    } catch (const velmar::Exception&) {
    }
    return 0;
}
