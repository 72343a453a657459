#pragma once
// Context switches of every thread of this process so far, summed over /proc/self/task/*/status:
// the growth over an idle span counts how often the process woke.

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace korva::test {

struct Switches {
    long long voluntary = 0;  // the thread slept and woke
};

// The threads of this process now, by their folder under /proc/self/task; with a name, only
// the threads of that name.
inline std::vector<std::filesystem::path> Tasks(const std::string& name = {}) {
    std::vector<std::filesystem::path> tasks;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::string comm;
        if (!name.empty() && !(std::getline(std::ifstream(task.path() / "comm"), comm) && comm == name))
            continue;
        tasks.push_back(task.path());
    }
    return tasks;
}

// Summed over the given threads; a thread that has ended counts nothing.
inline Switches ContextSwitches(const std::vector<std::filesystem::path>& tasks = Tasks()) {
    Switches s;
    for (const auto& task : tasks) {
        std::ifstream status(task / "status");
        std::string key;
        long long n = 0;
        // "voluntary_ctxt_switches:\t12": a line of another key fails the number and is skipped.
        while (status >> key) {
            if (key == "voluntary_ctxt_switches:" && status >> n) s.voluntary += n;
        }
    }
    return s;
}

}  // namespace korva::test
