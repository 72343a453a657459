#include "transport/Relay.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace korva {

TcpRelay::TcpRelay(Comms& comms, Indicators indicators, std::uint16_t port, QHostAddress listenOn)
    : comms_(comms), indicators_(std::move(indicators)), port_(port), listenOn_(std::move(listenOn)) {
    connect(&csMaster, &QTcpSocket::connected, this, &TcpRelay::OnMasterConnected);
    connect(&csMaster, &QTcpSocket::disconnected, this, &TcpRelay::OnMasterDisconnected);
    connect(&csMaster, &QTcpSocket::readyRead, this, &TcpRelay::OnMasterReadable);
    connect(&ssSlave, &QTcpServer::newConnection, this, &TcpRelay::OnNewConnections);
}

TcpRelay::~TcpRelay() {
    // The sockets close as the members go, and a socket that closes reports it: nobody must
    // be listening by then.
    csMaster.disconnect(this);
    ssSlave.disconnect(this);
    for (Client& c : clients_) c.socket->disconnect(this);
}

void TcpRelay::Show(const std::function<void(bool)>& box, bool on) {
    if (box) box(on);
}

void TcpRelay::ConnectToRemote(const QString& address) {
    // abort, not close: close would wait for unsent bytes, and the socket could not connect anew.
    csMaster.abort();
    csMaster.connectToHost(address, port_);
}

void TcpRelay::ListenForRemote() {
    csMaster.abort();
    // A server that listens already goes on listening; its clients stay.
    if (!ssSlave.isListening() && ssSlave.listen(listenOn_, port_)) port_ = ssSlave.serverPort();
    comms_.relayMode = RelayMode::Listening;
    Show(indicators_.waitConnect, true);
    // A listening program with a client answers it over TCP.
    if (!clients_.empty()) {
        comms_.relayMode = RelayMode::SlaveConnected;
        Show(indicators_.slaveConnect, true);
    }
}

void TcpRelay::Send(const std::string& bytes) {
    const auto size = static_cast<qint64>(bytes.size());
    if (comms_.relayMode == RelayMode::MasterConnected) {
        if (connected_) csMaster.write(bytes.data(), size);
    } else if (comms_.relayMode == RelayMode::SlaveConnected && !clients_.empty()) {
        clients_.front().socket->write(bytes.data(), size);
    }
}

void TcpRelay::OnMasterConnected() {
    connected_ = true;
    masterFramer_ = RelayFramer{};  // nothing of an earlier connection is carried over
    comms_.relayMode = RelayMode::MasterConnected;
    Show(indicators_.masterConnect, true);
}

void TcpRelay::OnMasterDisconnected() {
    connected_ = false;
    if (comms_.relayMode == RelayMode::MasterConnected) comms_.relayMode = RelayMode::None;
    Show(indicators_.masterConnect, false);
}

void TcpRelay::OnMasterReadable() {
    for (const BusPacket& p : TakePackets(csMaster, masterFramer_)) {
        // A program with its own line takes from the peer only what is addressed to it: the
        // rest would go out on that line as well as on the peer's.
        if (comms_.portOpen && p.dest != comms_.OwnAddress()) continue;
        comms_.Route(p, true);
    }
}

void TcpRelay::OnNewConnections() {
    while (QTcpSocket* socket = ssSlave.nextPendingConnection()) {
        clients_.push_back({socket, RelayFramer{}});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnClientReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { OnClientDisconnected(socket); });
    }
    // The listening side enters slave connected so that it can answer; a master connection
    // keeps the program's own traffic on the client socket.
    if (comms_.relayMode == RelayMode::Listening && !clients_.empty()) {
        comms_.relayMode = RelayMode::SlaveConnected;
        Show(indicators_.slaveConnect, true);
    }
}

std::vector<TcpRelay::Client>::iterator TcpRelay::FindClient(QTcpSocket* socket) {
    return std::find_if(clients_.begin(), clients_.end(),
                        [socket](const Client& c) { return c.socket == socket; });
}

void TcpRelay::OnClientReadable(QTcpSocket* socket) {
    const auto it = FindClient(socket);
    if (it == clients_.end()) return;
    for (const BusPacket& p : TakePackets(*socket, it->framer)) comms_.Route(p, true);
}

void TcpRelay::OnClientDisconnected(QTcpSocket* socket) {
    const auto it = FindClient(socket);
    if (it == clients_.end()) return;
    clients_.erase(it);
    // Deleting it now would pull it from under the signal that brought us here.
    socket->deleteLater();
    comms_.relayMode = RelayMode::Listening;
    Show(indicators_.slaveConnect, false);
    ListenForRemote();
}

std::vector<BusPacket> TcpRelay::TakePackets(QTcpSocket& socket, RelayFramer& framer) {
    std::vector<BusPacket> packets;
    const RelayFramer::Sink keep = [&packets](const BusPacket& p) { packets.push_back(p); };
    char chunk[512];
    for (;;) {
        const qint64 n = socket.read(chunk, sizeof chunk);
        if (n <= 0) break;
        bytesReceived_ += static_cast<std::uint64_t>(n);
        framer.Push(std::string_view(chunk, static_cast<std::size_t>(n)), keep);
    }
    return packets;
}

}  // namespace korva
