// Decodes the data chunk of a coded WAVE stream (ADPCM, GSM, µ-law, MPEG
// layer 3, ...) to PCM as it is read (16-bit; MPEG layer 3 to 32-bit float
// unless a 16-bit target is asked for), through the compression
// manager's stream conversion (platform/Msacm.h): buffers of whole coded
// blocks are pulled from the stream and converted one after another on one
// conversion stream, START on the first and END on the last. The buffers
// have fixed sizes, so what the decoder holds does not grow with the file.
//
// Length: every frame the codec gives from the whole blocks, except that a
// fact chunk's count trims the padding of the last block (a count below the
// decoded total by less than one block's frames), as the whole-file
// conversion always has; a trailing partial block is not decoded.
//
// Lifecycle: Open, then Read until it gives 0 frames. The stream stays the
// caller's and must outlive the decoder; every Read positions it itself.
// Failure: Open and Read return the compression manager's code (corrupt
// data found later in the file comes from Read); stream errors propagate.
// Thread: one thread at a time.
#pragma once

#include "platform/Classes.h"
#include "platform/Msacm.h"
#include "sources/WaveChunks.h"

#include <cstdint>
#include <vector>

namespace velmar {

// The frames the decoding of Bytes of data in blocks of BlockAlign bytes
// giving PerBlock frames each hands out: whole blocks, trimmed to a fact
// count (> 0) that only drops the last block's padding; -1 when the block
// layout says nothing (or the count would overflow).
int64_t DecodedFrames(int64_t Bytes, int64_t BlockAlign, int64_t PerBlock, int64_t FactFrames);

class TVelmarWaveDecoder {
public:
    TVelmarWaveDecoder() = default;
    ~TVelmarWaveDecoder();
    TVelmarWaveDecoder(const TVelmarWaveDecoder&) = delete;
    TVelmarWaveDecoder& operator=(const TVelmarWaveDecoder&) = delete;

    // Opens the conversion of the DataSize bytes at DataPos of Source, coded
    // as Format (a WAVEFORMATEX followed by its cbSize extra bytes) into
    // Target (nullptr: the codec's own format, as acmFormatSuggest gives it
    // without flags), and decodes
    // the first buffer, so data that cannot be decoded at all is refused
    // here. FactFrames: the fact chunk's count, or -1. CodedBlocks: the
    // blocks of one coded buffer (MPEG: bytes; 0: as many as fill the 64 KiB
    // of decoded frames the decoder holds, 8 KiB for MPEG). Called once.
    MMRESULT Open(TStream& Source, int64_t DataPos, int64_t DataSize, const WAVEFORMATEX* Format,
                  int64_t FactFrames, const WAVEFORMATEX* Target = nullptr, uint32_t CodedBlocks = 0);

    // Copies up to MaxFrames frames into Out; Frames is 0 at the end.
    MMRESULT Read(uint8_t* Out, int MaxFrames, int& Frames);

    // The PCM format handed out (valid after Open): 16-bit or 32-bit float.
    const WAVEFORMATEX& PcmFormat() const { return FPcmFormat; }
    // The frames Read gives in all, when the codec's layout tells it before
    // decoding (every format but MPEG layer 3); -1 otherwise.
    int64_t TotalFrames() const { return FTotal; }
    // TotalFrames when known; otherwise the fact count, or an extrapolation
    // from the coded bytes decoded so far. Never below the frames decoded.
    int64_t EstimatedFrames() const;
    // Frames handed out by Read so far.
    int64_t FramesRead() const { return FGiven; }

private:
    MMRESULT Decode();
    void Close();

    HACMSTREAM FHandle = nullptr;
    TStream* FSource = nullptr;
    WAVEFORMATEX FPcmFormat{};
    int64_t FFrameBytes = 0;
    int64_t FPerBlock = 1;     // PCM frames of one coded block
    int64_t FFact = -1;
    int64_t FTotal = -1;
    int64_t FDataSize = 0;
    int64_t FNextPos = 0;      // stream offset of the next coded byte to read
    int64_t FLeft = 0;         // coded bytes not read yet
    int64_t FConsumed = 0;     // coded bytes the conversion used
    int64_t FDecoded = 0;      // frames the conversion gave
    int64_t FGiven = 0;
    bool FStarted = false;
    bool FEnded = false;       // the conversion gives nothing more
    bool FTrim = false;        // the fact count may still cut the end
    std::vector<uint8_t> FCoded;
    size_t FCodedLen = 0;
    size_t FCodedUsed = 0;
    std::vector<uint8_t> FPcm;
    size_t FPcmStart = 0;
    size_t FPcmEnd = 0;
};

} // namespace velmar
