// Two relays in one process, joined over loopback: a listening side with the serial line and a
// side that connects to it. Raw sockets stand in for a peer where the test needs exact bytes.
#include <QRegularExpression>
#include <QTcpSocket>
#include <QtTest>

#include <functional>
#include <random>
#include <memory>
#include <vector>

#include "support/FakeHost.h"
#include "transport/Relay.h"

using namespace korva;
using test::MakePacket;

namespace {

constexpr int kPatienceMs = 5000;

// One copy of the program without its window: the router sends towards the peer through the relay.
struct Endpoint : CommsHost {
    explicit Endpoint(std::uint8_t ownAddress, std::uint16_t port = 0)
        : relay(comms, Boxes(), port, QHostAddress::LocalHost) {
        comms.SetOwnAddress(ownAddress);
    }
    TcpRelay::Indicators Boxes() {
        return {[this](bool on) { masterBox = on; }, [this](bool on) { slaveBox = on; },
                [this](bool on) { waitBox = on; }};
    }
    void AddLogLine(const std::string& line) override { log.push_back(line); }
    void RefreshDeviceTree() override {}
    void SendSerial(const std::string& text) override { serial.push_back(text); }
    void SendTcp(const std::string& bytes) override { relay.Send(bytes); }
    void RequestClose() override {}

    // The queued packets as raw bytes, oldest first; the queue is emptied.
    std::vector<std::string> TakeQueued() {
        std::vector<std::string> out;
        BusPacket p;
        while (comms.Queue().Pop(p)) out.push_back(EncodeRaw(p));
        return out;
    }

    Comms comms{*this};
    TcpRelay relay;
    std::vector<std::string> serial, log;
    bool masterBox = false, slaveBox = false, waitBox = false;
};

constexpr std::uint8_t kMasterAddress = 108;
constexpr std::uint8_t kSlaveAddress = 140;
const BusPacket kToSlave = MakePacket({kSlaveAddress, kMasterAddress, 0x89}, {0x10});
const BusPacket kToMaster = MakePacket({kMasterAddress, kSlaveAddress, 0x8A}, {0x10, 0x05, 0xAA});
// Addressed to the receiver, so that its arrival shows that everything sent before it was handled.
const std::string kMarker = EncodeRaw(MakePacket({kSlaveAddress, 0x23, 0x7A}, {9}));

}  // namespace

class RelayTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Endpoint> slave_, master_;

    static bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, kPatienceMs); }
    // Waits until the endpoint has read this many bytes from its peers in all.
    static bool Received(Endpoint& e, std::uint64_t bytes) {
        return WaitFor([&] { return e.relay.BytesReceived() >= bytes; });
    }
    bool Join() {
        master_->relay.ConnectToRemote("127.0.0.1");
        return WaitFor([&] { return master_->relay.Connected() && slave_->relay.ActiveConnections() == 1; });
    }
    // A raw peer connected to the listening side; null when it could not connect.
    std::unique_ptr<QTcpSocket> RawClient() {
        auto s = std::make_unique<QTcpSocket>();
        const int before = slave_->relay.ActiveConnections();
        s->connectToHost(QHostAddress::LocalHost, slave_->relay.Port());
        if (!WaitFor([&] { return slave_->relay.ActiveConnections() == before + 1; })) return nullptr;
        return s;
    }
    // Writes, then waits until the listening side has read it all.
    bool Write(QTcpSocket& peer, const std::string& bytes) {
        const std::uint64_t before = slave_->relay.BytesReceived();
        peer.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return Received(*slave_, before + bytes.size());
    }

