// "Encode this file": one audio file (WAVE, AIFF, FLAC, or the standard
// input) through reader -> rate converter -> Vorbis encoder -> comment, the
// one operation both front ends call.
#pragma once

#include "platform/Classes.h"
#include "vorbis/VorbisMode.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velmar {

class TTemporaryHold;
class TVelmarVorbisOut;

// The comment every produced file carries.
inline constexpr const char* CommentoFennick = "Codificato con Velmar Fennick";

// What the user chose; the same for every file of a batch (but Serial,
// which a batch counts up from file to file).
struct TEncodeSettings {
    float Compression = 0.4f;          // Vorbis quality, -0.1 to 1.0 (the wizard: 0.1 to 0.9)
    TVorbisMode Mode;                  // bit rate instead of, or besides, the quality
    bool Downmix = false;              // stereo encoded as mono
    // The stream's serial number; -1: one of the output's own, derived from
    // its path (the same output gets the same serial again, others differ).
    int64_t Serial = -1;
    int OutSampleRate = 44100;
    bool HighQualityResampling = true; // libsoxr; false: the fast kernel
    std::string Comment = CommentoFennick; // COMMENT, in the header from the start
    bool CarryTags = true;             // the source's title, artist, ... into the stream
    // "NAME=value" lines the user gave: each replaces every carried value of
    // its name (whatever the case), whether tags are carried or not.
    TStringList Tags;
    bool SkipUpToDate = false;         // an output not older than its input is kept (Skipped)
    bool Verify = false;               // the finished stream is decoded whole and checked before it takes its name
    // REPLAYGAIN_TRACK_GAIN and _PEAK of what is encoded, measured while it
    // is encoded (engine/Loudness) and written over placeholders in the
    // header at the end, unless Tags carry them already (an album's,
    // measured together beforehand).
    bool ReplayGain = true;
    bool KeepDate = false;             // the output takes the source's modification time
    // Pictures: the source's (with CarryTags) by default; "auto" adds a cover
    // file from the source's folder when the source has none; a file name
    // puts that file in every output as the front cover, in place of the
    // source's. A picture that is too big or not a JPEG or PNG is left out
    // with a warning. Cue points become chapters (with CarryTags).
    std::string Cover;
};

// How a run is asked to end before its input does.
enum class TStopMode {
    None,
    // The part written stays, a complete stream, with the comment; it never
    // replaces an earlier file of the output's name, which stays instead.
    KeepTagged,
    KeepUntagged, // as KeepTagged, without the comment (the header is rewritten)
    Discard,      // nothing stays: no output, no temporary file; an earlier file is untouched
};

enum class TEncodeOutcome {
    Done,     // the whole input encoded, tagged (and verified when asked)
    Stopped,  // ended on request, the part written kept (KeepTagged / KeepUntagged)
    Discarded,// ended on request, nothing written
    Failed,   // Reason says why; nothing written, an earlier file is untouched
    Skipped,  // SkipUpToDate and the output is not older than the input: nothing written
};

struct TEncodeResult {
    TEncodeOutcome Outcome = TEncodeOutcome::Failed;
    std::string Output;
    // Failed: the cause in Italian; it names a file only when that is not
    // the input (the output, say), since callers name the input themselves.
    std::string Reason;
    // Things the user should know about a file that was written, in
    // Italian ("è troncato: 5,0 s dei 20,0 s dichiarati").
    std::vector<std::string> Warnings;
    bool Tagged = false;   // the stream carries the comment
    // EncodeToPart only: the finished stream, not yet renamed to Output,
    // and what keeps it marked as being written until then, so that no
    // other run takes it for a dead run's leftover.
    std::string Part;
    std::shared_ptr<TTemporaryHold> PartHold;
};

// Asks a running EncodeFile to end. Any thread; the first request wins.
// Lifetime: outlives the EncodeFile call it is handed to.
class TEncodeControl {
public:
    void Stop(TStopMode Mode);
    TStopMode Mode() const { return FMode.load(); }

    // For EncodeToPart: the output a request is passed on to while it runs.
    void Attach(TVelmarVorbisOut* Output);
    void Detach();

private:
    std::atomic<TStopMode> FMode{TStopMode::None};
    std::mutex FLock;
    TVelmarVorbisOut* FOutput = nullptr;
};

// Encodes Input into Output and writes the comment, returning when all is
// done: EncodeToPart, then CommitPart.
TEncodeResult EncodeFile(const std::string& Input, const std::string& Output, const TEncodeSettings& Settings,
                         TEncodeControl* Control = nullptr, const std::function<void(int Percent)>& OnProgress = {});

// Encodes Input into a hidden temporary file beside Output (Part); Output
// itself is not touched, so a caller can decide later whether the file
// takes its name (CommitPart) or goes (DiscardPart). The comment header is
// written once, as the stream starts: the source's tags as they are (with
// CarryTags), then COMMENT; a finished file is never copied to add them.
// Only a KeepUntagged stop rewrites the part, to take COMMENT out again.
// The reader is chosen by the input's content (CreateSource).
// Output StandardOutputName (engine/OutputNames.h): the stream goes to the standard output as it
// is made; there is no part, no folder, no verification, and a stopped run
// is Discarded (what was written stays written).
// Before the first file goes into a folder, the temporary files a dead run
// left there are removed (platform/TempFiles).
// Blocks the calling thread (never call it on a GUI thread): the audio work
// runs on an encoder thread of its own, which also calls OnProgress
// (percent of the input, when it changes). Never raises: every failure is
// in the result, and a failed or discarded file leaves nothing behind.
// Output's folder (with its parents) is created once the input's header has
// been read, so an input that cannot be read creates no folder. The codec
// libraries must be loaded (LoadCodecLibraries). Control may be null.
TEncodeResult EncodeToPart(const std::string& Input, const std::string& Output, const TEncodeSettings& Settings,
                           TEncodeControl* Control = nullptr,
                           const std::function<void(int Percent)>& OnProgress = {});

// The tags an output of Input gets besides COMMENT: the source's (with
// CarryTags), those of a name the user gave replaced by the user's. Reads
// the input's header (cheap); an input that cannot be read gives the
// user's tags alone (its encoding then fails with the reason).
TStringList TagsFor(const std::string& Input, const TEncodeSettings& Settings);

// The serial number of the stream written to Output when none is asked
// for: a hash of the path, never 0.
int32_t SerialFor(const std::string& Output);

// Renames Result.Part over Result.Output (an earlier file is replaced whole
// or not at all) and syncs the folder. A Stopped part never replaces an
// earlier file: when Output exists it is removed instead and Result becomes
// Discarded. On failure the part is removed and Result becomes Failed.
// Does nothing without a part. Any thread; a rename, no audio work.
void CommitPart(TEncodeResult& Result);
// Removes Result.Part; Result becomes Discarded.
void DiscardPart(TEncodeResult& Result);

} // namespace velmar
