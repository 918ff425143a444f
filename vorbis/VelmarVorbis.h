// The Vorbis encoder output at the end of the chain.
#pragma once

#include "pipeline/VelmarClasses.h"
#include "vorbis/Codec.h"
#include "vorbis/VorbisEnc.h"
#include "vorbis/VorbisFile.h"
#include "vorbis/ogg.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace velmar {

// Loads the four codec libraries (once, at process start) and releases them.
void LoadCodecLibraries();
void ReleaseCodecLibraries();

// Pulls signed 16-bit PCM from Input, encodes it with libvorbis at quality
// Compression (quality-based VBR) and writes one Ogg logical stream with
// serial number Serial to FileName.
//
// Lifecycle: Run creates the file and writes the three header pages on the
// calling thread; the worker then encodes block by block; at the end (or
// after Stop) the encoder is drained and the last page carries the
// end-of-stream mark, so every file left behind is a complete stream.
// The stream is written to FileName + ".part" and renamed to FileName once
// complete and flushed, so a file of that name is replaced only by a whole
// new one.
// Failure: the constructor raises VelmarException when a codec library is
// missing. A failing run (bad format, encoder set-up refused, short write)
// reaches OnThreadException and removes the file it wrote; OnDone then does
// not fire, and a file already at FileName stays as it was.
// Channels: 1 to 255; 3 to 8 are reordered from WAVE to Vorbis order.
// Thread: as TVelmarOutput; do not touch the properties while Busy.
class TVelmarVorbisOut : public TVelmarStreamedOutput {
public:
    static constexpr int PcmBufferSize = 65536;
    static constexpr const char* PartSuffix = ".part";

    explicit TVelmarVorbisOut(TComponent* AOwner = nullptr);
    ~TVelmarVorbisOut() override;

    const TStringList& Comments() const { return FComments; }
    void SetComments(const TStringList& Value) { FComments = Value; }
    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& Value) { FFileName = Value; }
    int32_t Serial() const { return FSerial; }
    void SetSerial(int32_t Value) { FSerial = Value; }
    float Compression() const { return FCompression; }
    void SetCompression(float Value) { FCompression = Value; }

    // Ends the run like Stop, but what it wrote is removed instead of taking
    // FileName; a file already at FileName stays as it was. Any thread.
    void Discard();
    // False: a complete stream is left in its temporary file (PartName)
    // instead of being renamed to FileName, for the caller to finish (tag,
    // check) and rename. True by default.
    bool RenameWhenDone() const { return FRenameWhenDone; }
    void SetRenameWhenDone(bool Value) { FRenameWhenDone = Value; }
    // The temporary file of the last run; valid from Run until the next Run.
    std::string PartName() const;

protected:
    bool OutputStep(bool Abort) override;
    void FinishOutput() override;
    void PrepareOutput() override;

private:
    struct TCodecState;

    void CheckFormat(int Channels, int Rate) const;
    void SetUpEncoder(int Channels, int Rate);
    void WriteHeaders();
    void Feed(int Bytes);
    void Drain();
    void WritePage(const ogg_page& Page);
    void ReleaseRun();

    std::string FFileName;
    TStringList FComments;
    int32_t FSerial = 0;
    float FCompression = 0.4f;
    bool FEndOfStream = false;
    bool FRenameWhenDone = true;
    std::atomic<bool> FDiscard{false};
    mutable std::mutex FPartLock;
    std::string FPartName;
    int FChannels = 0;
    alignas(8) std::array<uint8_t, PcmBufferSize> FPcm{};
    std::unique_ptr<TCodecState> FCodec;        // for the length of a run
    std::unique_ptr<TFileStream> FFileStream;   // the file a run writes
    bool FInputOpen = false;
};

} // namespace velmar
