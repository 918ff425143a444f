// The Vorbis encoder output at the end of the chain.
#pragma once

#include "pipeline/VelmarClasses.h"
#include "vorbis/Codec.h"
#include "vorbis/VorbisEnc.h"
#include "vorbis/VorbisFile.h"
#include "vorbis/VorbisMode.h"
#include "vorbis/VorbisTap.h"
#include "vorbis/ogg.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace velmar {

class TTemporaryHold;

// Loads the four codec libraries (once, at process start) and releases them.
void LoadCodecLibraries();
void ReleaseCodecLibraries();

// Pulls PCM from Input (signed 16-bit, or 32-bit float handed to libvorbis
// unchanged, beyond full scale too), encodes it with libvorbis at quality
// Compression (quality-based VBR) and writes one Ogg logical stream with
// serial number Serial to FileName. Mode chooses the bit rate instead of
// the quality alone; Downmix encodes a stereo input as mono, each sample the
// mean of the two channels (any other channel count fails the run with
// TMotivo::MonoSoloDaStereo).
//
// Lifecycle: Run creates the file and writes the three header pages on the
// calling thread; the worker then encodes block by block; at the end (or
// after Stop) the encoder is drained and the last page carries the
// end-of-stream mark, so every file left behind is a complete stream.
// The stream is written to a hidden file of its own in FileName's folder
// (TFileStream::CreateTemporaryFor; its name is TemporaryFileName while the
// run holds it) and renamed to FileName once complete and flushed, so a file
// of that name is replaced only by a whole new one, and two writers of one
// name each leave a whole stream (the last rename wins).
// Checked length: at the normal end of a run (not after Stop) the frames fed
// must equal the input's Size in frames within one frame, when that is known
// and exact (a rate converter's Size is its own exact count of what its
// input holds), and the last page's granule position must equal the frames
// fed; otherwise the run fails with TMotivo::LunghezzaErrata.
// Comments: written into the comment header as given, in order, each line
// NAME=value (a line that is not a Vorbis comment is left out); cleared at
// the end of every run.
// Failure: the constructor raises VelmarException (TMotivo::LibreriaMancante
// naming the file) when a codec library is missing. A failing run (bad format, encoder set-up refused, short write,
// wrong length) reaches OnThreadException and removes the file it wrote;
// OnDone then does not fire, and a file already at FileName stays as it was.
// Channels: 1 to 255; 3 to 8 are reordered from WAVE to Vorbis order.
// Thread: as TVelmarOutput; do not touch the properties while Busy. The
// counts and TemporaryFileName may be read from any thread.
class TVelmarVorbisOut : public TVelmarStreamedOutput {
public:
    static constexpr int PcmBufferSize = 65536;

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
    const TVorbisMode& Mode() const { return FMode; }
    void SetMode(const TVorbisMode& Value) { FMode = Value; }
    bool Downmix() const { return FDownmix; }
    void SetDownmix(bool Value) { FDownmix = Value; }
    // Sees every slice encoded; at the end of a kept stream (not Discard,
    // not a failure) its final comments replace their placeholders in the
    // header pages already written, in place: a written stream must be
    // seekable then. Not owned; null: none. Outlives the runs it is set for.
    void SetTap(TVorbisTap* Value) { FTap = Value; }

    // Ends the run like Stop, but what it wrote is removed instead of taking
    // FileName; a file already at FileName stays as it was. Any thread.
    void Discard();
    // False: a complete, checked stream is left in its temporary file
    // (TemporaryFileName) instead of being renamed to FileName, for the
    // caller to finish (tag, check) and rename. True by default.
    bool RenameWhenDone() const { return FRenameWhenDone; }
    void SetRenameWhenDone(bool Value) { FRenameWhenDone = Value; }
    // Frames handed to the encoder in the current or last run.
    int64_t FramesFed() const { return FFramesFed.load(); }
    // Frames the input declared for the run (its Size in frames, read again
    // at the end); -1 when it declared none.
    int64_t FramesExpected() const { return FFramesExpected.load(); }
    // The hidden file the run writes, while it exists; empty otherwise.
    std::string TemporaryFileName() const;
    // Without RenameWhenDone: what keeps the temporary file marked as being
    // written once the run has closed it (platform/TempFiles), so that no
    // sweep of stale files takes a part that waits for its name. The caller
    // keeps it until the part is renamed or removed; null when the run left
    // no file.
    std::shared_ptr<TTemporaryHold> PartHold() const;

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
    void CheckLength();
    void SetTemporaryFileName(const std::string& Value);
    void RemoveTemporary(const std::string& Name);
    void Drain();
    void WritePage(const ogg_page& Page);
    void FillPlaceholders();
    void ReleaseRun();

    std::string FFileName;
    TStringList FComments;
    int32_t FSerial = 0;
    float FCompression = 0.4f;
    TVorbisMode FMode;
    bool FDownmix = false;
    TVorbisTap* FTap = nullptr;
    struct THeaderPage {
        int64_t At;
        std::vector<uint8_t> Bytes;
    };
    std::vector<THeaderPage> FHeaderPages; // with a tap, for its placeholders
    bool FEndOfStream = false;
    bool FComplete = false; // the stream is whole (and checked): it takes FileName
    bool FRenameWhenDone = true;
    std::atomic<bool> FDiscard{false};
    int FChannels = 0;
    TSampleFormat FFormat = TSampleFormat::Int16;
    int FFrameBytes = 0;
    std::atomic<int64_t> FFramesFed{0};
    std::atomic<int64_t> FFramesExpected{-1};
    int64_t FLastGranule = -1; // of the last page written
    mutable std::mutex FTempLock;
    std::string FTempName;
    std::shared_ptr<TTemporaryHold> FPartHold; // a part's mark, for the caller to take
    alignas(8) std::array<uint8_t, PcmBufferSize> FPcm{};
    std::unique_ptr<TCodecState> FCodec;        // for the length of a run
    std::unique_ptr<TFileStream> FFileStream;   // the file a run writes
    bool FInputOpen = false;
};

} // namespace velmar
