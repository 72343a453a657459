// The CPU time this process has used, for shares of a core measured over wall-clock spans.
#pragma once

#include <ctime>

namespace korva::bench {

inline double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace korva::bench