private slots:
    void init() {
        // A write on a closed socket, or any other complaint of the socket layer, fails the test.
        QTest::failOnWarning(QRegularExpression("."));
        slave_ = std::make_unique<Endpoint>(kSlaveAddress);
        slave_->relay.ListenForRemote();
        QVERIFY(slave_->relay.Listening());
        QVERIFY(slave_->waitBox);
        QCOMPARE(slave_->comms.relayMode, RelayMode::Listening);
        master_ = std::make_unique<Endpoint>(kMasterAddress, slave_->relay.Port());
    }
    void cleanup() {
        master_.reset();
        slave_.reset();
    }

    void masterAndSlaveCarryPacketsBothWays() {
        QVERIFY(Join());
        QCOMPARE(master_->comms.relayMode, RelayMode::MasterConnected);
        QCOMPARE(slave_->comms.relayMode, RelayMode::SlaveConnected);
        QVERIFY(master_->masterBox && slave_->slaveBox && !slave_->masterBox);

        master_->comms.Route(kToSlave);  // bit 3 of 140: towards the peer
        QVERIFY(Received(*slave_, kToSlave.WireSize()));
        QCOMPARE(slave_->TakeQueued(), std::vector<std::string>{EncodeRaw(kToSlave)});
        slave_->comms.Route(kToMaster);  // bit 3 of 108
        QVERIFY(Received(*master_, kToMaster.WireSize()));
        QCOMPARE(master_->TakeQueued(), std::vector<std::string>{EncodeRaw(kToMaster)});
        QVERIFY(master_->serial.empty() && slave_->serial.empty());
    }

    void masterSideDropsOtherNodesWhileItsLineIsOpen_data() {
        QTest::addColumn<int>("dest");
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<bool>("queued");
        QTest::addColumn<bool>("toLine");
        QTest::newRow("other node, line open") << 0x24 << true << false << false;
        QTest::newRow("other node, line closed") << 0x24 << false << false << true;
        QTest::newRow("own address, line open") << int(kMasterAddress) << true << true << false;
        QTest::newRow("own address, line closed") << int(kMasterAddress) << false << true << false;
    }
    void masterSideDropsOtherNodesWhileItsLineIsOpen() {
        QFETCH(int, dest);
        QFETCH(bool, portOpen);
        QFETCH(bool, queued);
        QFETCH(bool, toLine);
        QVERIFY(Join());
        master_->comms.portOpen = portOpen;
        const BusPacket p = MakePacket({dest, kSlaveAddress, 0x8A}, {0x10, 1});
        slave_->relay.Send(EncodeRaw(p));
        QVERIFY(Received(*master_, p.WireSize()));
        QCOMPARE(master_->TakeQueued().size(), std::size_t(queued ? 1 : 0));
        QCOMPARE(master_->serial.size(), std::size_t(toLine ? 1 : 0));
        if (toLine) QCOMPARE(master_->serial[0], EncodeSerial(p));
    }

    // Exact bytes from a raw peer: however they are cut, each connection's packets come out whole.
    void framingOnTheListeningSide() {
        const std::string a = EncodeRaw(kToSlave);
        const std::string b = EncodeRaw(MakePacket({kSlaveAddress, 0x22, 0x8A}, {0x10, 0x01, 0x02}));
        std::string bad = b;
        bad[4] = static_cast<char>(bad[4] ^ 0x01);
        std::unique_ptr<QTcpSocket> one = RawClient(), two = RawClient();
        QVERIFY(one && two);

        QVERIFY(Write(*one, a + b));  // two packets in one write
        QCOMPARE(slave_->TakeQueued(), (std::vector<std::string>{a, b}));
        QVERIFY(Write(*one, b.substr(0, 3)));  // a split packet, with another connection's packet between
        QVERIFY(Write(*two, a));
        QCOMPARE(slave_->TakeQueued(), std::vector<std::string>{a});
        QVERIFY(Write(*one, b.substr(3)));
        QCOMPARE(slave_->TakeQueued(), std::vector<std::string>{b});
        QVERIFY(Write(*two, bad + a));  // a wrong checksum: dropped without a trace line, the next one taken
        QCOMPARE(slave_->TakeQueued(), std::vector<std::string>{a});
        for (const std::string& line : slave_->log) QVERIFY2(line.rfind("rx: [", 0) == 0, line.c_str());
        QCOMPARE(slave_->log.size(), std::size_t(5));
    }

    void lostClientPutsTheListenerBackToListening() {
        QVERIFY(Join());
        std::unique_ptr<QTcpSocket> second = RawClient();
        QVERIFY(second);
        // Listening closes the client socket; the port is taken, so this side does not listen.
        master_->relay.ListenForRemote();
        QVERIFY(!master_->relay.Connected() && !master_->masterBox);
        QCOMPARE(master_->comms.relayMode, RelayMode::Listening);
        QTRY_COMPARE_WITH_TIMEOUT(slave_->relay.ActiveConnections(), 1, kPatienceMs);
        // The client that is left becomes connection 0 and is answered.
        QCOMPARE(slave_->comms.relayMode, RelayMode::SlaveConnected);
        slave_->comms.Route(kToMaster);
        QVERIFY(WaitFor([&] { return second->bytesAvailable() >= qint64(kToMaster.WireSize()); }));
        QCOMPARE(second->readAll().toStdString(), EncodeRaw(kToMaster));

        second->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(slave_->comms.relayMode, RelayMode::Listening, kPatienceMs);
        QVERIFY(!slave_->slaveBox && slave_->waitBox && slave_->relay.Listening());
        QCOMPARE(slave_->relay.ActiveConnections(), 0);

        QVERIFY(Join());  // a new client is taken and answered
        QCOMPARE(slave_->comms.relayMode, RelayMode::SlaveConnected);
        QVERIFY(slave_->slaveBox);
        slave_->comms.Route(kToMaster);
        QVERIFY(Received(*master_, kToMaster.WireSize()));
        QCOMPARE(master_->TakeQueued(), std::vector<std::string>{EncodeRaw(kToMaster)});
    }

    void randomBytesFromAPeerLeaveTheRelayWorking() {
        std::unique_ptr<QTcpSocket> peer = RawClient();
        QVERIFY(peer);
        std::mt19937 rng(9);
        std::string noise(256 * 1024, '\0');
        for (char& c : noise) c = static_cast<char>(rng() & 0xFF);
        QVERIFY(Write(*peer, noise));
        slave_->TakeQueued();  // whatever the noise happened to frame
        // Nine high bytes put any framing back in step; then a real packet is taken whole.
        QVERIFY(Write(*peer, std::string(9, '\xFF') + kMarker));
        const std::vector<std::string> queued = slave_->TakeQueued();
        QVERIFY(!queued.empty());
        QCOMPARE(queued.back(), kMarker);
        QCOMPARE(slave_->comms.relayMode, RelayMode::SlaveConnected);
    }

    void lostMasterConnectionEndsMasterMode() {
        QVERIFY(Join());
        slave_.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!master_->relay.Connected(), kPatienceMs);
        QCOMPARE(master_->comms.relayMode, RelayMode::None);
        QVERIFY(!master_->masterBox);
        master_->comms.Route(kToSlave);  // nowhere to go, and no complaint
    }

    void nothingGoesOutWithoutAConnection() {
        // Each mode claimed without a socket behind it: the packet is not kept for later either.
        master_->comms.Route(kToSlave);
        master_->comms.relayMode = RelayMode::MasterConnected;
        master_->comms.Route(kToSlave);
        slave_->comms.relayMode = RelayMode::SlaveConnected;
        slave_->comms.Route(kToMaster);
        slave_->comms.relayMode = RelayMode::Listening;
        QVERIFY(Join());
        QCOMPARE(slave_->comms.relayMode, RelayMode::SlaveConnected);
        master_->relay.Send(kMarker);
        QVERIFY(Received(*slave_, kMarker.size()));
        QCOMPARE(slave_->TakeQueued(), std::vector<std::string>{kMarker});
        QCOMPARE(master_->relay.BytesReceived(), std::uint64_t(0));
        QCOMPARE(slave_->relay.BytesReceived(), std::uint64_t(kMarker.size()));
    }
};

QTEST_GUILESS_MAIN(RelayTest)
#include "RelayTest.moc"
