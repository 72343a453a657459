#include "transport/Relay.h"

#include <cerrno>
#include <string_view>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <QRegularExpression>
#include <QStringList>

#include "xml/XmlDocument.h"

namespace korva {

// ------------------------------------------------------------------------------------ RelayAccess

bool RelayAccess::Admits(const QHostAddress& peer) const {
    if (listen.isLoopback()) return peer.isLoopback();
    for (const QHostAddress& a : allow)
        if (a.isEqual(peer, QHostAddress::TolerantConversion)) return true;
    return false;
}

RelayAccess RelayAccess::Read(const std::string& workDir, std::string& problem) {
    const std::string path = workDir + "/config/relay.xml";
    problem.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return {};
    // Whatever is wrong, the relay stays closed: a typing error must not open it to the network.
    const auto closed = [&problem, &path](const std::string& why) {
        problem = "relay: " + path + ": " + why + "; listening on the loopback address only";
        return RelayAccess{};
    };
    XmlDocument doc;
    try {
        doc.LoadXML(path);
    } catch (const FileError& e) {
        return closed(e.what());
    }
    if (!doc.error.empty() || doc.name != "relay") return closed("not a <relay> element");
    RelayAccess access;
    const std::string listen(doc.getAttribute("listen"));
    if (!listen.empty() && !access.listen.setAddress(QString::fromStdString(listen)))
        return closed("listen=\"" + listen + "\" is not an address");
    // "::" alone would listen on IPv6 only: the any-address of both families is meant.
    if (access.listen == QHostAddress(QHostAddress::AnyIPv6)) access.listen = QHostAddress(QHostAddress::Any);
    if (const std::string idle(doc.getAttribute("idle")); !idle.empty()) {
        bool ok = false;
        const int seconds = QString::fromStdString(idle).toInt(&ok);
        if (!ok || seconds < 0 || seconds > 86400)
            return closed("idle=\"" + idle + "\" is not a number of seconds from 0 to 86400");
        access.idleSeconds = seconds;
    }
    const QStringList allowed = QString::fromStdString(std::string(doc.getAttribute("allow")))
                                    .split(QRegularExpression("[\\s,]+"), Qt::SkipEmptyParts);
    for (const QString& text : allowed) {
        QHostAddress a;
        if (!a.setAddress(text))
            return closed("allow holds \"" + text.toStdString() + "\", which is not an address");
        access.allow.push_back(a);
    }
    return access;
}

// --------------------------------------------------------------------------------------- TcpRelay

TcpRelay::TcpRelay(Bus& bus, Indicators indicators, std::uint16_t port, RelayAccess access)
    : bus_(bus), indicators_(std::move(indicators)), port_(port), access_(std::move(access)) {
    connect(&csMaster, &QTcpSocket::connected, this, &TcpRelay::OnMasterConnected);
    connect(&csMaster, &QTcpSocket::disconnected, this, &TcpRelay::OnMasterDisconnected);
    connect(&csMaster, &QTcpSocket::readyRead, this, &TcpRelay::Drain);
    peerIdle_.setSingleShot(true);
    connect(&peerIdle_, &QTimer::timeout, this, [this] {
        if (!peer_) return;
        Log(QString("relay: %1 sent nothing for %2 s; disconnected, so that another peer may come")
                .arg(Name(*peer_))
                .arg(access_.idleSeconds));
        DropPeer();
    });
    connect(&ssSlave, &QTcpServer::newConnection, this, &TcpRelay::OnNewConnections);
    connect(&ssSlave, &QTcpServer::acceptError, this, &TcpRelay::OnAcceptError);
    drainTimer_.setSingleShot(true);
    drainTimer_.setInterval(0);
    connect(&drainTimer_, &QTimer::timeout, this, &TcpRelay::Drain);
    bus_.AttachRelay(this);
    acceptPause_.setSingleShot(true);
    acceptPause_.setInterval(kAcceptPauseMs);
    connect(&acceptPause_, &QTimer::timeout, this, [this] { ssSlave.resumeAccepting(); });
}

TcpRelay::~TcpRelay() {
    if (bus_.Relay() == this) bus_.AttachRelay(nullptr);
    // The sockets close as the members go, and a socket that closes reports it: nobody must
    // be listening by then.
    csMaster.disconnect(this);
    ssSlave.disconnect(this);
    if (peer_) peer_->disconnect(this);
}

BusPort::Hold TcpRelay::State() const {
    if (mode_ == RelayMode::MasterConnected) return Hold::Master;
    return mode_ == RelayMode::SlaveConnected ? Hold::Slave : Hold::Down;
}

void TcpRelay::Show(const std::function<void(bool)>& box, bool on) {
    if (box) box(on);
}

void TcpRelay::Log(const QString& line) {
    bus_.AddLogLine(line.toStdString());
}

QString TcpRelay::Name(const QTcpSocket& socket) {
    return socket.peerAddress().toString() + ":" + QString::number(socket.peerPort());
}

void TcpRelay::Tune(QTcpSocket& socket) {
    // Qt stops reading from the kernel at this much, so that a flood waits at the sender.
    socket.setReadBufferSize(4 * kReadChunk);
    // A peer that vanished without a word (cable, power) is noticed in about 90 s.
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const int fd = static_cast<int>(socket.socketDescriptor());
    for (const auto& [option, value] :
         {std::pair{TCP_KEEPIDLE, kKeepIdleS}, std::pair{TCP_KEEPINTVL, kKeepIntervalS},
          std::pair{TCP_KEEPCNT, kKeepProbes}})
        ::setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value);
}

