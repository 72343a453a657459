#pragma once
// korvacap's side of the packet analyzer's capture dialogue: the analyzer runs it once to list the
// interfaces, once per interface for its link type and its options, and once more to capture into
// a fifo until it is told to stop.

#include <stdexcept>
#include <string>
#include <vector>

namespace korva::korvacap {

struct Options {
    enum class Ask { Interfaces, Dlts, Config, Capture, CheckFilter, Help, Version };
    Ask ask = Ask::Help;
    std::string interface;  // "korva-COM1"
    std::string fifo;
    std::string filter;  // a capture filter to check; none is understood
    int speed = 57600;
    std::string workDir;  // the folder that holds config/ports.xml; empty: the program's own
};

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The arguments after the program name, as the analyzer passes them ("--opt value" or "--opt=value").
Options ParseArguments(const std::vector<std::string>& args);

// The folder the program works in when started from the desktop: KORVACONFIG_HOME, else
// $XDG_DATA_HOME/korvaconfig, else ~/.local/share/korvaconfig.
std::string DefaultWorkDir();

// "COM3" for "korva-COM3"; empty for a name that is none of ours.
std::string PortOfInterface(const std::string& interface);

// The dialogue's answers, one line each.
std::string InterfacesText(const std::string& workDir);
std::string DltsText(const std::string& interface);
std::string ConfigText(const std::string& workDir);

// The speeds the program offers.
inline const std::vector<int> kSpeeds = {2400, 9600, 14400, 19200, 28800, 37600, 57600, 115200};

const char* UsageText();

}  // namespace korva::korvacap
