// Several units at once: korvarun runs the same node on N stations, each on a korvasim of its own
// whose half-duplex line is paced to 9600 baud. The stations share one process and one event loop;
// the time of N should stay that of one.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "support/SimProcess.h"

namespace korva {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReads = 40;

void BM_Stations(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<test::DemoSim>> sims;
    for (int i = 0; i < count; ++i) {
        sims.push_back(std::make_unique<test::DemoSim>());
        if (!sims.back()->Start({"--baud", "9600", "--duplex", "half", "--latency", "2"}))
            return state.SkipWithError("no paced line");
    }
    std::string file = "testnode reads;\n";
    for (int i = 0; i < kReads; ++i) file += "get FeedPump.FirmwareVersion;\n";
    sims[0]->dir.Write("reads.kts", file);
    std::vector<std::string> args{"--workdir", sims[0]->dir.Path(), "--baud", "9600", "--quiet"};
    for (int i = 0; i < count; ++i) {
        args.push_back("--station");
        args.push_back(sims[static_cast<std::size_t>(i)]->pty + "=SN-" + std::to_string(i + 1));
    }
    args.push_back(sims[0]->dir.Path() + "/reads.kts");
    args.push_back("reads");
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        test::SimProcess run(args, KORVARUN_PATH);
        const auto status = run.Wait();
        seconds += std::chrono::duration<double>(Clock::now() - t0).count();
        if (status != 0) return state.SkipWithError(("korvarun: " + run.out + run.err).c_str());
    }
    state.counters["seconds_per_run"] = seconds / static_cast<double>(state.iterations());
    state.counters["reads_per_s"] = count * kReads * static_cast<double>(state.iterations()) / seconds;
}

BENCHMARK(BM_Stations)->Arg(1)->Arg(2)->Arg(4)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korva
