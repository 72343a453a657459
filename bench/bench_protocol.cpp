// Throughput of the receive scanner on framed serial text.
#include <benchmark/benchmark.h>

#include <string>

#include "protocol/Comms.h"
#include "packet/Receiver.h"

namespace korva {
namespace {

class CountingSink : public ReceiverSink {
  public:
    void OnPacket(const BusPacket& p) override {
        sum += p.data[1];
        ++packets;
    }
    void OnChecksumError(const BusPacket&, std::uint8_t) override { ++errors; }
    std::uint64_t packets = 0, errors = 0, sum = 0;
};

std::string FramedText(std::size_t bytes) {
    std::string text;
    text.reserve(bytes + 64);
    for (unsigned i = 0; text.size() < bytes; ++i) {
        BusPacket p;
        p.dest = 0x6C;
        p.source = static_cast<std::uint8_t>(0x20 + (i % 16));
        p.code = 0x8A;
        p.length = 3;
        p.data[0] = static_cast<std::uint8_t>(i);
        p.data[1] = static_cast<std::uint8_t>(i >> 8);
        p.data[2] = static_cast<std::uint8_t>(i * 7);
        StoreChecksum(p);
        text += EncodeSerial(p);
    }
    return text;
}

void BM_ScannerFramedText(benchmark::State& state) {
    const std::string text = FramedText(4 << 20);
    CountingSink sink;
    Receiver receiver(sink);
    for (auto _ : state) {
        for (char c : text) receiver.Feed(c);
        benchmark::DoNotOptimize(sink.sum);
    }
    if (sink.errors != 0) state.SkipWithError("checksum errors in generated text");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ScannerFramedText)->Unit(benchmark::kMillisecond);

class NullHost : public CommsHost {
  public:
    void AddLogLine(const std::string&) override {}
    void RefreshDeviceTree() override {}
    void RequestClose() override {}
};

// An open line that frames what it is handed and counts it.
class CountingLine : public BusPort {
  public:
    Hold State() const override { return Hold::Master; }
    void Send(const BusPacket& packet) override { bytes += EncodeSerial(packet).size(); }
    std::size_t bytes = 0;
};

// Devices of 50 properties: 200 of them give 10,000 links, all idle.
void BuildPlant(Engine& comms, int devices = 200) {
    for (int d = 0; d < devices; ++d) {
        KDevice& dev =
            comms.Model().MakeDevice("Device" + std::to_string(d), static_cast<std::uint8_t>(0x22 + d));
        for (int p = 0; p < 50; ++p) comms.Model().MakeProperty(dev, {"Prop" + std::to_string(p), p % 4, p});
    }
}

void BM_IdleTick10000Links(benchmark::State& state) {
    NullHost host;
    Engine comms(host);
    comms.Start();
    BuildPlant(comms);
    for (auto _ : state) comms.Tick();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IdleTick10000Links)->Unit(benchmark::kMicrosecond);

// The tick visits only links with work: 100,000 idle links cost what 10,000 do.
void BM_IdleTick100000Links(benchmark::State& state) {
    NullHost host;
    Engine comms(host);
    comms.Start();
    BuildPlant(comms, 2000);
    for (auto _ : state) comms.Tick();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IdleTick100000Links)->Unit(benchmark::kMicrosecond);

// Ten requests waiting for replies that never come: they are repeated and given up on, and the
// links ask again, so every slot stays busy.
void BM_TickTenRequestsInFlight(benchmark::State& state) {
    NullHost host;
    Engine comms(host);
    comms.Start();
    CountingLine line;
    comms.Line().AttachSerial(&line);
    BuildPlant(comms);
    std::vector<KRemoteLink*> busy;
    for (int i = 0; i < 10; ++i)
        busy.push_back(comms.Model().devices.Object(static_cast<std::size_t>(i * 7))->links.Object(3));
    for (auto _ : state) {
        for (KRemoteLink* l : busy)
            if (l->state != LinkState::GET) l->RequestRead();
        comms.Tick();
    }
    state.counters["bytes_sent"] = static_cast<double>(line.bytes);
}
BENCHMARK(BM_TickTenRequestsInFlight)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace korva
