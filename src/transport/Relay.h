#pragma once
// The TCP relay that joins the buses of two copies of the program: a client socket that connects
// to a peer (master side) and a server socket that waits for one (slave side). Packets travel as
// their raw 5 + length bytes; what arrives enters the router like any received packet. Every
// socket event runs on the main thread, like the rest of the protocol.
//
// A peer can write device properties, end the program and answer in the bus's name, so the
// listening side is closed by default: it listens on the loopback address, takes one peer at a
// time, and from another address only the peers config/relay.xml allows. Every peer is bounded:
// what waits to go to it, what is taken from it per event, how long it may vanish unnoticed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "packet/RelayFraming.h"
#include "protocol/Comms.h"

namespace korva {

// Where the listening side listens and whom it takes.
struct RelayAccess {
    static constexpr int kIdleSeconds = 120;
    QHostAddress listen = QHostAddress(QHostAddress::LocalHost);
    // On a loopback address only local peers can come; on any other, only these.
    std::vector<QHostAddress> allow;
    // A peer that sends nothing for this long gives up the one slot; 0 keeps it for ever.
    int idleSeconds = kIdleSeconds;

    bool Admits(const QHostAddress& peer) const;
    // From workDir/config/relay.xml, e.g. <relay listen="0.0.0.0" allow="10.1.2.3 10.1.2.4" idle="120"/>.
    // listen="::" takes IPv6 and IPv4 peers alike. No file gives the loopback address; a file that
    // cannot be used gives it too, and `problem` says why.
    static RelayAccess Read(const std::string& workDir, std::string& problem);
};

// Which side of a relay connection this program holds.
enum class RelayMode : std::uint8_t { None, MasterConnected, Listening, SlaveConnected };

// The relay is one of the program's ways onto the bus; it attaches itself to the router.
class TcpRelay : public QObject, public BusPort {
    Q_OBJECT
  public:
    static constexpr std::uint16_t kPort = 1100;
    // A peer that lets this much wait unsent does not read: it is dropped.
    static constexpr qint64 kSendLimit = 256 * 1024;
    // Taken per event, so that a flood cannot hold up the 10 ms tick; the rest waits in the kernel.
    static constexpr qint64 kReadChunk = 16 * 1024;
    static constexpr int kAcceptPauseMs = 1000;  // after the system refused a connection its descriptor
    static constexpr int kKeepIdleS = 60, kKeepIntervalS = 10, kKeepProbes = 3;

    // Where the relay shows its state: the window's three status boxes. Any may be left unset.
    struct Indicators {
        std::function<void(bool)> masterConnect;
        std::function<void(bool)> slaveConnect;
        std::function<void(bool)> waitConnect;
    };

    // Port 0 listens on any free port, which is then kept for the later listens.
    explicit TcpRelay(Bus& bus, Indicators indicators = {}, std::uint16_t port = kPort,
                      RelayAccess access = {});
    ~TcpRelay() override;
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    // Closes the client socket, then connects it to address; the connection completes later.
    void ConnectToRemote(const QString& address);
    // Closes the client socket and waits for a peer; relay mode listening. A listen that fails
    // says so on the log and leaves the relay idle.
    void ListenForRemote();
    // Bytes the router sends towards the peer: on the client socket when connected as master,
    // else on the peer of the server when slave connected, else nowhere.
    void Send(const std::string& bytes);

    // BusPort: a packet travels as its raw bytes.
    Hold State() const override;
    void Send(const BusPacket& packet) override { Send(EncodeRaw(packet)); }
    RelayMode Mode() const { return mode_; }

    std::uint16_t Port() const { return port_; }
    bool Connected() const { return connected_; }
    bool Listening() const { return ssSlave.isListening(); }
    int ActiveConnections() const { return peer_ ? 1 : 0; }
    // Bytes taken from either socket, for tests and soak runs.
    std::uint64_t BytesReceived() const { return bytesReceived_; }
    // The descriptor of the listening side's peer, -1 without one; for checks of its options.
    qintptr PeerDescriptor() const { return peer_ ? peer_->socketDescriptor() : -1; }

  private:
    void OnMasterConnected();
    void OnMasterDisconnected();
    void OnNewConnections();
    void OnAcceptError(QAbstractSocket::SocketError error);
    void DropPeer();
    void Refuse(QTcpSocket* socket, const QString& why);
    // Takes one chunk of each socket; comes back by itself while bytes wait.
    void Drain();
    // Whole packets out of at most kReadChunk bytes of what the socket holds now.
    std::vector<BusPacket> TakePackets(QTcpSocket& socket, RelayFramer& framer);
    // Queues bytes for a peer, or drops the peer when it has stopped reading.
    bool Queue(QTcpSocket& socket, const std::string& bytes);
    void Log(const QString& line);
    static void Tune(QTcpSocket& socket);
    static QString Name(const QTcpSocket& socket);
    static void Show(const std::function<void(bool)>& box, bool on);

    Bus& bus_;
    RelayMode mode_ = RelayMode::None;
    Indicators indicators_;
    std::uint16_t port_;
    RelayAccess access_;
    bool connected_ = false;
    std::uint64_t bytesReceived_ = 0;
    RelayFramer masterFramer_;
    RelayFramer peerFramer_;
    QTcpSocket* peer_ = nullptr;  // the one peer of the server; deleted later once it has gone
    QTcpSocket csMaster;
    QTcpServer ssSlave;
    QTimer drainTimer_;  // zero-interval: the next chunk comes after whatever else is due
    QTimer acceptPause_;
    QTimer peerIdle_;  // restarted by every byte the peer sends
};

}  // namespace korva
