// Start-up of the main window (created, shown, configuration loaded, tree filled) for the demo
// plant and for a generated plant of 10,000 links; and the CPU an idle window uses with the port
// open on korvasim; and the tick with the packet trace open under a flood.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "support/Plant.h"
#include "ui/DevicePage.h"
#include "ui/KorvaConfigMain.h"
#include "ui/TraceWindow.h"

namespace korva {
namespace {

UiDialogs Silent() {
    UiDialogs d;
    d.message = [](const QString&) {};
    d.error = [](const QString&) {};
    d.confirm = [](const QString&) { return true; };
    d.openSequence = [] { return QString(); };
    d.requestEnd = [] {};
    return d;
}

std::string GeneratedPlant() {
    const auto dir = std::filesystem::temp_directory_path() / "korva-bench-window";
    std::filesystem::create_directories(dir / "config");
    std::ofstream(dir / "config/paths.xml")
        << "<p><constantspath>config/c.xml</constantspath><configpath>config/plant.xml</configpath></p>";
    std::ofstream c(dir / "config/c.xml");
    c << "<c><s Word=\"0\"";
    for (int p = 0; p < 50; ++p) c << " C" << p << "=\"" << p << "\"";
    c << "/></c>";
    std::ofstream plant(dir / "config/plant.xml");
    plant << "<plant>";
    for (int d = 0; d < 200; ++d) {
        plant << "<KDevice Name=\"Unit" << d << "\" Address=\"" << d << "\">";
        for (int p = 0; p < 50; ++p) plant << "<KProperty Name=\"Value" << p << "\" Type=\"Word\" Code=\"C" << p << "\"/>";
        plant << "</KDevice>";
    }
    plant << "</plant>";
    return dir.string();
}

void StartUp(benchmark::State& state, const std::string& workDir, int expectedDevices) {
    const UiDialogs dialogs = Silent();
    for (auto _ : state) {
        TForm1 form(workDir, WindowWiring{&dialogs, nullptr, true});
        form.show();
        form.FormActivate();
        QApplication::processEvents();
        if (form.devicePage->tvDevices->topLevelItem(0)->childCount() != expectedDevices)
            state.SkipWithError("tree not filled");
    }
}

void BM_StartUpDemo(benchmark::State& state) { StartUp(state, KORVA_DEMO_DIR, 5); }
BENCHMARK(BM_StartUpDemo)->Unit(benchmark::kMillisecond);

void BM_StartUpTenThousandLinks(benchmark::State& state) { StartUp(state, GeneratedPlant(), 200); }
BENCHMARK(BM_StartUpTenThousandLinks)->Unit(benchmark::kMillisecond);

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Ten seconds of an idle window on the demo plant with COM1 open on korvasim.
void BM_IdleWindowCpu(benchmark::State& state) {
    test::LivePlant plant;  // korvasim on a copy of the demo plant, ports.xml written
    const UiDialogs dialogs = Silent();
    TForm1 form(plant.dir.Path(), WindowWiring{&dialogs});
    form.show();
    form.FormActivate();
    form.comPorts().OpenPort(1);
    double share = 0;
    for (auto _ : state) {
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        share = (CpuSeconds() - cpu0) / wall;
    }
    state.counters["cpu_percent_of_core"] = share * 100.0;
    state.counters["port_open"] = form.SerialPortNG1().Active() ? 1 : 0;
}
BENCHMARK(BM_IdleWindowCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The trace window open and following, the port listening to korvasim's second master polling as
// fast as it can, and on top 1,000 more packets every 10 ms handed to the trace as the protocol
// would (100,000 a second): how regularly the 10 ms tick still runs, and the CPU the window takes.
void BM_TraceFloodTicks(benchmark::State& state) {
    test::LivePlant plant({"--other-master", "112", "--other-every", "1"});
    const UiDialogs dialogs = Silent();
    TForm1 form(plant.dir.Path(), WindowWiring{&dialogs});
    form.show();
    form.FormActivate();
    form.MonitorClick(true);
    form.comPorts().OpenPort(1);
    form.traceWindow->ShowWindow();
    std::vector<double> gaps;
    auto last = std::chrono::steady_clock::now();
    const std::function<void()> step = form.comms().runnerStep;
    form.comms().runnerStep = [&] {
        const auto now = std::chrono::steady_clock::now();
        gaps.push_back(std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
        step();
    };
    BusPacket p;
    p.dest = 112;
    p.source = 0x22;
    p.code = 0x8A;
    p.length = 3;
    p.data[0] = 16;
    StoreChecksum(p);
    QTimer flood;
    QObject::connect(&flood, &QTimer::timeout, [&] {
        for (int i = 0; i < 1000; ++i) form.traceWindow->OnPacket(PacketPath::Heard, p);
    });
    flood.start(10);
    double share = 0;
    for (auto _ : state) {
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        gaps.clear();
        QEventLoop loop;
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        share = (CpuSeconds() - cpu0) / wall;
    }
    std::sort(gaps.begin(), gaps.end());
    state.counters["ticks_per_s"] = static_cast<double>(gaps.size()) / 5.0;
    state.counters["tick_gap_median_ms"] = gaps.empty() ? 0 : gaps[gaps.size() / 2];
    state.counters["tick_gap_p99_ms"] = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
    state.counters["cpu_percent_of_core"] = share * 100.0;
    state.counters["packets_held"] = static_cast<double>(form.traceWindow->Buffer().Size());
}
BENCHMARK(BM_TraceFloodTicks)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace korva

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
