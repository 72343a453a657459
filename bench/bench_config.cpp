// Loading a generated configuration of 200 devices with 50 properties each (10,000 links).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include <malloc.h>
#include <fstream>

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

std::filesystem::path WritePlant() {
    const auto dir = std::filesystem::temp_directory_path() / "korva-bench-config";
    std::filesystem::create_directories(dir / "config");
    std::ofstream(dir / "config/paths.xml")
        << "<paths><constantspath>config/constants.xml</constantspath><configpath>config/plant.xml</configpath></paths>";
    std::ofstream constants(dir / "config/constants.xml");
    constants << "<constants><symbols Word=\"0\" Byte=\"1\" SignedWord=\"2\" WordOpt=\"3\"";
    for (int p = 0; p < 50; ++p) constants << " C" << p << "=\"" << p << "\"";
    constants << "/></constants>";
    std::ofstream plant(dir / "config/plant.xml");
    static const char* kTypes[] = {"Word", "Byte", "SignedWord", "WordOpt"};
    plant << "<plant>\n";
    for (int d = 0; d < 200; ++d) {
        plant << "  <KDevice Name=\"Unit" << d << "\" Address=\"" << (34 + d % 200) << "\">\n";
        for (int p = 0; p < 50; ++p)
            plant << "    <KProperty Name=\"Value" << p << "\" Type=\"" << kTypes[p % 4] << "\" Code=\"C" << p
                  << "\"><Helptext>Measured value " << p << " of unit " << d << "</Helptext></KProperty>\n";
        plant << "  </KDevice>\n";
    }
    plant << "</plant>\n";
    return dir;
}

void BM_LoadTenThousandLinks(benchmark::State& state) {
    const auto dir = WritePlant();
    for (auto _ : state) {
        QuietHost host;
        Comms comms(host);
        ConfigLoader loader(comms.Model(), host, dir.string());
        loader.LoadConfiguration();
        if (!host.failed.empty() || comms.Model().devices.Count() != 200) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(comms.Model().devices.Count());
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LoadTenThousandLinks)->Unit(benchmark::kMillisecond);

// Heap bytes that a loaded plant of 10,000 links keeps: the model and the documents it refers to.
void BM_MemoryPerLink(benchmark::State& state) {
    const auto dir = WritePlant();
    double perLink = 0;
    for (auto _ : state) {
        const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
        auto host = std::make_unique<QuietHost>();
        auto comms = std::make_unique<Comms>(*host);
        {
            ConfigLoader loader(comms->Model(), *host, dir.string());
            loader.LoadConfiguration();
        }
        perLink = static_cast<double>(mallinfo2().uordblks + mallinfo2().hblkhd - before) / 10000.0;
    }
    state.counters["bytes_per_link"] = perLink;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_MemoryPerLink)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korva
