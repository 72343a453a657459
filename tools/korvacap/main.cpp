// korvacap: the bus, live, in the packet analyzer, as one of its external capture programs.
#include <iostream>
#include <string>
#include <vector>

#include "Extcap.h"
#include "Listen.h"

int main(int argc, char* argv[]) {
    using namespace korva::korvacap;
    Options o;
    try {
        o = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::cerr << "korvacap: " << e.what() << "\n(korvacap --help lists the options)" << std::endl;
        return 2;
    }
    const std::string workDir = o.workDir.empty() ? DefaultWorkDir() : o.workDir;
    switch (o.ask) {
        case Options::Ask::Interfaces:
            std::cout << InterfacesText(workDir);
            return 0;
        case Options::Ask::Dlts:
            std::cout << DltsText(o.interface);
            return 0;
        case Options::Ask::Config:
            std::cout << ConfigText(workDir);
            return 0;
        case Options::Ask::CheckFilter:
            // The analyzer's display filter picks packets; a capture takes every one the line carries.
            if (o.filter.empty()) return 0;
            std::cout << "korvacap takes no capture filter: every packet is captured; use a display filter"
                      << std::endl;
            return 1;
        case Options::Ask::Capture:
            return Capture(o, std::cerr);
        case Options::Ask::Version:
            std::cout << "korvacap " KORVA_VERSION << std::endl;
            return 0;
        case Options::Ask::Help:
            break;
    }
    std::cout << UsageText();
    return 0;
}
