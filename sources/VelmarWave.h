// The WAV file reader at the head of the encoder's chain.
#pragma once

#include "pipeline/VelmarClasses.h"
#include "sources/WaveChunks.h"
#include "sources/WaveDecoder.h"

#include <array>
#include <memory>

namespace velmar {

// Reads a RIFF/WAVE file (or a stream handed in) and hands out its samples
// as signed 16-bit PCM in blocks of at most 32768 bytes.
//
// The chunk list is walked by size; exactly the data chunk's bytes are
// handed out. PCM of 8, 16, 24 and 32 bits and IEEE float of 32 and 64 bits
// (plain or WAVE_FORMAT_EXTENSIBLE) are converted to 16 bits block by block,
// so the reader always reports 16 bits per sample and a Size in 16-bit bytes.
// Coded formats (ADPCM, GSM, mu-law, MPEG layer 3, ...) are decoded block
// by block as they are read (sources/WaveDecoder.h), in constant memory.
// Their Size is exact when the codec's layout gives it; for MPEG layer 3 it
// is an estimate that follows the decoding and equals Position at the end:
// it never limits what is handed out.
//
// Failure: OpenSource, and so BeginRead and the format getters, raise
// VelmarException naming the file and what is wrong with it; a file that
// cannot be opened raises the file stream's EStreamError. After a failure
// the source is closed and OpenCount is 0. Coded data found corrupt further
// in the file raises VelmarException (TMotivo::DatiDanneggiati) from
// ReadData.
// Thread: one read cycle at a time, from one thread.
class TVelmarWaveIn : public TVelmarFileIn {
public:
    static constexpr int BlockSize = 32768;

    explicit TVelmarWaveIn(TComponent* AOwner = nullptr);
    ~TVelmarWaveIn() override;

    int ReadData(void* Buffer, int BufferSize) override;

protected:
    void OpenSource() override;
    void CloseSource() override;

private:
    enum class TSampleKind { Int, Float };
    void TakeHeader(const TWaveChunks& Chunks, const TWaveFormat& Fmt);
    void CheckFormat(const TWaveFormat& Fmt) const;
    bool OpenDecoded(const TWaveChunks& Chunks, const TWaveFormat& Fmt);
    int FillDecoded();
    void ReleaseStreams();
    int FillBlock();
    [[noreturn]] void Fail(const std::string& What) const;
    std::string Describe() const;

    alignas(8) std::array<uint8_t, BlockSize> FBlock{};
    std::vector<uint8_t> FRaw;       // source bytes of one block, for widths other than 16
    int FSourceBytes = 2;            // bytes per sample in the file
    TSampleKind FKind = TSampleKind::Int;
    int FFrameBytes = 2;             // bytes per 16-bit frame handed out
    int64_t FDataLeft = 0;           // source data bytes not yet read in this cycle

    std::unique_ptr<TFileStream> FFileStream;    // opened by OpenSource
    std::unique_ptr<TVelmarWaveDecoder> FDecoder; // a coded file's, while open
    uint16_t FCodedTag = 0;
};

} // namespace velmar
