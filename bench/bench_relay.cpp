// The relay's listening side under load: how regularly the 10 ms tick runs while a peer floods it
// with 32 MB that the framer must skip byte by byte, and the CPU the program burns while it has no
// descriptor left to take a waiting peer with.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

#include "support/FakeHost.h"
#include "transport/Relay.h"

namespace korva {
namespace {

struct Listener : test::FakeHost {
    Listener() : relay(comms.Line(), {[](bool) {}, [](bool) {}, [](bool) {}}, 0, {}) {
        comms.Line().SetOwnAddress(140);
        relay.ListenForRemote();
    }
    Engine comms{*this};
    TcpRelay relay;
};

// Sleeps in the event loop between events, woken at least every 10 ms to look at the clock.
bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(10);
    QEventLoop loop;
    while (!done() && clock.elapsed() < ms) loop.processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

void BM_FloodTickGap(benchmark::State& state) {
    const std::string garbage(32u << 20, '\xFF');  // every byte is skipped: the worst case for the framer
    qint64 worst = 0;
    for (auto _ : state) {
        Listener slave;
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, slave.relay.Port());
        if (!WaitFor([&] { return slave.relay.ActiveConnections() == 1; }, 5000)) {
            state.SkipWithError("no connection");
            return;
        }
        QElapsedTimer clock;
        qint64 last = 0;
        worst = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            worst = std::max(worst, clock.elapsed() - last);
            last = clock.elapsed();
        });
        peer.write(garbage.data(), qint64(garbage.size()));
        clock.start();
        tick.start(10);
        if (!WaitFor([&] { return slave.relay.BytesReceived() >= garbage.size(); }, 60000))
            state.SkipWithError("flood not taken in");
    }
    state.counters["worst_tick_gap_ms"] = static_cast<double>(worst);  // a whole-flood read took 350
}
BENCHMARK(BM_FloodTickGap)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Out of descriptors for half a second with a peer waiting: accepting pauses instead of spinning.
void BM_AcceptFailureCpu(benchmark::State& state) {
    long cpuMs = 0;
    for (auto _ : state) {
        Listener slave;
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, slave.relay.Port());
        peer.waitForConnected(5000);
        // A first log line while descriptors are left: a sanitizer build checks the call's type
        // once, and that check itself needs a descriptor.
        slave.comms.Line().AddLogLine("peer waiting");
        rlimit old{};
        ::getrlimit(RLIMIT_NOFILE, &old);
        const rlimit low{256, old.rlim_max};
        ::setrlimit(RLIMIT_NOFILE, &low);
        std::vector<int> filler;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) filler.push_back(fd);
        const std::clock_t before = std::clock();
        WaitFor([] { return false; }, 500);
        cpuMs = long(std::clock() - before) * 1000 / CLOCKS_PER_SEC;
        for (int fd : filler) ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &old);
    }
    state.counters["cpu_ms_in_500ms"] = static_cast<double>(cpuMs);  // under 150 with the pause
}
BENCHMARK(BM_AcceptFailureCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace korva

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
