// The packet trace: recording and decoding at a busy line's rate, the memory of a full ring, a
// filter over it, and opening a large capture file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "packet/CaptureLine.h"
#include "trace/CaptureFile.h"
#include "trace/TraceFilter.h"

namespace {

using namespace korva;

// Five devices of twenty properties each, as a larger plant than the demo has.
struct Plant {
    Plant() {
        for (int d = 0; d < 5; ++d) {
            KDevice& dev =
                model.MakeDevice("Device" + std::to_string(d), static_cast<std::uint8_t>(0x22 + d));
            for (int p = 0; p < 20; ++p)
                model.MakeProperty(dev, LinkSpec("Property" + std::to_string(p), p % 4, 10 + p));
        }
    }
    KModel model;
};

// A read request and its reply for every property, in turn.
std::vector<BusPacket> Traffic() {
    std::vector<BusPacket> out;
    for (int d = 0; d < 5; ++d)
        for (int p = 0; p < 20; ++p) {
            BusPacket req;
            req.dest = static_cast<std::uint8_t>(0x22 + d);
            req.source = 0x6C;
            req.code = code::kRead;
            req.length = 1;
            req.data[0] = static_cast<std::uint8_t>(10 + p);
            StoreChecksum(req);
            BusPacket rep = req;
            std::swap(rep.dest, rep.source);
            rep.code = 0x8A;
            rep.length = p % 4 == 1 ? 2 : p % 4 == 3 ? 4 : 3;
            rep.data[1] = 1;
            rep.data[2] = 2;
            rep.data[3] = 3;
            StoreChecksum(rep);
            out.push_back(req);
            out.push_back(rep);
        }
    return out;
}

TraceBuffer& Full(const std::vector<BusPacket>& traffic) {
    static TraceBuffer buffer;
    if (buffer.Size() == 0)
        for (std::size_t i = 0; i < TraceBuffer::kDefaultCapacity; ++i)
            buffer.Append(TraceRecord::From(static_cast<std::int64_t>(i),
                                            i % 2 ? PacketPath::Received : PacketPath::Sent,
                                            traffic[i % traffic.size()]));
    return buffer;
}

// What one packet costs: stamped into a record and appended (as the window's flush does), then
// decoded into names and value (as a visible row or a CSV line is). The counter is the share of
// one core, in percent, that 100,000 packets a second would take.
void BM_AppendAndDecode(benchmark::State& state) {
    Plant plant;
    const TraceDecoder decoder(plant.model);
    const std::vector<BusPacket> traffic = Traffic();
    TraceBuffer buffer;
    std::size_t i = 0;
    for (auto _ : state) {
        const BusPacket& p = traffic[i++ % traffic.size()];
        buffer.Append(TraceRecord::From(static_cast<std::int64_t>(i), PacketPath::Received, p));
        const DecodedPacket d = decoder.Decode(buffer.At(buffer.End() - 1).Packet(), PacketPath::Received);
        benchmark::DoNotOptimize(d.value.data());
    }
    state.SetItemsProcessed(state.iterations());
    // Seconds per packet times 100,000 packets a second times 100.
    state.counters["percent_of_a_core_at_100k_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) / 1e7,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AppendAndDecode);

// The append alone, which is all the ring does while no one looks.
void BM_AppendOnly(benchmark::State& state) {
    const std::vector<BusPacket> traffic = Traffic();
    TraceBuffer buffer;
    std::size_t i = 0;
    for (auto _ : state) {
        buffer.Append(TraceRecord::From(static_cast<std::int64_t>(i), PacketPath::Received,
                                        traffic[i % traffic.size()]));
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendOnly);

// The memory of a full ring of 1,000,000 records.
void BM_FullRingMemory(benchmark::State& state) {
    const TraceBuffer& buffer = Full(Traffic());
    for (auto _ : state) benchmark::DoNotOptimize(buffer.Size());
    state.counters["records"] = static_cast<double>(buffer.Size());
    state.counters["MiB"] = static_cast<double>(buffer.Capacity() * sizeof(TraceRecord)) / (1 << 20);
}
BENCHMARK(BM_FullRingMemory)->Iterations(1);

// Filters over a full ring: a device and a direction (fields only), and a word (every row decoded).
void BM_Filter1M(benchmark::State& state) {
    Plant plant;
    const TraceDecoder decoder(plant.model);
    const TraceBuffer& buffer = Full(Traffic());
    TraceFilter f;
    if (state.range(0) == 0) {
        f.device = 0x24;
        f.paths = 1u << static_cast<unsigned>(PacketPath::Received);
    } else {
        f.text = "property17";
    }
    std::size_t rows = 0;
    for (auto _ : state) rows = FilterTrace(buffer, f, decoder).size();
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_Filter1M)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The process's resident memory in KiB, now (VmRSS) or at its peak since the last Reset (VmHWM).
struct Memory {
    static void Reset() { std::ofstream("/proc/self/clear_refs") << "5"; }
    static long KiB(const std::string& field) {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
        return -1;
    }
};

// Opening a capture of the given size in MiB (490 MiB is 514 MB): the newest million packets are kept, the
// file is read a piece at a time. The counters are the file's size and how far the peak memory rose over what
// the process held before, both in MiB.
void BM_OpenLargeCapture(benchmark::State& state) {
    const std::string path = std::filesystem::temp_directory_path() / "korva-bench-large.kcap";
    const std::vector<BusPacket> traffic = Traffic();
    {
        std::ofstream out(path, std::ios::binary);
        out << kCaptureHeader << "\n";
        const std::int64_t noon = 1796644800LL * 1000000;
        std::string chunk;
        for (std::int64_t i = 0; static_cast<long>(out.tellp()) < (state.range(0) << 20); ++i) {
            chunk += FormatCaptureLine(noon + i * 500, i % 2 ? PacketPath::Received : PacketPath::Sent,
                                       traffic[static_cast<std::size_t>(i) % traffic.size()]) +
                     "\n";
            if (chunk.size() > (1 << 20)) {
                out << chunk;
                chunk.clear();
            }
        }
        out << chunk;
    }
    const double fileMiB = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
    double rise = 0;
    std::size_t taken = 0;
    for (auto _ : state) {
        TraceBuffer into;
        state.PauseTiming();
        Memory::Reset();
        const long before = Memory::KiB("VmRSS:");
        state.ResumeTiming();
        // 0: piece by piece, as "Open Capture" reads; 1: the whole file read first, then parsed.
        taken = state.range(1) == 0 ? LoadCaptureFile(path, into).taken
                                    : ReadCapture(ReadRegularFile(path, std::size_t{512} << 20), into).taken;
        rise = static_cast<double>(Memory::KiB("VmHWM:") - before) / 1024;
    }
    std::filesystem::remove(path);
    state.counters["file_MiB"] = fileMiB;
    state.counters["peak_rise_MiB"] = rise;
    state.counters["packets"] = static_cast<double>(taken);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fileMiB * (1 << 20)));
}
BENCHMARK(BM_OpenLargeCapture)->Args({490, 0})->Args({490, 1})->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
