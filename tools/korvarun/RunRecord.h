#pragma once
// What a run leaves behind for the reports: the run, each node started, each action carried out.

#include <chrono>
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
    std::string result;  // PASSED, FAILED, ERROR, or DONE for an action that has no outcome of its own
    // The limits of a "test": minimum and maximum of a property, index and expected value of a file.
    std::optional<std::pair<std::string, std::string>> limits;
    bool fileLimits = false;
    std::string actual;
    WallClock::time_point started, ended;
};

struct NodeRecord {
    std::string name;
    // PASSED, FAILED, ERROR, UNTESTED (a node without actions) or SKIPPED (never started).
    std::string result = "SKIPPED";
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

// One line on the first action of a node that did not pass: what it is, its limits, what came back.
std::string FailureText(const NodeRecord& node);

}  // namespace korva::korvarun
