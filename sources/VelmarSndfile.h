// The reader of AIFF, AIFF-C and FLAC files, through libsndfile.
#pragma once

#include "sources/VelmarSource.h"

#include <array>
#include <memory>

namespace velmar {

// Reads an AIFF, AIFF-C or FLAC file, or a stream handed in (a pipe too),
// and hands out its samples in blocks of at most 32768 bytes of whole
// frames, decoded by libsndfile as they are read, in constant memory.
//
// Samples: up to 16 bits (and the coded AIFF-C formats) come out as signed
// 16-bit; wider integers as 32-bit float at full scale 1.0 (int24 / 2^23,
// exact), float and double as float, unclipped.
// Tags (Description): AIFF's NAME, AUTH, "(c) ", ANNO and ID3 chunks
// (sources/WaveTags.h); FLAC's Vorbis comments as stored, read from its
// metadata blocks by the program itself.
// Length: Frames is libsndfile's count (-1 when a FLAC stream does not
// say); DeclaredFrames the COMM chunk's or STREAMINFO's. A source that ends
// before its Size makes Size what was handed out.
// Failure: as TVelmarWaveIn: VelmarException naming the file with a reason
// of platform/Motivi.h (content libsndfile cannot open, a coding it does
// not read, data it cannot decode further in the stream, from ReadData),
// EStreamError for a file that cannot be opened.
// Thread: one read cycle at a time, from one thread; Description and the
// getters from any.
class TVelmarSndfileIn : public TVelmarSourceIn {
public:
    static constexpr int BlockSize = 32768;

    explicit TVelmarSndfileIn(TComponent* AOwner = nullptr);
    ~TVelmarSndfileIn() override;

    int ReadData(void* Buffer, int BufferSize) override;

protected:
    TSourceDescription Describe(TStream& S) override;
    void OpenSource() override;
    void ReleaseStreams() override;

    struct TFile; // libsndfile's handle over the stream

private:
    int FillBlock();

    alignas(8) std::array<uint8_t, BlockSize> FBlock{};
    int FFrameBytes = 2;
    int FRead = 0; // what the file is read as: 16-bit, 32-bit integers or floats
    std::unique_ptr<TFile> FFile;
};

} // namespace velmar