void TcpRelay::ConnectToRemote(const QString& address) {
    // abort, not close: close would wait for unsent bytes, and the socket could not connect anew.
    csMaster.abort();
    csMaster.connectToHost(address, port_);
}

void TcpRelay::ListenForRemote() {
    csMaster.abort();
    // A server that listens already goes on listening; its peer stays.
    if (!ssSlave.isListening()) {
        if (!ssSlave.listen(access_.listen, port_)) {
            Log(QString("relay: cannot listen on %1 port %2: %3")
                    .arg(access_.listen.toString())
                    .arg(port_)
                    .arg(ssSlave.errorString()));
            mode_ = RelayMode::None;
            Show(indicators_.waitConnect, false);
            return;
        }
        port_ = ssSlave.serverPort();
    }
    mode_ = RelayMode::Listening;
    Show(indicators_.waitConnect, true);
    // A listening program with a peer answers it over TCP.
    if (peer_) {
        mode_ = RelayMode::SlaveConnected;
        Show(indicators_.slaveConnect, true);
    }
}

bool TcpRelay::Queue(QTcpSocket& socket, const std::string& bytes) {
    const auto size = static_cast<qint64>(bytes.size());
    if (socket.bytesToWrite() + size > kSendLimit) {
        Log(QString("relay: %1 does not read: %2 bytes wait unsent; disconnected")
                .arg(Name(socket))
                .arg(socket.bytesToWrite()));
        return false;
    }
    socket.write(bytes.data(), size);
    return true;
}

void TcpRelay::Send(const std::string& bytes) {
    if (mode_ == RelayMode::MasterConnected) {
        if (connected_ && !Queue(csMaster, bytes)) csMaster.abort();
    } else if (mode_ == RelayMode::SlaveConnected && peer_) {
        if (!Queue(*peer_, bytes)) DropPeer();
    }
}

void TcpRelay::OnMasterConnected() {
    connected_ = true;
    masterFramer_ = RelayFramer{};  // nothing of an earlier connection is carried over
    Tune(csMaster);
    mode_ = RelayMode::MasterConnected;
    Show(indicators_.masterConnect, true);
}

void TcpRelay::OnMasterDisconnected() {
    connected_ = false;
    if (mode_ == RelayMode::MasterConnected) mode_ = RelayMode::None;
    Show(indicators_.masterConnect, false);
}

