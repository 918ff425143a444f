// fennick-cli: the headless encoder on the wizard's chain.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace velmar::cli {

struct TOptions {
    int Quality = 4;             // 1..9, Compression = Quality / 10
    int Rate = 44100;            // one of the wizard's eight rates
    std::string OutputDir;       // empty: documents folder + "/Musica"
    int Jobs = 0;                // 0: number of CPUs
    bool HighQualityResampling = true; // --ricampionamento alta|veloce
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
    std::vector<std::string> Files;
};

// Parses the arguments (without the program name); on a usage error returns
// false with an Italian message in Error.
bool ParseOptions(const std::vector<std::string>& Args, TOptions& Options, std::string& Error);
std::string UsageText();

// Encodes every file; failures are written to Err one line each. Progress
// goes to Err when Progress is set. Returns the process exit code (0 or 1).
int RunBatch(const TOptions& Options, std::ostream& Err, bool Progress);

} // namespace velmar::cli
