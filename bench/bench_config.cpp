// Loading generated plants of 10,000 and 100,000 links: time, and the heap each link keeps.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include <malloc.h>

#include "GeneratedPlant.h"

#include "model/ConfigLoader.h"
#include "protocol/Comms.h"

namespace korva {
namespace {

class QuietHost : public CommsHost, public LoaderHost {
  public:
    void AddLogLine(const std::string&) override {}
    void RefreshDeviceTree() override {}
    void RequestClose() override {}
    void ShowMessage(const std::string& text) override { failed = text; }
    void RequestEnd() override {}
    std::string failed;
};

std::filesystem::path WritePlant(const benchmark::State& state) {
    return bench::WritePlant("korva-bench-config", static_cast<int>(state.range(0)));
}

void BM_LoadPlant(benchmark::State& state) {
    const auto dir = WritePlant(state);
    for (auto _ : state) {
        QuietHost host;
        Engine comms(host);
        ConfigLoader loader(comms.Model(), host, dir.string());
        loader.LoadConfiguration();
        if (!host.failed.empty() ||
            static_cast<std::int64_t>(comms.Model().devices.Count()) != state.range(0))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(comms.Model().devices.Count());
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LoadPlant)->ArgName("devices")->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond);

// Heap bytes that a loaded plant keeps per link: the model and the documents it refers to.
void BM_MemoryPerLink(benchmark::State& state) {
    const auto dir = WritePlant(state);
    const double links = static_cast<double>(state.range(0)) * 50.0;
    double perLink = 0;
    for (auto _ : state) {
        const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
        auto host = std::make_unique<QuietHost>();
        auto comms = std::make_unique<Engine>(*host);
        {
            ConfigLoader loader(comms->Model(), *host, dir.string());
            loader.LoadConfiguration();
        }
        perLink = static_cast<double>(mallinfo2().uordblks + mallinfo2().hblkhd - before) / links;
    }
    state.counters["bytes_per_link"] = perLink;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_MemoryPerLink)
    ->ArgName("devices")
    ->Arg(200)
    ->Arg(2000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korva