void TcpRelay::Refuse(QTcpSocket* socket, const QString& why) {
    Log("relay: refused " + Name(*socket) + ": " + why);
    socket->abort();
    socket->deleteLater();
}

void TcpRelay::OnNewConnections() {
    while (QTcpSocket* socket = ssSlave.nextPendingConnection()) {
        if (!access_.Admits(socket->peerAddress())) {
            Refuse(socket, "not allowed (config/relay.xml)");
        } else if (peer_) {
            // The relay has one connection state: a second peer would share the first one's answers.
            Refuse(socket, "one peer at a time, and " + Name(*peer_) + " is connected");
        } else {
            peer_ = socket;
            peerFramer_ = RelayFramer{};
            Tune(*socket);
            if (access_.idleSeconds > 0) peerIdle_.start(access_.idleSeconds * 1000);
            connect(socket, &QTcpSocket::readyRead, this, &TcpRelay::Drain);
            connect(socket, &QTcpSocket::disconnected, this, &TcpRelay::DropPeer);
        }
    }
    // The listening side enters slave connected so that it can answer; a master connection
    // keeps the program's own traffic on the client socket.
    if (mode_ == RelayMode::Listening && peer_) {
        mode_ = RelayMode::SlaveConnected;
        Show(indicators_.slaveConnect, true);
    }
}

void TcpRelay::OnAcceptError(QAbstractSocket::SocketError) {
    // Out of descriptors the next accept fails the same way at once: wait instead of spinning.
    Log(QString("relay: cannot take a connection: %1; trying again in %2 ms")
            .arg(ssSlave.errorString())
            .arg(kAcceptPauseMs));
    ssSlave.pauseAccepting();
    acceptPause_.start();
}

void TcpRelay::DropPeer() {
    if (!peer_) return;
    QTcpSocket* socket = std::exchange(peer_, nullptr);
    peerIdle_.stop();
    socket->disconnect(this);
    socket->abort();
    // Deleting it now would pull it from under the signal that may have brought us here.
    socket->deleteLater();
    mode_ = RelayMode::Listening;
    Show(indicators_.slaveConnect, false);
    ListenForRemote();
}

void TcpRelay::Drain() {
    if (connected_) {
        for (const BusPacket& p : TakePackets(csMaster, masterFramer_)) {
            // A program with its own line takes from the peer only what is addressed to it: the
            // rest would go out on that line as well as on the peer's.
            if (bus_.SerialUp() && p.dest != bus_.OwnAddress()) continue;
            bus_.Route(p, this);
        }
    }
    if (QTcpSocket* socket = peer_) {
        const std::uint64_t before = bytesReceived_;
        const std::vector<BusPacket> packets = TakePackets(*socket, peerFramer_);
        if (bytesReceived_ != before && peerIdle_.isActive()) peerIdle_.start();
        for (const BusPacket& p : packets) {
            if (peer_ != socket) break;  // dropped while its packets were routed
            bus_.Route(p, this);
        }
    }
    // What came in reaches its links now, not at the next tick.
    bus_.Respond();
    const bool more = (connected_ && csMaster.bytesAvailable() > 0) || (peer_ && peer_->bytesAvailable() > 0);
    if (more && !drainTimer_.isActive()) drainTimer_.start();
}

std::vector<BusPacket> TcpRelay::TakePackets(QTcpSocket& socket, RelayFramer& framer) {
    std::vector<BusPacket> packets;
    const RelayFramer::Sink keep = [&packets](const BusPacket& p) { packets.push_back(p); };
    char chunk[4096];
    for (qint64 taken = 0; taken < kReadChunk;) {
        const qint64 n = socket.read(chunk, sizeof chunk);
        if (n <= 0) break;
        taken += n;
        bytesReceived_ += static_cast<std::uint64_t>(n);
        framer.Push(std::string_view(chunk, static_cast<std::size_t>(n)), keep);
    }
    return packets;
}

}  // namespace korva
