// The bus at the line's own speed: korvasim paces its half-duplex line (10 bits a character, 2 ms
// device turn-around), and each benchmark reports reads per second against the line limit (a
// read is 20 + 26 characters) and against an ideal master that sends the next request the
// moment a reply ends. The fairness cases run korvarun --poll over such a line, on this build and,
// when KORVARUN_BEFORE names one, on a korvarun built from an earlier tree, one after the other,
// and print reads and errors per device side by side.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "support/Plant.h"
#include "support/SequenceFakes.h"
#include "support/SimProcess.h"
#include "xml/SafeFile.h"
#include "transport/PortMap.h"

namespace korva {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRun = std::chrono::seconds(3);
constexpr double kReadBits = (20 + 26) * 10;

std::unique_ptr<test::LivePlant> Plant(int baud) {
    return std::make_unique<test::LivePlant>(
        std::vector<std::string>{"--baud", std::to_string(baud), "--duplex", "half", "--latency", "2"});
}

// The first word property of the demo plant's first device.
KRemoteLink* WordProperty(test::LivePlant& plant) {
    for (const auto& [name, link] : plant.comms.Model().devices.Object(0)->links)
        if (link->type == 0) return link;
    return nullptr;
}

void Report(benchmark::State& state, double reads, double seconds) {
    const double limit = state.range(0) / kReadBits;
    state.counters["reads_per_s"] = reads / seconds;
    state.counters["of_line_limit"] = reads / seconds / limit;
}

// A small master of its own: one request, wait for the reply, the next at once.
void BM_IdealMaster(benchmark::State& state) {
    auto plant = Plant(static_cast<int>(state.range(0)));
    KRemoteLink* link = WordProperty(*plant);
    test::BusClient client(DevicePathForPort(plant->dir.Path(), "COM1"));
    if (!plant->ready || link == nullptr || !client.Open()) return state.SkipWithError("no paced line");
    double reads = 0, seconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        while (Clock::now() - t0 < kRun) {
            if (!client.Send(link->device->address, code::kRead, {link->code}) || !client.Next()) break;
            ++reads;
        }
        seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    Report(state, reads, seconds);
}

// The runner in a loop of "get" actions on one property, as a production bench runs it.
void BM_SequenceReadLoop(benchmark::State& state) {
    auto plant = Plant(static_cast<int>(state.range(0)));
    KRemoteLink* link = WordProperty(*plant);
    if (!plant->ready || link == nullptr) return state.SkipWithError("no paced line");
    plant->coms.OpenPort(1);
    plant->coms.ChangeBaudRate(std::to_string(state.range(0)));
    test::FakeView view;
    test::FakeRunnerHost host;
    TestSequence sequences(plant->comms.Model(), view, host);
    plant->comms.runnerStep = [&] { sequences.Step(kTick); };
    plant->comms.runnerEvent = [&] { sequences.Resume(); };
    plant->dir.Write("loop.kts", "testnode loop;\nget " + link->device->name + " " + link->name +
                                     ";\nif nodepass loop;\n");
    sequences.LoadSequenceFile(plant->dir.Path() + "/loop.kts");
    double seconds = 0;
    const auto taken0 = plant->comms.Line().repliesQueued;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        sequences.RunNodeByName("loop");
        plant->TickUntil([&] { return Clock::now() - t0 >= kRun; }, 5000);
        sequences.Stop();
        seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    plant->comms.runnerEvent = nullptr;
    plant->comms.runnerStep = nullptr;
    Report(state, static_cast<double>(plant->comms.Line().repliesQueued - taken0), seconds);
}

// Every property of the plant polled as fast as the period allows: requests sent per reply taken.
void BM_AllPolled(benchmark::State& state) {
    auto plant = Plant(static_cast<int>(state.range(0)));
    if (!plant->ready) return state.SkipWithError("no paced line");
    plant->coms.OpenPort(1);
    plant->coms.ChangeBaudRate(std::to_string(state.range(0)));
    for (const auto& [name, device] : plant->comms.Model().devices)
        for (const auto& [linkName, link] : device->links)
            if (!link->IsFileHandle()) link->SetPoll(true);
    plant->comms.SetPeriodSeconds(0.0f);
    double seconds = 0;
    const auto sent0 = plant->comms.Line().packetsSent, taken0 = plant->comms.Line().repliesQueued;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        plant->TickUntil([&] { return Clock::now() - t0 >= kRun; }, 5000);
        seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    const double sent = static_cast<double>(plant->comms.Line().packetsSent - sent0);
    const double taken = static_cast<double>(plant->comms.Line().repliesQueued - taken0);
    Report(state, taken, seconds);
    state.counters["requests_per_read"] = taken > 0 ? sent / taken : 0;
}

// What korvarun --poll printed for each device: reads and errors; empty when the run failed.
struct Tally {
    std::string device;
    long reads = 0, errors = 0;
};
std::vector<Tally> PollOnce(const char* korvarun, int baud, const std::vector<std::string>& items,
                            const std::string& interval, const std::string& silent, int seconds,
                            std::string& trouble) {
    test::DemoSim plant;
    if (!silent.empty()) {
        // The simulator serves the device at an address the unit's configuration does not use.
        std::string xml = ReadRegularFile(plant.ConfigDir() + "/plant.xml");
        const std::size_t at = xml.find("Address=\"", xml.find("Name=\"" + silent + "\"")) + 9;
        xml.replace(at, xml.find('"', at) - at, "99");
        plant.dir.Write("config/plant.xml", xml);
    }
    if (!plant.Start({"--baud", std::to_string(baud), "--duplex", "half", "--latency", "2"})) {
        trouble = "no paced line";
        return {};
    }
    std::vector<std::string> args{"--workdir", KORVA_DEMO_DIR,         "--port",     plant.pty,
                                  "--baud",    std::to_string(baud),   "--interval", interval,
                                  "--for",     std::to_string(seconds)};
    for (const std::string& item : items) args.insert(args.end(), {"--poll", item});
    test::SimProcess run(args, korvarun);
    std::optional<int> status;
    for (const auto until = Clock::now() + std::chrono::seconds(seconds + 20);
         !status && Clock::now() < until;)
        status = run.Wait();
    std::vector<Tally> tallies;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        char name[64] = {};
        Tally t;
        if (std::sscanf(line.c_str(), "device %63s reads %ld errors %ld", name, &t.reads, &t.errors) == 3) {
            t.device = name;
            tallies.push_back(t);
        }
    }
    if (!status || *status > 1 || tallies.empty()) trouble = "korvarun: " + run.out + run.err;
    return tallies;
}

