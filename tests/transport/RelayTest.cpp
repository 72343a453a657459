// Two relays in one process, joined over loopback: a listening side with the serial line and a
// side that connects to it. Raw sockets stand in for a peer where the test needs exact bytes.
// How a byte stream is cut into packets is the framer's test (tests/packet) and fuzz target.
#include <QRegularExpression>
#include <QTcpSocket>
#include <QElapsedTimer>
#include <QtTest>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "support/FakeHost.h"
#include "support/TempDir.h"
#include "transport/Relay.h"

using namespace korva;
using test::MakePacket;

namespace {

constexpr int kPatienceMs = 5000;

// One copy of the program without its window: the router sends towards the peer through the relay.
struct Endpoint : test::FakeHost {
    explicit Endpoint(std::uint8_t ownAddress, std::uint16_t port = 0, RelayAccess access = {})
        : relay(comms.Line(), Boxes(), port, std::move(access)) {
        comms.Line().SetOwnAddress(ownAddress);
        comms.Line().AttachSerial(&serialPort);  // closed unless a test opens it
    }
    TcpRelay::Indicators Boxes() {
        return {[this](bool on) { masterBox = on; }, [this](bool on) { slaveBox = on; },
                [this](bool on) { waitBox = on; }};
    }

    // The packets taken for this program as raw bytes, oldest first, read off their trace lines
    // (they reach their links as they come, so the queue is empty again by now); taken only once.
    std::vector<std::string> TakeQueued() {
        std::vector<std::string> out;
        for (const std::string& line : log) {
            if (line.rfind("rx: [", 0) != 0) continue;
            std::string raw;
            for (std::size_t i = 5; i + 1 < line.size() && line[i] != ']'; i += 3)
                raw += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
            out.push_back(raw);
        }
        std::erase_if(log, [](const std::string& line) { return line.rfind("rx: [", 0) == 0; });
        return out;
    }

    Engine comms{*this};
    TcpRelay relay;
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
    // Connects from `from` and waits until the listening side has taken or refused the peer.
    bool Taken(Endpoint& server, const QString& from) {
        QTcpSocket s;
        s.bind(QHostAddress(from));
        s.connectToHost(QHostAddress::LocalHost, server.relay.Port());
        if (!s.waitForConnected(kPatienceMs)) return false;
        const std::size_t logged = server.log.size();
        WaitFor([&] { return server.relay.ActiveConnections() == 1 || server.log.size() > logged; });
        const bool taken = server.relay.ActiveConnections() == 1;
        s.abort();
        return WaitFor([&] { return server.relay.ActiveConnections() == 0; }) && taken;
    }

  private slots:
    void init() {
        // A write on a closed socket, or any other complaint of the socket layer, fails the test.
        QTest::failOnWarning(QRegularExpression("."));
        slave_ = std::make_unique<Endpoint>(kSlaveAddress);
        slave_->relay.ListenForRemote();
        QVERIFY(slave_->relay.Listening());
        QVERIFY(slave_->waitBox);
        QCOMPARE(slave_->relay.Mode(), RelayMode::Listening);
        master_ = std::make_unique<Endpoint>(kMasterAddress, slave_->relay.Port());
    }
    void cleanup() {
        master_.reset();
        slave_.reset();
    }

