#pragma once
// The window's serial commands: open port n, close, change the speed, and the cluster handler
// that feeds the receive scanner.

#include <string>

#include "protocol/Comms.h"
#include "transport/Serialng.h"

namespace korva {

class ComPortCommands {
public:
    ComPortCommands(TSerialPortNG& port, Comms& comms, CommsHost& log, std::string workDir = ".");

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
