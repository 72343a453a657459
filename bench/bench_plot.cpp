// The plot on the tick: the window's tick with 50 properties polled at the fastest period and the
// plot open; the redraw of a full store; and the store's memory after an hour of polling.
#include <benchmark/benchmark.h>

#include <algorithm>

#include <QApplication>
#include <QEventLoop>
#include <QChartView>
#include <QLineSeries>
#include <QPixmap>
#include <QTimer>

#include "CpuTime.h"

#include "support/Window.h"
#include "ui/DevicePage.h"
#include "ui/PlotWindow.h"

namespace korva {
namespace {

constexpr int kProperties = 50;

// One device with 50 word properties, all polled on every tick, the plot window shown.
struct PolledPlant {
    static test::Window::Files Files() {
        std::string c = "<c><s Word=\"0\"", plant = "<plant><KDevice Name=\"Unit\" Address=\"34\">";
        for (int p = 0; p < kProperties; ++p) {
            c += " C" + std::to_string(p) + "=\"" + std::to_string(p + 1) + "\"";
            plant += "<KProperty Name=\"Value" + std::to_string(p) + "\" Type=\"Word\" Code=\"C" +
                     std::to_string(p) + "\"/>";
        }
        return {
            {"config/paths.xml",
             "<p><constantspath>config/c.xml</constantspath><configpath>config/plant.xml</configpath></p>"},
            {"config/c.xml", c + "/></c>"},
            {"config/plant.xml", plant + "</KDevice></plant>"}};
    }
    explicit PolledPlant(bool shown) : win(Files()) {
        auto& served = win.emu.AddDevice("Unit", 34).properties;
        for (int p = 0; p < kProperties; ++p)
            served.push_back({"Value" + std::to_string(p), 0, static_cast<std::uint8_t>(p + 1), p * 100, 0});
        for (const auto& [name, link] : win.form->engine().Model().FindLink("Unit", "Value0")->device->links)
            link->SetPoll(true);
        win.form->engine().SetPeriodSeconds(0);
        if (shown) win.form->plotWindow->show();
    }
    test::Window win;
};

// Arg 1: the plot window is open and redraws between ticks as the event loop lets it.
void BM_TickFiftyPolledPlotted(benchmark::State& state) {
    PolledPlant plant(state.range(0) != 0);
    plant.win.Tick(200);  // every series made and filling
    for (auto _ : state) {
        plant.win.Tick(1);
        QApplication::processEvents();
    }
    const SeriesStore& store = plant.win.form->plotWindow->Store();
    std::size_t points = 0;
    for (std::size_t i = 0; i < store.Count(); ++i) points += store.At(i).Points().size();
    state.counters["series"] = static_cast<double>(store.Count());
    state.counters["points_per_tick"] =
        benchmark::Counter(static_cast<double>(points), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_TickFiftyPolledPlotted)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Iterations(2000);

// The tick alone: the plot takes its points, the redraws are left out.
void BM_TickFiftyPolledSampled(benchmark::State& state) {
    PolledPlant plant(false);
    plant.win.Tick(200);
    for (auto _ : state) plant.win.Tick(1);
}
BENCHMARK(BM_TickFiftyPolledSampled)->Unit(benchmark::kMicrosecond)->Iterations(2000);

// Five seconds at the window's own pace, a tick every 10 ms with the event loop running between
// ticks as in the program (the log pane, the plot's redraws): CPU per tick. Arg 1: the plot is open.
void BM_PacedFiftyPolled(benchmark::State& state) {
    PolledPlant plant(state.range(0) != 0);
    double perTick = 0;
    for (auto _ : state) {
        int ticks = 0;
        QTimer pace;
        QObject::connect(&pace, &QTimer::timeout, [&] {
            plant.win.Tick(1);
            ++ticks;
        });
        const double cpu0 = bench::CpuSeconds();
        pace.start(10);
        QEventLoop loop;
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        perTick = (bench::CpuSeconds() - cpu0) / std::max(ticks, 1);
    }
    state.counters["cpu_us_per_tick"] = perTick * 1e6;
}
BENCHMARK(BM_PacedFiftyPolled)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The plot's own share of a tick: 50 properties, each with a new reading.
void BM_SampleFiftyReadings(benchmark::State& state) {
    KModel model;
    KDevice& device = model.MakeDevice("Unit", 34);
    std::vector<KPropertyLink*> links;
    for (int p = 0; p < kProperties; ++p) {
        links.push_back(&model.MakeProperty(device, LinkSpec("Value" + std::to_string(p), 0, p + 1)));
        links.back()->SetPoll(true);
    }
    TPlotWindow plot(model, UiDialogs{});
    double t = 0;
    for (auto _ : state) {
        for (KPropertyLink* link : links) ++link->valueUpdates;
        plot.Sample(t += 0.01);
    }
}
BENCHMARK(BM_SampleFiftyReadings)->Unit(benchmark::kMicrosecond);

// An hour of readings on every tick for 50 series: 360,000 points offered to each.
void FillHour(SeriesStore& store) {
    for (int s = 0; s < kProperties; ++s) store.Add("Unit.Value" + std::to_string(s));
    for (int tick = 0; tick < 360000; ++tick)
        for (std::size_t s = 0; s < store.Count(); ++s)
            store.At(s).Append({tick * 0.01, static_cast<double>((tick + static_cast<int>(s)) % 1000)});
}

void BM_StoreAfterAnHour(benchmark::State& state) {
    std::size_t bytes = 0, kept = 0;
    for (auto _ : state) {
        SeriesStore store;
        FillHour(store);
        bytes = store.Bytes();
        kept = store.At(0).Points().size();
    }
    state.counters["MiB"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
    state.counters["points_kept_per_series"] = static_cast<double>(kept);
}
BENCHMARK(BM_StoreAfterAnHour)->Unit(benchmark::kMillisecond)->Iterations(1);

// The plot window after an hour of readings on every tick for 50 properties: one redraw of the last
// minute, the last 10 minutes and everything (kept to 100,000 points a series).
struct HourPlot {
    HourPlot() : plot(model, UiDialogs{}) {
        KDevice& device = model.MakeDevice("Unit", 34);
        for (int p = 0; p < kProperties; ++p)
            links.push_back(&model.MakeProperty(device, LinkSpec("Value" + std::to_string(p), 0, p + 1)));
        for (KPropertyLink* link : links) link->SetPoll(true);
        for (int tick = 0; tick < 360000; ++tick) {
            for (std::size_t i = 0; i < links.size(); ++i) {
                links[i]->current.StoreNumber(
                    static_cast<double>((tick / 10 + static_cast<int>(i) * 37) % 2000));
                ++links[i]->valueUpdates;
            }
            plot.Sample(tick * 0.01);
        }
        plot.show();
    }
    KModel model;
    std::vector<KPropertyLink*> links;
    TPlotWindow plot;
};

// The hour is built anew for each span, outside the timing: a window kept in a static would outlive
// the application, whose end it needs.
void BM_RedrawAfterAnHour(benchmark::State& state) {
    HourPlot hour;
    hour.plot.SetSpan(static_cast<TPlotWindow::Span>(state.range(0)));
    for (auto _ : state) hour.plot.Refresh();
    state.counters["points_drawn"] = static_cast<double>(hour.plot.Drawn(0).size() * kProperties);
}
BENCHMARK(BM_RedrawAfterAnHour)
    ->Arg(TPlotWindow::LastMinute)
    ->Arg(TPlotWindow::LastTenMinutes)
    ->Arg(TPlotWindow::All)
    ->Iterations(20)  // a fixed count: the benchmark is entered once, and the hour built once
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korva

namespace korva {
namespace {
// The same redraw followed by the paint of the chart into a picture, as the screen would get it.
void BM_RedrawAndPaintAfterAnHour(benchmark::State& state) {
    HourPlot hour;
    hour.plot.SetSpan(static_cast<TPlotWindow::Span>(state.range(0)));
    for (auto _ : state) {
        hour.plot.Refresh();
        benchmark::DoNotOptimize(hour.plot.chartView->grab());
    }
    if (const char* png = std::getenv("PLOT_PNG")) hour.plot.chartView->grab().save(png);
}
BENCHMARK(BM_RedrawAndPaintAfterAnHour)
    ->Arg(TPlotWindow::LastMinute)
    ->Arg(TPlotWindow::All)
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
}  // namespace
}  // namespace korva
