#pragma once
// Context switches of every thread of this process so far, summed over /proc/self/task/*/status:
// the growth over an idle span counts how often the process woke.

#include <filesystem>
#include <fstream>
#include <string>

namespace korva::test {

struct Switches {
    long long voluntary = 0;    // the thread slept and woke
    long long involuntary = 0;  // it was put aside for another
    long long Total() const { return voluntary + involuntary; }
};

inline Switches ContextSwitches() {
    Switches s;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream status(task.path() / "status");
        std::string key;
        long long n = 0;
        // "voluntary_ctxt_switches:\t12": a line of another key fails the number and is skipped.
        while (status >> key) {
            if (key == "voluntary_ctxt_switches:" && status >> n) s.voluntary += n;
            if (key == "nonvoluntary_ctxt_switches:" && status >> n) s.involuntary += n;
        }
    }
    return s;
}

}  // namespace korva::test