    void masterAndSlaveCarryPacketsBothWays() {
        QVERIFY(Join());
        QCOMPARE(master_->relay.Mode(), RelayMode::MasterConnected);
        QCOMPARE(slave_->relay.Mode(), RelayMode::SlaveConnected);
        QVERIFY(master_->masterBox && slave_->slaveBox && !slave_->masterBox);

        master_->comms.Line().Route(kToSlave);  // bit 3 of 140: towards the peer
        QVERIFY(Received(*slave_, kToSlave.WireSize()));
        QCOMPARE(slave_->TakeQueued(), std::vector<std::string>{EncodeRaw(kToSlave)});
        // The request is acknowledged as soon as it arrives, then the reply follows.
        const BusPacket ack = MakePacket({kMasterAddress, kSlaveAddress, 0x8A});
        slave_->comms.Line().Route(kToMaster);  // bit 3 of 108
        QVERIFY(Received(*master_, ack.WireSize() + kToMaster.WireSize()));
        QCOMPARE(master_->TakeQueued(), (std::vector<std::string>{EncodeRaw(ack), EncodeRaw(kToMaster)}));
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
        master_->serialPort.hold = portOpen ? BusPort::Hold::Master : BusPort::Hold::Down;
        const BusPacket p = MakePacket({dest, kSlaveAddress, 0x8A}, {0x10, 1});
        slave_->relay.Send(EncodeRaw(p));
        QVERIFY(Received(*master_, p.WireSize()));
        QCOMPARE(master_->TakeQueued().size(), std::size_t(queued ? 1 : 0));
        QCOMPARE(master_->serial.size(), std::size_t(toLine ? 1 : 0));
        if (toLine) QCOMPARE(master_->serial[0], EncodeSerial(p));
    }

    void lostClientPutsTheListenerBackToListening() {
        QVERIFY(Join());
        // One peer at a time: a second one is refused, and the log says why.
        auto refused = std::make_unique<QTcpSocket>();
        refused->connectToHost(QHostAddress::LocalHost, slave_->relay.Port());
        QTRY_COMPARE_WITH_TIMEOUT(refused->state(), QAbstractSocket::UnconnectedState, kPatienceMs);
        QVERIFY(slave_->log.size() == 1 && slave_->log[0].find("one peer at a time") != std::string::npos);
        QCOMPARE(slave_->relay.ActiveConnections(), 1);
        // Listening closes the client socket; the port is taken, so this side says so and stays idle.
        master_->relay.ListenForRemote();
        QVERIFY(!master_->relay.Connected() && !master_->masterBox && !master_->waitBox);
        QCOMPARE(master_->relay.Mode(), RelayMode::None);
        QVERIFY(!master_->relay.Listening());
        QVERIFY(master_->log.size() == 1 && master_->log[0].find("cannot listen") != std::string::npos);
        QTRY_COMPARE_WITH_TIMEOUT(slave_->relay.ActiveConnections(), 0, kPatienceMs);
        std::unique_ptr<QTcpSocket> second = RawClient();
        QVERIFY(second);
        QCOMPARE(slave_->relay.Mode(), RelayMode::SlaveConnected);
        slave_->comms.Line().Route(kToMaster);
        QVERIFY(WaitFor([&] { return second->bytesAvailable() >= qint64(kToMaster.WireSize()); }));
        QCOMPARE(second->readAll().toStdString(), EncodeRaw(kToMaster));

        second->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(slave_->relay.Mode(), RelayMode::Listening, kPatienceMs);
        QVERIFY(!slave_->slaveBox && slave_->waitBox && slave_->relay.Listening());
        QCOMPARE(slave_->relay.ActiveConnections(), 0);

        QVERIFY(Join());  // a new client is taken and answered
        QCOMPARE(slave_->relay.Mode(), RelayMode::SlaveConnected);
        QVERIFY(slave_->slaveBox);
        slave_->comms.Line().Route(kToMaster);
        QVERIFY(Received(*master_, kToMaster.WireSize()));
        QCOMPARE(master_->TakeQueued(), std::vector<std::string>{EncodeRaw(kToMaster)});
    }

    void lostMasterConnectionEndsMasterMode() {
        QVERIFY(Join());
        slave_.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!master_->relay.Connected(), kPatienceMs);
        QCOMPARE(master_->relay.Mode(), RelayMode::None);
        QVERIFY(!master_->masterBox);
        master_->comms.Line().Route(kToSlave);  // nowhere to go, and no complaint
    }

