#pragma once
// What a run leaves behind for the reports: the run, each node started, each action carried out.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korva::korvarun {

using WallClock = std::chrono::system_clock;

struct FileStamp {
    std::string path;
    std::string sha256;  // lower-case hex; empty when the file could not be read
};

struct ActionRecord {
    std::string node;    // the node the action belongs to: a call or a jump runs another node's actions
    std::string action;  // the label, as the window's tree shows it
    std::string kind;    // the keyword
    // What the action acts on, when it names a device and one of its properties.
    std::string device, property;
    std::optional<int> address;
    std::optional<int> element;  // a file's element
    std::string result;  // PASSED, FAILED, ERROR, or DONE for an action that has no outcome of its own
    // The limits of a "test": minimum and maximum of a property, index and expected value of a file.
    std::optional<std::pair<std::string, std::string>> limits;
    bool fileLimits = false;
    std::string actual;
    // An engineering property's value beside the raw one: the raw number, the shown number, its
    // unit and how the window writes it ("65.0 °C", a value's name); and the limits in shown units.
    struct Shown {
        std::int32_t raw = 0;
        double value = 0;
        int decimals = 0;
        std::string unit;
        std::string text;
    };
    std::optional<Shown> shown;
    std::optional<std::pair<double, double>> shownLimits;
    std::string reason;  // why it ended ERROR or was refused, in words
    WallClock::time_point started, ended;
};

// A node that a requested node's run went through by "if" or "call", with its own last result.
struct ReachedNode {
    std::string name;
    std::string result;
};

struct NodeRecord {
    std::string name;
    // PASSED, FAILED, ERROR, UNTESTED (a node without actions), RUNNING (under way when the reports
    // were written) or SKIPPED (never started). The verdict is the worst of every node reached.
    std::string result = "SKIPPED";
    bool cleanup = false;  // the --cleanup node, run however the others ended
    std::vector<ReachedNode> reached;
    std::string message;  // why it did not pass, in one line
    std::vector<ActionRecord> actions;
    std::vector<std::string> output;  // the progress lines and log lines of the node
    WallClock::time_point started, ended;
};

struct RunRecord {
    std::string station;
    std::string dut;
    std::string workDir;
    std::string port;
    std::vector<FileStamp> configuration;
    FileStamp sequence;
    WallClock::time_point started, ended;
    std::vector<NodeRecord> nodes;
    // running while nodes are left, complete, or aborted by a signal.
    std::string status = "running";
    int exitStatus = 0;
};

// The raw value, and the shown one beside it where there is one: "650 (65.0 °C)".
std::string ActualWithShown(const ActionRecord& a);

// One line on the first action of a node that did not pass: what it is, its limits, what came back.
std::string FailureText(const NodeRecord& node);

}  // namespace korva::korvarun
