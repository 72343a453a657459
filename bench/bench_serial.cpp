// Reads per second that the core completes against korvasim over a pseudo-terminal with ten
// requests in flight, and the program's CPU time per read (main thread and the port's worker).
#include <benchmark/benchmark.h>

#include "CpuTime.h"
#include "support/Plant.h"

namespace korva {
namespace {

using bench::CpuSeconds;

void BM_ReadsOverPty(benchmark::State& state) {
    test::LivePlant plant({"--latency", "1"});
    if (!plant.ready) {
        state.SkipWithError("korvasim did not start");
        return;
    }
    plant.coms.OpenPort(1);
    std::vector<KRemoteLink*> links;
    for (const auto& [name, device] : plant.comms.Model().devices)
        for (const auto& [linkName, link] : device->links)
            if (!link->IsFileHandle() && links.size() < 10) links.push_back(link);
    long reads = 0, errors = 0;
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        const auto end = t0 + std::chrono::seconds(5);
        plant.TickUntil(
            [&] {
                for (KRemoteLink* l : links) {
                    if (l->state == LinkState::GET || l->pending != nullptr) continue;
                    if (l->state == LinkState::KNOWN) ++reads;
                    if (l->state == LinkState::ERROR) ++errors;
                    l->RequestRead();
                }
                return std::chrono::steady_clock::now() >= end;
            },
            6000);
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu += CpuSeconds() - cpu0;
    }
    state.counters["reads_per_s"] = static_cast<double>(reads) / wall;
    state.counters["cpu_us_per_read"] = reads ? cpu * 1e6 / static_cast<double>(reads) : 0;
    state.counters["errors"] = static_cast<double>(errors);
}
BENCHMARK(BM_ReadsOverPty)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace korva
