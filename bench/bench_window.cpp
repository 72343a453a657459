// Start-up of the main window (created, shown, configuration loaded, tree filled, COM1 open) for
// the demo plant and for generated plants of 10,000 and 100,000 links, with the heap it keeps per
// link; the CPU an idle window uses with the port open on korvasim; and the tick with the packet
// trace open under a flood; the wakeups of an idle window.
#include <benchmark/benchmark.h>

#include "CpuTime.h"

#include <QApplication>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <ctime>
#include <functional>
#include <vector>

#include <memory>

#include <malloc.h>

#include "GeneratedPlant.h"
#include "support/Plant.h"
#include "support/Wakeups.h"
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

std::size_t HeapBytes() {
    return mallinfo2().uordblks + mallinfo2().hblkhd;
}

// From the window's creation to COM1 open on korvasim: configuration loaded, tree filled and shown.
// The heap the window keeps, with its model and documents, is counted per link.
void StartUp(benchmark::State& state, int devices) {
    test::LivePlant plant;  // korvasim serves the demo; the window reads its own plant
    if (devices > 0) bench::WritePlantFiles(plant.dir.Path(), devices);
    const int expected = devices > 0 ? devices : 5;
    const UiDialogs dialogs = Silent();
    double perLink = 0;
    for (auto _ : state) {
        const std::size_t before = HeapBytes();
        TForm1 form(plant.dir.Path(), WindowWiring{&dialogs, nullptr, true});
        form.show();
        form.FormActivate();
        form.comPorts().OpenPort(1);
        QApplication::processEvents();
        state.PauseTiming();
        perLink = static_cast<double>(HeapBytes() - before) / (expected * 50.0);
        if (form.devicePage->tvDevices->topLevelItem(0)->childCount() != expected ||
            !form.SerialPortNG1().Active())
            state.SkipWithError("tree not filled or port not open");
        state.ResumeTiming();
    }
    if (devices > 0) state.counters["bytes_per_link"] = perLink;
}

void BM_StartUpDemo(benchmark::State& state) {
    StartUp(state, 0);
}
BENCHMARK(BM_StartUpDemo)->Unit(benchmark::kMillisecond);

void BM_StartUpPlant(benchmark::State& state) {
    StartUp(state, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_StartUpPlant)->ArgName("devices")->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond);

using bench::CpuSeconds;

// Ten seconds of an idle window with COM1 open on korvasim: the demo plant, and 100,000 links.
void BM_IdleWindowCpu(benchmark::State& state) {
    test::LivePlant plant;  // korvasim on a copy of the demo plant, ports.xml written
    if (state.range(0) > 0) bench::WritePlantFiles(plant.dir.Path(), static_cast<int>(state.range(0)));
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
BENCHMARK(BM_IdleWindowCpu)
    ->ArgName("devices")
    ->Arg(0)
    ->Arg(2000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// How often the process wakes while the event loop idles for three seconds, over all its threads
// (voluntary and involuntary context switches): a plain QWidget window, for what Qt costs by itself;
// the main window with its port closed; the main window with COM1 open on korvasim's
// pseudo-terminal and nothing polled.
enum class Idle { Plain, PortClosed, PortOpen };

void IdleWakeups(benchmark::State& state, Idle what) {
    using enum Idle;
    test::DemoSim sim;  // a copy of the demo plant; korvasim only for the open port
    if (what == PortOpen && !sim.Start()) {
        state.SkipWithError("korvasim did not start");
        return;
    }
    const UiDialogs dialogs = Silent();
    std::unique_ptr<QWidget> plain;
    std::unique_ptr<TForm1> form;
    if (what == Plain) {
        plain = std::make_unique<QWidget>();
        plain->show();
    } else {
        form = std::make_unique<TForm1>(sim.dir.Path(), WindowWiring{&dialogs});
        form->show();
        form->FormActivate();
        if (what == PortOpen) form->comPorts().OpenPort(1);
    }
    // The start-up's own work (the first ticks, the log pane's lines) ends before idling is counted.
    {
        QEventLoop settle;
        QTimer::singleShot(1000, &settle, &QEventLoop::quit);
        settle.exec();
    }
    double perSecond = 0, voluntaryPerSecond = 0;
    for (auto _ : state) {
        const test::Switches before = test::ContextSwitches();
        const auto t0 = std::chrono::steady_clock::now();
        QEventLoop loop;
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        loop.exec();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const test::Switches after = test::ContextSwitches();
        perSecond = static_cast<double>(after.Total() - before.Total()) / wall;
        voluntaryPerSecond = static_cast<double>(after.voluntary - before.voluntary) / wall;
    }
    state.counters["wakeups_per_s"] = perSecond;
    // The involuntary ones depend on what else the machine runs; these are the process's own.
    state.counters["voluntary_per_s"] = voluntaryPerSecond;
    state.counters["threads"] = static_cast<double>(test::Tasks().size());
    state.counters["port_open"] = form && form->SerialPortNG1().Active() ? 1 : 0;
}
void BM_IdleWakeupsPlainWidget(benchmark::State& state) {
    IdleWakeups(state, Idle::Plain);
}
void BM_IdleWakeupsPortClosed(benchmark::State& state) {
    IdleWakeups(state, Idle::PortClosed);
}
void BM_IdleWakeupsPortOpen(benchmark::State& state) {
    IdleWakeups(state, Idle::PortOpen);
}
BENCHMARK(BM_IdleWakeupsPlainWidget)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_IdleWakeupsPortClosed)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_IdleWakeupsPortOpen)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

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
    const std::function<void()> step = form.engine().runnerStep;
    form.engine().runnerStep = [&] {
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
        for (int i = 0; i < 1000; ++i) form.traceWindow->OnPacket("COM1", PacketPath::Heard, p);
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
