#pragma once
// The window's serial commands: open port n, close, change the speed, and the cluster handler
// that feeds the receive scanner.

#include <string>

#include "protocol/Comms.h"
#include "transport/Serialng.h"

namespace korva {

// The serial line is the program's first way onto the bus; the commands attach it to the router.
class ComPortCommands : public BusPort {
public:
    ComPortCommands(TSerialPortNG& port, Comms& comms, CommsHost& log, std::string workDir = ".");
    ~ComPortCommands() override;
    ComPortCommands(const ComPortCommands&) = delete;
    ComPortCommands& operator=(const ComPortCommands&) = delete;

    // BusPort: a packet travels in its printable framing; nothing goes out while the port is closed.
    Hold State() const override { return port_.Active() ? Hold::Master : Hold::Down; }
    void Send(const BusPacket& packet) override;

    void OpenPort(int n);
    void ClosePort();
    // The text of the speed box; only when a port number is set. False when the text is no integer.
    bool ChangeBaudRate(const std::string& text);
    // One cluster per event, fed to the scanner character by character.
    void OnRxCluster();

    int OpenPortNumber() const { return openPort_; }

private:
    void LineLost();

    TSerialPortNG& port_;
    Comms& comms_;
    CommsHost& log_;
    std::string workDir_;
    int openPort_ = 0;
};

}  // namespace korva
