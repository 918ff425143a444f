// The head of the encoder's chain, whatever the file: one factory that
// recognises a source by its first bytes and makes its reader.
#pragma once

#include "pipeline/VelmarClasses.h"
#include "sources/Pictures.h"

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace velmar {

enum class TSourceKind { Unknown, Wave, Aiff, AiffC, Flac };

// What a source is, read from its header once per file name or stream.
struct TSourceDescription {
    TSourceKind Kind = TSourceKind::Wave;
    int Channels = 0;
    int SampleRate = 0;
    TSampleFormat Format = TSampleFormat::Int16; // what ReadData hands out
    int64_t Size = -1;           // bytes one read cycle hands out; -1 when not known before reading
    int64_t Frames = -1;         // frames the source holds (what will be handed out); -1 when not known
    int64_t DeclaredFrames = -1; // frames the header declares; -1 when it declares none (streaming
                                 // writers); above what is handed out in the end: cut short
    // "NAME=value" lines. WAVE and AIFF: valid UTF-8, in the order TITLE,
    // ARTIST, ALBUM, TRACKNUMBER, DATE, GENRE (only those present), then
    // AIFF's COPYRIGHT and COMMENT lines. FLAC: its Vorbis comments as
    // stored, every one, in order.
    TStringList Tags;
    std::vector<TPicture> Pictures; // attached pictures: ID3 APIC frames, FLAC PICTURE blocks
    std::vector<TCuePoint> Cues;    // a WAVE's cue points, named by its labl entries
    // What the user is told of the source though it encodes, each a reason
    // of platform/Motivi.h following its quoted name (the truncation is left
    // to DeclaredFrames).
    TStringList Warnings;
};

// A reader at the head of the chain: TVelmarFileIn over a file or a stream
// handed in, that also describes what it reads.
//
// The description (and so every format getter) is read once per file name
// or stream set, without decoding, and kept; BeginRead reads what it opens
// again and replaces it, so a file changed on disk in between is read as it
// now is. The getters and Description may be called from any thread; the
// file name and stream are set while no other thread uses the reader.
class TVelmarSourceIn : public TVelmarFileIn {
public:
    using TVelmarFileIn::TVelmarFileIn;
    // The description of FileName (or the stream handed in), read at the
    // first call after the name was set; raises what BeginRead would raise
    // for a source it cannot read.
    TSourceDescription Description();

    int GetBitsPerSample() override;
    int GetChannels() override;
    int GetSampleRate() override;
    int GetTotalTime() override;
    TSampleFormat GetSampleFormat() override;

protected:
    // What S holds, read from its start as OpenSource would read it.
    virtual TSourceDescription Describe(TStream& S) = 0;
    // The last close lets go of what the reader holds (ReleaseStreams).
    void CloseSource() override;
    // Closes the file and frees what a read cycle holds; safe when half open.
    virtual void ReleaseStreams() = 0;
    void SourceChanged() override;
    // OpenSource's first step: opens FileName (unless a stream was handed
    // in) and lets Open read its header; what Open describes, or its
    // failure, replaces the kept description, and a getter on another
    // thread waits for it.
    void OpenLooked(const std::function<TSourceDescription(TStream& S)>& Open);
    // ReadData's last step: copies what BufferSize takes of the rest of
    // Block (from BufStart to BufEnd) and counts it.
    int HandOut(const uint8_t* Block, void* Buffer, int BufferSize);

    std::unique_ptr<TFileStream> FFileStream; // opened by OpenLooked

private:
    std::shared_ptr<const TSourceDescription> Look();

    std::mutex FLookLock; // guards the two below and a look at the stream
    std::shared_ptr<const TSourceDescription> FLook;
    std::exception_ptr FLookError;
};

// The kind of the source whose first bytes S holds (read from position 0;
// the position is left undefined): RIFF/RIFX/RF64/BW64 WAVE, FORM AIFF or
// AIFC, "fLaC" (also behind an ID3v2 tag).
TSourceKind SourceKindOf(TStream& S);
// "WAVE", "AIFF", "AIFF-C", "FLAC".
const char* KindName(TSourceKind Kind);

// Name given for the standard input, wherever a file name goes.
inline constexpr const char* StandardInputName = "-";

// A reader for File, chosen by its content, owned by Owner: File "-" is the
// standard input (platform/PipeStream), Stream a stream to read instead of
// File, which then only names it (the stream must outlive the reader).
// Raises EStreamError for a file that cannot be opened and VelmarException
// (TMotivo::FormatoSconosciuto) for content of no supported kind.
TVelmarSourceIn* CreateSource(TComponent* Owner, const std::string& File, TStream* Stream = nullptr);

// Whether a file name ends as the supported sources' names do: ".wav",
// ".flac", ".aif", ".aiff", ".aifc", in any case.
bool HasSourceExtension(const std::string& Name);

} // namespace velmar