    void nothingGoesOutWithoutAConnection() {
        // Sent without a connection, a packet is not kept for later either.
        master_->comms.Line().Route(kToSlave);
        master_->relay.Send(EncodeRaw(kToSlave));
        slave_->relay.Send(EncodeRaw(kToMaster));
        QVERIFY(Join());
        QCOMPARE(slave_->relay.Mode(), RelayMode::SlaveConnected);
        master_->relay.Send(kMarker);
        QVERIFY(Received(*slave_, kMarker.size()));
        QCOMPARE(slave_->TakeQueued(), std::vector<std::string>{kMarker});
        QCOMPARE(master_->relay.BytesReceived(), std::uint64_t(0));
        QCOMPARE(slave_->relay.BytesReceived(), std::uint64_t(kMarker.size()));
    }
    // Who gets in: 127.0.0.2 stands for a remote host.
    void accessFollowsRelayXml_data() {
        QTest::addColumn<QString>("file");  // config/relay.xml; "-" for none, "fifo" for a pipe
        QTest::addColumn<QString>("problem");
        QTest::addColumn<bool>("local");   // a peer from 127.0.0.1 is taken
        QTest::addColumn<bool>("remote");  // and one from 127.0.0.2
        QTest::newRow("no file: loopback") << "-"
                                           << "" << true << true;
        QTest::newRow("allow-list") << "<relay listen='0.0.0.0' allow='10.1.2.3, 127.0.0.1'/>"
                                    << "" << true << false;
        QTest::newRow("no allow-list") << "<relay listen='0.0.0.0'/>"
                                       << "" << false << false;
        QTest::newRow("bad address") << "<relay listen='0.0.0.0' allow='127.0.0.2 10.1.2.x'/>"
                                     << "10.1.2.x" << true << true;
        QTest::newRow("bad listen") << "<relay listen='all'/>"
                                    << "all" << true << true;
        QTest::newRow("a pipe") << "fifo"
                                << "a pipe" << true << true;
        // "::" listens for both families: an IPv4 peer reaches it.
        QTest::newRow("dual-stack") << "<relay listen='::' allow='127.0.0.1'/>"
                                    << "" << true << false;
        QTest::newRow("bad idle") << "<relay listen='0.0.0.0' allow='127.0.0.1' idle='-1'/>"
                                  << "idle" << true << true;
    }
    void accessFollowsRelayXml() {
        QFETCH(QString, file);
        QFETCH(QString, problem);
        QFETCH(bool, local);
        QFETCH(bool, remote);
        test::TempDir dir;
        const std::string path = dir.Path() + "/config/relay.xml";
        if (file == "fifo") {
            dir.Write("config/x", "");
            QCOMPARE(::mkfifo(path.c_str(), 0600), 0);
        } else if (file != "-") {
            dir.Write("config/relay.xml", file.toStdString());
        }
        std::string why;
        Endpoint server(kSlaveAddress, 0, RelayAccess::Read(dir.Path(), why));
        QVERIFY2(problem.isEmpty() ? why.empty() : why.find(problem.toStdString()) != std::string::npos,
                 why.c_str());
        server.relay.ListenForRemote();
        QVERIFY(server.relay.Listening());
        QCOMPARE(Taken(server, "127.0.0.1"), local);
        QCOMPARE(Taken(server, "127.0.0.2"), remote);
        const std::size_t refusals =
            std::count_if(server.log.begin(), server.log.end(),
                          [](const std::string& l) { return l.find("refused") != std::string::npos; });
        QCOMPARE(refusals, std::size_t(!local + !remote));
    }

