#include "cli/FennickCli.h"
#include "cli/SignalWatch.h"
#include "platform/Version.h"

#include <algorithm>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    using namespace velmar::cli;
    TInterruption interruption;
    // Before any other thread, so that every one of them leaves the signals to the watch.
    TSignalWatch signals([&interruption](int Signal) { interruption.Interrupt(Signal); });
    TOptions options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::cerr << "fennick-cli: " << error << "\nUsa --help per l'aiuto.\n";
        return 2;
    }
    if (options.Version) {
        std::cout << "fennick-cli " << velmar::Versione << "\n";
        return 0;
    }
    if (options.Help) {
        std::cout << UsageText();
        return 0;
    }
    if (std::find(options.Files.begin(), options.Files.end(), "-") != options.Files.end() && ::isatty(STDIN_FILENO)) {
        std::cerr << "fennick-cli: l'ingresso standard è un terminale: - legge un file da una pipe (... | fennick-cli "
                     "-) o da una redirezione (- < brano.wav)\nUsa --help per l'aiuto.\n";
        return 2;
    }
    if (WritesStandardOutput(options) && ::isatty(STDOUT_FILENO)) {
        std::cerr << "fennick-cli: l'uscita standard è un terminale: reindirizzala (- > brano.ogg) o usa -o "
                     "CARTELLA\nUsa --help per l'aiuto.\n";
        return 2;
    }
    std::function<int()> width;
    if (::isatty(STDERR_FILENO))
        width = [] {
            winsize size{};
            return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? int(size.ws_col) : 80;
        };
    const int code = RunBatch(options, std::cout, std::cerr, width, &interruption);
    // Cleaned up: now end as the signal would have ended the program.
    if (const int signal = interruption.Signal())
        TSignalWatch::EndBy(signal);
    return code;
}
