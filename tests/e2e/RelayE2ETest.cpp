// Two copies of the program joined over TCP: A has no serial line and connects to B, whose line
// runs to the demo plant served by korvasim. A reads and writes a device on B's bus.
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <memory>

#include "model/ConfigLoader.h"
#include "support/Plant.h"
#include "transport/Relay.h"

using namespace korva;

namespace {

// B: the core on the real line, and its relay on the listening side.
struct ProgramB : test::LivePlant {
    std::unique_ptr<TcpRelay> relay;
};

// A: the core with the same configuration, no line, and its relay on the connecting side.
struct ProgramA : test::FakeHost, test::FakeLoaderHost {
    ProgramA(const std::string& workDir, std::uint16_t port) : loader(comms.Model(), *this, workDir) {
        comms.Start();
        loader.LoadConfiguration();
        comms.Line().AttachSerial(&serialPort);  // A has no line: anything handed to it would be a fault
        relay = std::make_unique<TcpRelay>(comms.Line(), TcpRelay::Indicators{}, port);
    }

    Engine comms{*this};
    ConfigLoader loader;
    std::unique_ptr<TcpRelay> relay;
};

bool HasLineStarting(const std::vector<std::string>& log, const std::string& start) {
    return std::any_of(log.begin(), log.end(),
                       [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

}  // namespace

class RelayE2ETest : public QObject {
    Q_OBJECT

    // Both programs tick every 10 ms; in between, B's serial clusters and both sides' socket
    // events are handed over in turns, as one main thread each would.
    template <typename Pred>
    static bool TickBoth(ProgramA& a, ProgramB& b, Pred pred, int timeoutMs = 5000) {
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        auto next = Clock::now();
        while (!pred()) {
            if (Clock::now() >= end) return false;
            next += std::chrono::milliseconds(10);
            while (Clock::now() < next) {
                QCoreApplication::processEvents();
                const auto slice = std::min(next, Clock::now() + std::chrono::milliseconds(1));
                b.main.RunUntil([&] { return Clock::now() >= slice; }, 2);
            }
            a.comms.Tick();
            b.comms.Tick();
        }
        return true;
    }

  private slots:
    void readAndWriteADeviceOnThePeersBus() {
        ProgramB b;
        QVERIFY2(b.ready, b.sim->err.c_str());
        b.coms.OpenPort(1);
        QVERIFY(b.comms.Line().SerialUp());
        QVERIFY(b.comms.Line().SetOwnAddressFromText("140"));  // as the "Set" button beside "My Address"
        b.relay = std::make_unique<TcpRelay>(b.comms.Line(), TcpRelay::Indicators{}, 0);
        b.relay->ListenForRemote();
        QVERIFY(b.relay->Listening());

        ProgramA a(b.dir.Path(), b.relay->Port());
        QVERIFY(a.messages.empty());
        QCOMPARE(a.comms.Line().OwnAddress(), std::uint8_t(108));
        a.relay->ConnectToRemote("127.0.0.1");
        QVERIFY(TickBoth(a, b, [&] {
            return a.relay->Mode() == RelayMode::MasterConnected &&
                   b.relay->Mode() == RelayMode::SlaveConnected;
        }));

        KRemoteLink* link = a.comms.Model().FindLink("FeedPump", "SpeedSetpoint");
        KRemoteLink* bLink = b.comms.Model().FindLink("FeedPump", "SpeedSetpoint");
        QVERIFY(link && bLink);
        QCOMPARE(link->device->address, std::uint8_t(0x22));
        const auto readBack = [&] {
            link->RequestRead();
            return TickBoth(a, b, [&] { return link->state != LinkState::GET && link->pending == nullptr; });
        };
        QVERIFY(readBack());
        QCOMPARE(link->state, LinkState::KNOWN);
        QCOMPARE(link->current.ReadAsNumber(), 0);

        link->SetNewNumber(1450);
        QVERIFY(TickBoth(a, b, [&] { return link->state != LinkState::SET && link->pending == nullptr; }));
        QCOMPARE(link->state, LinkState::KNOWN);
        link->current.StoreNumber(0);
        QVERIFY(readBack());
        QCOMPARE(link->state, LinkState::KNOWN);
        QCOMPARE(link->current.ReadAsNumber(), 1450);

        // The way each packet went: A's request over TCP and out on B's line, the reply from the
        // line back over TCP to A. B's own link never saw the reply.
        QVERIFY(a.serial.empty());
        QVERIFY(HasLineStarting(a.log, "tx: (22 6C 89 01 "));
        QVERIFY(HasLineStarting(b.log, "tx: (22 6C 89 01 "));
        QVERIFY(HasLineStarting(b.log, "tx: (6C 22 8A 03 "));
        QVERIFY(HasLineStarting(a.log, "rx: [6C 22 8A 03 "));
        QVERIFY(!HasLineStarting(b.log, "rx: ["));
        QCOMPARE(bLink->state, LinkState::UNKNOWN);
    }
};

QTEST_GUILESS_MAIN(RelayE2ETest)
#include "RelayE2ETest.moc"
