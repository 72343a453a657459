#pragma once
// The TCP relay that joins the buses of two copies of the program: a client socket that connects
// to a peer (master side) and a server socket that waits for one (slave side). Packets travel as
// their raw 5 + length bytes; what arrives enters the router like any received packet. Every
// socket event runs on the main thread, like the rest of the protocol.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include "protocol/Comms.h"
#include "packet/RelayFraming.h"

namespace korva {

class TcpRelay : public QObject {
    Q_OBJECT
public:
    static constexpr std::uint16_t kPort = 1100;

    // Where the relay shows its state: the window's three status boxes. Any may be left unset.
    struct Indicators {
        std::function<void(bool)> masterConnect;
        std::function<void(bool)> slaveConnect;
        std::function<void(bool)> waitConnect;
    };

    // Port 0 listens on any free port, which is then kept for the later listens.
    explicit TcpRelay(Comms& comms, Indicators indicators = {}, std::uint16_t port = kPort,
                      QHostAddress listenOn = QHostAddress::Any);
    ~TcpRelay() override;
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    // Closes the client socket, then connects it to address; the connection completes later.
    void ConnectToRemote(const QString& address);
    // Closes the client socket and waits for a peer; relay mode listening.
    void ListenForRemote();
    // Bytes the router sends towards the peer: on the client socket when connected as master,
    // else on the first client of the server when slave connected, else nowhere.
    void Send(const std::string& bytes);

    std::uint16_t Port() const { return port_; }
    bool Connected() const { return connected_; }
    bool Listening() const { return ssSlave.isListening(); }
    int ActiveConnections() const { return static_cast<int>(clients_.size()); }
    // Bytes taken from either socket, for tests and soak runs.
    std::uint64_t BytesReceived() const { return bytesReceived_; }

private:
    struct Client {
        QTcpSocket* socket;  // owned by ssSlave; deleted later once it has gone
        RelayFramer framer;
    };

    void OnMasterConnected();
    void OnMasterDisconnected();
    void OnMasterReadable();
    void OnNewConnections();
    void OnClientReadable(QTcpSocket* socket);
    void OnClientDisconnected(QTcpSocket* socket);
    std::vector<Client>::iterator FindClient(QTcpSocket* socket);
    // Whole packets out of what the socket holds now.
    std::vector<BusPacket> TakePackets(QTcpSocket& socket, RelayFramer& framer);
    static void Show(const std::function<void(bool)>& box, bool on);

    Comms& comms_;
    Indicators indicators_;
    std::uint16_t port_;
    QHostAddress listenOn_;
    bool connected_ = false;
    std::uint64_t bytesReceived_ = 0;
    RelayFramer masterFramer_;
    std::vector<Client> clients_;  // in the order they came: connection 0 first
    QTcpSocket csMaster;
    QTcpServer ssSlave;
};

}  // namespace korva