    // A peer that sends nothing gives up the one slot after the idle time; one that talks keeps it.
    void idlePeerGivesUpTheSlot() {
        RelayAccess access;
        access.idleSeconds = 1;
        Endpoint server(kSlaveAddress, 0, access);
        server.relay.ListenForRemote();
        QTcpSocket talker;
        talker.connectToHost(QHostAddress::LocalHost, server.relay.Port());
        QVERIFY(WaitFor([&] { return server.relay.ActiveConnections() == 1; }));
        QElapsedTimer quiet;           // since the talker's last packet
        for (int i = 0; i < 6; ++i) {  // 1.8 s of a packet every 0.3 s
            talker.write(kMarker.data(), qint64(kMarker.size()));
            quiet.start();
            QTest::qWait(300);
            QCOMPARE(server.relay.ActiveConnections(), 1);
        }
        QTcpSocket waiting;  // refused while the talker holds the slot
        waiting.connectToHost(QHostAddress::LocalHost, server.relay.Port());
        QVERIFY(WaitFor([&] { return waiting.state() == QAbstractSocket::UnconnectedState; }));
        QVERIFY(WaitFor([&] { return server.relay.ActiveConnections() == 0; }));
        QVERIFY(quiet.elapsed() >= 900);
        QVERIFY2(server.log.back().find("sent nothing for 1 s") != std::string::npos,
                 server.log.back().c_str());
        QCOMPARE(server.relay.Mode(), RelayMode::Listening);
        QTcpSocket next;  // the slot is free again
        next.connectToHost(QHostAddress::LocalHost, server.relay.Port());
        QVERIFY(WaitFor([&] { return server.relay.ActiveConnections() == 1; }));
    }

    // A peer that stops reading is dropped once 256 KB wait for it; its keepalive is on.
    void nonReadingPeerIsDropped() {
        std::unique_ptr<QTcpSocket> peer = RawClient();
        QVERIFY(peer);
        const auto option = [fd = int(slave_->relay.PeerDescriptor())](int level, int name) {
            int value = -1;
            socklen_t size = sizeof value;
            return ::getsockopt(fd, level, name, &value, &size) == 0 ? value : -1;
        };
        QCOMPARE(option(SOL_SOCKET, SO_KEEPALIVE), 1);
        QCOMPARE(option(IPPROTO_TCP, TCP_KEEPIDLE) * 100 + option(IPPROTO_TCP, TCP_KEEPINTVL) * 10 +
                     option(IPPROTO_TCP, TCP_KEEPCNT),
                 60 * 100 + 10 * 10 + 3);
        peer->setReadBufferSize(1);  // the test's own socket must not take it all in either
        const std::string block(4096, '\x11');
        std::size_t sent = 0;
        while (slave_->relay.ActiveConnections() == 1 && sent < (64u << 20)) {
            slave_->relay.Send(block);
            sent += block.size();
            QCoreApplication::processEvents();
        }
        QCOMPARE(slave_->relay.ActiveConnections(), 0);
        QVERIFY(slave_->log.back().find("does not read") != std::string::npos);
        QCOMPARE(slave_->relay.Mode(), RelayMode::Listening);
        qInfo("dropped after %zu KB sent", sent >> 10);
    }

    // Garbage is taken in and skipped, and the peer stays; how regularly the tick runs meanwhile is
    // bench_relay's measure.
    void floodIsTakenIn() {
        std::unique_ptr<QTcpSocket> peer = RawClient();
        QVERIFY(peer);
        const std::string garbage(4u << 20, '\xFF');
        peer->write(garbage.data(), qint64(garbage.size()));
        QVERIFY(QTest::qWaitFor([&] { return slave_->relay.BytesReceived() >= garbage.size(); }, 60000));
        QCOMPARE(slave_->relay.ActiveConnections(), 1);
        QVERIFY(slave_->TakeQueued().empty());
    }

    // Out of descriptors, accepting says so, then takes the peer once descriptors are back.
    void acceptFailurePauses() {
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, slave_->relay.Port());
        QVERIFY(peer.waitForConnected(kPatienceMs));
        rlimit old{};
        ::getrlimit(RLIMIT_NOFILE, &old);
        const rlimit low{256, old.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
        std::vector<int> filler;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) filler.push_back(fd);
        QTest::qWait(200);  // the CPU this takes is bench_relay's measure
        for (int fd : filler) ::close(fd);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &old), 0);
        QVERIFY(!slave_->log.empty() && slave_->log[0].find("cannot take a connection") != std::string::npos);
        QTRY_COMPARE_WITH_TIMEOUT(slave_->relay.ActiveConnections(), 1, kPatienceMs);
    }
};

QTEST_GUILESS_MAIN(RelayTest)
#include "RelayTest.moc"
