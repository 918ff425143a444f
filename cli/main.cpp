#include "cli/FennickCli.h"
#include "platform/Version.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv)
{
    using namespace velmar::cli;
    TOptions options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::cerr << "fennick-cli: " << error << "\n\n" << UsageText();
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
    return RunBatch(options, std::cerr, ::isatty(STDERR_FILENO) != 0);
}
