#pragma once
// The window's serial commands: open port n, close, change the speed, and the cluster handler
// that feeds the receive scanner.

#include <functional>
#include <string>
#include <vector>

#include "protocol/Comms.h"
#include "transport/Serialng.h"

namespace korva {

// What the operator is told beyond "Can't Open COMn": the device and the system's reason, and
// for a refusal the group that grants access. Groups are looked up on the device when it exists.
// A port held by another program is named with that program, when it is known.
std::vector<std::string> OpenFailureLines(const std::string& devicePath, int err,
                                          const std::string& holder = {});

// The serial line is the program's first way onto the bus; the commands attach it to the router.
class ComPortCommands : public BusPort {
  public:
    enum class Line { Closed, Open, Lost };

    ComPortCommands(TSerialPortNG& port, Bus& bus, CommsHost& log, std::string workDir = ".");
    ~ComPortCommands() override;
    ComPortCommands(const ComPortCommands&) = delete;
    ComPortCommands& operator=(const ComPortCommands&) = delete;

    // BusPort: a packet travels in its printable framing; nothing goes out while the port is closed.
    Hold State() const override { return port_.Active() ? Hold::Master : Hold::Down; }
    void Send(const BusPacket& packet) override;

    // A port that cannot be opened leaves the one that was open working, and its number set.
    void OpenPort(int n);
    void ClosePort();
    // The text of the speed box; only when a port number is set. False when the text is no integer.
    bool ChangeBaudRate(const std::string& text);
    // One cluster per event, fed to the scanner character by character.
    void OnRxCluster();

    int OpenPortNumber() const { return openPort_; }
    Line LineState() const { return line_; }
    const TSerialPortNG& Port() const { return port_; }
    // The lines under "Can't Open COMn" of the last failed open; empty after a good one.
    const std::vector<std::string>& LastFailure() const { return failure_; }

    // Runs after every change of the line: opened, closed, lost, a failed open, a new speed.
    std::function<void()> lineChanged;

  private:
    void LineLost();
    void Changed();

    TSerialPortNG& port_;
    Bus& bus_;
    CommsHost& log_;
    std::string workDir_;
    int openPort_ = 0;
    Line line_ = Line::Closed;
    std::vector<std::string> failure_;
};

}  // namespace korva
