// The bus at the line's own speed: korvasim paces its half-duplex line (10 bits a character, 2 ms
// device turn-around), and each benchmark reports reads per second against the line limit (a
// read is 20 + 26 characters) and against an ideal master that sends the next request the
// moment a reply ends.
#include <benchmark/benchmark.h>

#include <chrono>

#include "support/Plant.h"
#include "support/SequenceFakes.h"
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

BENCHMARK(BM_IdealMaster)->Arg(9600)->Arg(19200)->Arg(57600)->Arg(115200)->Iterations(1)->UseRealTime();
BENCHMARK(BM_SequenceReadLoop)->Arg(9600)->Arg(19200)->Arg(57600)->Arg(115200)->Iterations(1)->UseRealTime();
BENCHMARK(BM_AllPolled)->Arg(9600)->Arg(19200)->Arg(57600)->Arg(115200)->Iterations(1)->UseRealTime();

}  // namespace
}  // namespace korva
