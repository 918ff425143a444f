// The WAV file reader at the head of the encoder's chain.
#pragma once

#include "sources/VelmarSource.h"
#include "sources/WaveChunks.h"
#include "sources/WaveDecoder.h"

#include <array>
#include <exception>
#include <memory>
#include <mutex>

namespace velmar {

// What a WAVE file's header says, read once per file name.
using TWaveDescription = TSourceDescription;

// Reads a RIFF/WAVE file (RIFX, RF64 and BW64 too), or a stream handed in,
// and hands out its samples in blocks of at most 32768 bytes of whole frames.
//
// The chunk list is walked by size (sources/WaveChunks.h); exactly the data
// chunk's frames are handed out. 8- and 16-bit PCM (and narrower samples in
// 1- or 2-byte containers) come out as signed 16-bit; 24- and 32-bit PCM
// (and narrower samples in 3- or 4-byte containers) and IEEE float of 32 and
// 64 bits come out as 32-bit float at full scale 1.0, unclipped: int24 /
// 2^23, int32 / 2^31, float copied, double rounded to float. Coded formats
// (ADPCM, GSM, mu-law, ...) come out as 16-bit, MPEG layer 3 as its
// decoder's unclipped float, decoded block by block as they are read
// (sources/WaveDecoder.h), in constant memory;
// MPEG layer 3's Size is an estimate while it is read (its description's is
// -1; SizeExact is false) that follows the decoding and equals Position,
// exact, at the end: it never limits what is handed out.
//
// The description is kept as TVelmarSourceIn says.
//
// Failure: OpenSource (so BeginRead), Description and the format getters
// raise VelmarException with the file's name and a reason of
// platform/Motivi.h; a file that cannot be opened raises the file stream's
// EStreamError. A malformed tag chunk is never a failure: its tags are
// dropped. After a failure the source is closed and OpenCount is 0. Coded
// data found corrupt further in the file raises VelmarException
// (TMotivo::DatiDanneggiati) from ReadData.
// A stream of unknown length (a pipe, platform/PipeStream.h) is read up to
// its data only; its data ends where the stream ends when the header gives
// no size, and Size becomes what was handed out when the stream ends first.
// Thread: one read cycle at a time, from one thread.
class TVelmarWaveIn : public TVelmarSourceIn {
public:
    static constexpr int BlockSize = 32768;

    explicit TVelmarWaveIn(TComponent* AOwner = nullptr);
    ~TVelmarWaveIn() override;

    int ReadData(void* Buffer, int BufferSize) override;

protected:
    TSourceDescription Describe(TStream& S) override;
    void OpenSource() override;
    void ReleaseStreams() override;

private:
    struct THeader;
    static THeader LookAt(TStream& S, const std::string& File);
    void TakeHeader(const TWaveChunks& Chunks, const TWaveFormat& Fmt, int Container);
    bool OpenDecoded(const TWaveChunks& Chunks, const TWaveFormat& Fmt);
    int FillDecoded();
    int FillBlock();

    alignas(8) std::array<uint8_t, BlockSize> FBlock{};
    std::vector<uint8_t> FRaw;       // source bytes of one block, when they need converting
    int FContainer = 2;              // bytes per sample in the file
    bool FFloatIn = false;           // IEEE float samples
    bool FBigEndian = false;         // RIFX
    TSampleFormat FOut = TSampleFormat::Int16;
    int FFrameBytes = 2;             // bytes per frame handed out
    int64_t FDataLeft = 0;           // source data bytes not yet read in this cycle

    std::unique_ptr<TVelmarWaveDecoder> FDecoder; // a coded file's, while open
    uint16_t FCodedTag = 0;
    bool FOpenEnded = false;                     // the stream's length is not known (a pipe)
};

// The name of a format tag as a user reads it, with the tag:
// "ADPCM Yamaha (0x0020)", "formato sconosciuto (0x1234)".
std::string FormatName(uint16_t FormatTag);

} // namespace velmar
