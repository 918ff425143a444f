// fennick-cli: the headless encoder on the wizard's chain.
#pragma once

#include "vorbis/VorbisMode.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

namespace velmar::cli {

struct TOptions {
    // Quality -1 to 10 (-q), as libvorbis takes it: quality / 10.
    float Compression = 0.4f;
    TVorbisMode Mode;            // -q given, -b, -m, -M, --managed
    bool Downmix = false;        // --downmix
    int64_t Serial = -1;         // -s: the first output's; -1 from each output's path
    std::string Names;           // -n: the outputs' paths from their tags
    std::vector<std::string> Tags; // -t -a -l -N -d -G -c: "NAME=value", in every output
    int Rate = 44100;            // one of the wizard's eight rates
    std::string OutputDir;       // empty: documents folder + "/Musica"
    int Jobs = 0;                // 0: number of CPUs
    bool HighQualityResampling = true; // --ricampionamento alta|veloce
    bool Recursive = false;      // -R: folders are searched for audio files
    bool SkipExisting = false;   // --salta-esistenti
    bool CarryTags = true;       // --nessun-tag: false
    bool Verify = false;         // --verifica
    bool ReplayGain = true;      // --nessun-replaygain: false
    bool AlbumGain = false;      // --album-gain: the files of a folder are an album
    bool KeepDate = false;       // --mantieni-data
    std::string Cover;           // --copertina auto|FILE
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
    std::vector<std::string> Files;
};

// Parses the arguments (without the program name); on a usage error returns
// false with an Italian message in Error. "-" is the standard input, at
// most once.
bool ParseOptions(const std::vector<std::string>& Args, TOptions& Options, std::string& Error);
// "-" without -o: its stream goes to the standard output.
bool WritesStandardOutput(const TOptions& Options);
std::string UsageText();

// One file of a batch: the input and the folder its output goes to.
struct TJob {
    std::string Input;
    std::string Folder;
    bool operator==(const TJob&) const = default;
};

// The files the arguments name, in their order. A file goes into OutDir,
// and so does "-" (the standard input). With Recursive, a folder's files
// whose names end as audio files' do (sources/VelmarSource.h: ".wav",
// ".flac", ".aif", ".aiff", ".aifc", any case) are
// taken in name order, folder by folder, each into OutDir + the folder's
// own name + its path under that folder ("Archivio/A/1.wav" into
// OutDir/Archivio/A); "." and "/" add no name. Links to folders are not
// followed (no loops). A folder without Recursive, or one that cannot be
// read, is one Italian line in Errors naming it; a folder without audio
// files one in Warnings.
std::vector<TJob> ListJobs(const TOptions& Options, const std::string& OutDir, std::vector<std::string>& Errors,
                           std::vector<std::string>& Warnings);

// Asks a running RunBatch to end, from any thread (a signal's): what runs is
// discarded, nothing is left behind, and RunBatch returns 128 + Signal.
// The first request wins; one made before RunBatch starts still counts.
class TInterruption {
public:
    void Interrupt(int Signal);
    int Signal() const;
    // RunBatch's: how to stop its batch (called at once when already
    // interrupted); Detach waits for a stop under way.
    void Attach(std::function<void()> Stop);
    void Detach();

private:
    mutable std::mutex FLock;
    int FSignal = 0;
    std::function<void()> FStop;
};

// Encodes every file. Out gets the closing line ("N file codificati, ..."),
// unless Quiet (Err does when the standard output carries a stream); "-"
// is written to the standard output without -o, else to "stdin.ogg" in
// the output folder (or the -n pattern's name, %f being "stdin"). A closed
// standard output ends the batch as SIGPIPE would (Interruption); Err one line per failure or warning. With TerminalWidth
// (Err is a terminal of that many columns, asked at every redraw) and not
// Quiet, Err also shows one status line rewritten in place, never wider
// than the terminal. Returns the exit code: 0, 1 when any file failed,
// 128 + the signal when interrupted (after printing "interrotto").
int RunBatch(const TOptions& Options, std::ostream& Out, std::ostream& Err,
             const std::function<int()>& TerminalWidth = {}, TInterruption* Interruption = nullptr);

} // namespace velmar::cli
