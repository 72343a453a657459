#pragma once
// The command line of korvarun.

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace korva::korvarun {

// What a prompt of the sequence gets without asking anyone.
enum class Answer { Ask, Yes, No };

// One unit under test: the port it hangs on and its identity in the reports.
struct Unit {
    std::string port;  // COMn or a device path; empty: the sequence opens its own
    std::string dut;
};

struct Options {
    std::string workDir = ".";
    std::string sequenceFile;
    std::vector<std::string> nodes;  // empty: "autorun", or every display node with --all
    bool all = false;
    std::string port;  // COMn or a device path; empty: the sequence opens its own
    std::optional<int> baud;
    bool list = false;
    std::optional<double> timeoutSeconds;
    bool stopOnFail = false;
    bool quiet = false;
    Answer answer = Answer::Ask;
    std::string junitFile;
    std::string jsonFile;
    std::string dut;
    std::string cleanupNode;  // runs after the others however the run ends
    // --station PORT=DUT, in the order given: the same nodes on each unit at once.
    std::vector<Unit> stations;
    // The units of the run: the stations, or the one that --port and --dut name.
    std::vector<Unit> Units() const { return stations.empty() ? std::vector<Unit>{{port, dut}} : stations; }
    // --poll mode: no sequence; the ITEMs (Device.Property, Device or all) are polled and logged.
    std::vector<std::string> poll;
    std::optional<float> intervalSeconds;  // the poll period; none: the engine's own
    std::optional<double> forSeconds;      // none: until SIGINT or SIGTERM
    std::string logFile;
    // The results store, a file or a server's URL; empty: config/results.xml, else results.sqlite in
    // the working folder. "none" keeps no results.
    std::string resultsFile;
    std::string stationName;  // --station NAME; empty: the host name
    // --dut-from Device.Property: the DUT id is read from the unit before the run.
    std::string dutFrom;
    std::string operatorName;  // empty: the login name
    std::string part;
    // The unit scheme values are reported in; empty: each property's own unit.
    std::string unitScheme;
    // --export-dissector-names FILE: the configuration's names for the bus dissector; nothing runs.
    std::string exportNames;
    bool help = false;
    bool version = false;
};

// A command line that cannot be run; the text names the argument at fault.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The arguments after the program name; "--opt value" and "--opt=value" are both taken.
Options ParseArguments(std::span<const std::string> args);

// COM1 to COM6, any letter case; 0 for anything else.
int ComPortNumber(const std::string& text);

const char* UsageText();

}  // namespace korva::korvarun