// One fairness case on both builds: reads and errors per device, side by side, and as counters.
void Fairness(benchmark::State& state, const char* title, const std::vector<std::string>& items,
              const std::string& interval, const std::string& silent, int periods) {
    constexpr int kSeconds = 20;
    const int baud = static_cast<int>(state.range(0));
    const char* before = std::getenv("KORVARUN_BEFORE");
    std::vector<Tally> then, now;
    std::string trouble;
    for (auto _ : state) {
        now = PollOnce(KORVARUN_PATH, baud, items, interval, silent, kSeconds, trouble);
        if (before != nullptr && *before != '\0')
            then = PollOnce(before, baud, items, interval, silent, kSeconds, trouble);
    }
    if (!trouble.empty()) return state.SkipWithError(trouble.c_str());
    std::printf("\n%s, %d baud, %d s (before: %s)\n%-12s %16s %16s\n", title, baud, kSeconds,
                before != nullptr ? before : "KORVARUN_BEFORE not set", "device", "before reads/err",
                "after reads/err");
    long errorsThen = 0, errorsNow = 0;
    for (std::size_t i = 0; i < now.size(); ++i) {
        const Tally* old = i < then.size() ? &then[i] : nullptr;
        const std::string was = old ? std::to_string(old->reads) + "/" + std::to_string(old->errors) : "-";
        const std::string is = std::to_string(now[i].reads) + "/" + std::to_string(now[i].errors);
        std::printf("%-12s %16s %16s\n", now[i].device.c_str(), was.c_str(), is.c_str());
        state.counters["after_" + now[i].device] = static_cast<double>(now[i].reads);
        if (old) state.counters["before_" + now[i].device] = static_cast<double>(old->reads);
        errorsNow += now[i].errors;
        errorsThen += old ? old->errors : 0;
    }
    // With a period of 0 every tick starts one; the errors are then counted over the whole run.
    const double per = periods > 0 ? periods : 1;
    state.counters[periods > 0 ? "after_errors_per_period" : "after_errors"] =
        static_cast<double>(errorsNow) / per;
    if (!then.empty())
        state.counters[periods > 0 ? "before_errors_per_period" : "before_errors"] =
            static_cast<double>(errorsThen) / per;
}

// Every property of the demo as fast as the line allows, its first device never answering.
void BM_FairnessFirstSilent(benchmark::State& state) {
    Fairness(state, "all 44 properties, FeedPump silent", {"all"}, "0", "FeedPump", 0);
}
// The same with every device alive: the last one, the Doser, must be read as well.
void BM_FairnessAllAlive(benchmark::State& state) {
    Fairness(state, "all 44 properties, all alive", {"all"}, "0", "", 0);
}
// 20 properties (FeedPump's 9, Boiler's 11) at a slow line, polled once a second: links that
// end ERROR per period.
void BM_FairnessSlowLine(benchmark::State& state) {
    Fairness(state, "20 properties, polled every 1 s", {"FeedPump", "Boiler"}, "1", "", 20);
}

BENCHMARK(BM_FairnessFirstSilent)->Arg(9600)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_FairnessAllAlive)->Arg(9600)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_FairnessSlowLine)->Arg(2400)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

BENCHMARK(BM_IdealMaster)->Arg(9600)->Arg(19200)->Arg(57600)->Arg(115200)->Iterations(1)->UseRealTime();
BENCHMARK(BM_SequenceReadLoop)->Arg(9600)->Arg(19200)->Arg(57600)->Arg(115200)->Iterations(1)->UseRealTime();
BENCHMARK(BM_AllPolled)->Arg(9600)->Arg(19200)->Arg(57600)->Arg(115200)->Iterations(1)->UseRealTime();

}  // namespace
}  // namespace korva
