// korvarun: test sequences without a window, for production benches and CI rigs.
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "DissectorNames.h"
#include "Options.h"
#include "Poller.h"
#include "ResultsCommand.h"
#include "Station.h"

int main(int argc, char* argv[]) {
    using namespace korva::korvarun;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "results")
        return RunResultsCommand(std::span(args).subspan(1), std::cout, std::cerr);
    Options options;
    try {
        options = ParseArguments(args);
    } catch (const UsageError& e) {
        std::cerr << "korvarun: " << e.what() << "\n(korvarun --help lists the options)" << std::endl;
        return kError;
    }
    if (options.help) {
        std::cout << UsageText();
        return kPassed;
    }
    if (options.version) {
        std::cout << "korvarun " KORVA_VERSION << std::endl;
        return kPassed;
    }
    if (!options.exportNames.empty())
        return ExportDissectorNames(options.workDir, options.exportNames, std::cout, std::cerr);
    try {
        return options.poll.empty() ? RunStations(options) : RunPoll(options);
    } catch (const std::exception& e) {
        // Whatever escaped the run is reported in one line; the port closed as the station went.
        std::cerr << "korvarun: " << e.what() << std::endl;
        return kError;
    }
}
