// The WAV file reader at the head of the encoder's chain.
#pragma once

#include "pipeline/VelmarClasses.h"
#include "sources/Pictures.h"
#include "sources/WaveChunks.h"
#include "sources/WaveDecoder.h"

#include <array>
#include <exception>
#include <memory>
#include <mutex>

namespace velmar {

// What a WAVE file's header says, read once per file name.
struct TWaveDescription {
    int Channels = 0;
    int SampleRate = 0;
    TSampleFormat Format = TSampleFormat::Int16;   // what ReadData hands out
    int64_t Size = -1;           // bytes one read cycle hands out; -1 when not known before decoding
    int64_t Frames = -1;         // frames the file holds (what will be handed out); -1 when not known
    int64_t DeclaredFrames = -1; // frames the header declares (data size or fact); -1 when it declares none
                                 // (0xFFFFFFFF, 0 with bytes after, streaming writers); > Frames: cut short
    std::vector<TPicture> Pictures; // the ID3 chunks' attached pictures
    std::vector<TCuePoint> Cues;  // cue points, named by LIST/adtl labl entries
    TStringList Tags;            // "NAME=value" lines, valid UTF-8, in the order TITLE, ARTIST, ALBUM,
                                 // TRACKNUMBER, DATE, GENRE (only those present)
    TStringList Warnings;        // what the user is told of the file though it encodes, each a reason of
                                 // platform/Motivi.h following its quoted name (the truncation is left
                                 // to DeclaredFrames)
};

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
// The description (and so every format getter) is read once per file name
// or stream set, without decoding, and kept; BeginRead parses what it opens
// again and replaces it, so a file changed on disk in between is read as it
// now is. The getters and Description may be called from any thread; the
// file name and stream are set while no other thread uses the reader.
//
// Failure: OpenSource (so BeginRead), Description and the format getters
// raise VelmarException with the file's name and a reason of
// platform/Motivi.h; a file that cannot be opened raises the file stream's
// EStreamError. A malformed tag chunk is never a failure: its tags are
// dropped. After a failure the source is closed and OpenCount is 0. Coded
// data found corrupt further in the file raises VelmarException
// (TMotivo::DatiDanneggiati) from ReadData.
// Thread: one read cycle at a time, from one thread.
class TVelmarWaveIn : public TVelmarFileIn {
public:
    static constexpr int BlockSize = 32768;

    explicit TVelmarWaveIn(TComponent* AOwner = nullptr);
    ~TVelmarWaveIn() override;

    // The description of FileName (or the stream handed in), read at the
    // first call after the name was set and kept; raises what BeginRead
    // would raise for a file it cannot read. Any thread.
    TWaveDescription Description();

    int GetBitsPerSample() override;
    int GetChannels() override;
    int GetSampleRate() override;
    int GetTotalTime() override;
    TSampleFormat GetSampleFormat() override;
    int ReadData(void* Buffer, int BufferSize) override;

protected:
    void OpenSource() override;
    void CloseSource() override;
    void SourceChanged() override;

private:
    struct THeader;
    static THeader LookAt(TStream& S, const std::string& File);
    std::shared_ptr<const TWaveDescription> Look();
    void TakeHeader(const TWaveChunks& Chunks, const TWaveFormat& Fmt, int Container);
    bool OpenDecoded(const TWaveChunks& Chunks, const TWaveFormat& Fmt);
    int FillDecoded();
    void ReleaseStreams();
    int FillBlock();

    alignas(8) std::array<uint8_t, BlockSize> FBlock{};
    std::vector<uint8_t> FRaw;       // source bytes of one block, when they need converting
    int FContainer = 2;              // bytes per sample in the file
    bool FFloatIn = false;           // IEEE float samples
    bool FBigEndian = false;         // RIFX
    TSampleFormat FOut = TSampleFormat::Int16;
    int FFrameBytes = 2;             // bytes per frame handed out
    int64_t FDataLeft = 0;           // source data bytes not yet read in this cycle

    std::unique_ptr<TFileStream> FFileStream;    // opened by OpenSource
    std::unique_ptr<TVelmarWaveDecoder> FDecoder; // a coded file's, while open
    uint16_t FCodedTag = 0;

    std::mutex FLookLock;                        // guards the two below and a look at the stream
    std::shared_ptr<const TWaveDescription> FLook;
    std::exception_ptr FLookError;
};

// The name of a format tag as a user reads it, with the tag:
// "ADPCM Yamaha (0x0020)", "formato sconosciuto (0x1234)".
std::string FormatName(uint16_t FormatTag);

} // namespace velmar
