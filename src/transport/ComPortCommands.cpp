#include "transport/ComPortCommands.h"

#include "model/TextConvert.h"
#include "transport/PortMap.h"

namespace korva {

ComPortCommands::ComPortCommands(TSerialPortNG& port, Comms& comms, CommsHost& log, std::string workDir)
    : port_(port), comms_(comms), log_(log), workDir_(std::move(workDir)) {
    port_.OnRxClusterEvent = [this] { OnRxCluster(); };
    port_.OnLineLost = [this] { LineLost(); };
    comms_.AttachSerial(this);
}

ComPortCommands::~ComPortCommands() {
    if (comms_.Serial() == this) comms_.AttachSerial(nullptr);
}

void ComPortCommands::Send(const BusPacket& packet) {
    if (port_.Active()) port_.SendString(EncodeSerial(packet));
}

void ComPortCommands::OpenPort(int n) {
    port_.SetActive(false);
    const std::string name = "COM" + std::to_string(n);
    port_.SetCommPort(name, DevicePathForPort(workDir_, name));
    port_.SetActive(true);
    comms_.SetLineSpeed(port_.BaudRate());
    if (port_.Active()) {
        log_.AddLogLine("Opening Com" + std::to_string(n));
        openPort_ = n;
    } else {
        log_.AddLogLine("Can't Open " + name);
        openPort_ = 0;
    }
}

void ComPortCommands::ClosePort() {
    port_.SetActive(false);
}

bool ComPortCommands::ChangeBaudRate(const std::string& text) {
    const auto rate = ParseInt(text);
    if (!rate) return false;
    if (openPort_ == 0) return true;
    port_.SetActive(false);
    port_.SetBaudRate(*rate);
    port_.SetActive(true);
    comms_.SetLineSpeed(port_.BaudRate());
    log_.AddLogLine("Re Opening Com Port at " + std::to_string(*rate));
    return true;
}

void ComPortCommands::OnRxCluster() {
    if (port_.NextClusterSize() < 0) return;
    comms_.TakeCluster(port_.ReadNextClusterAsString());
}

void ComPortCommands::LineLost() {
    // The adapter was pulled or the line hung up: the port is closed and can be opened again.
    log_.AddLogLine("Lost " + port_.CommPort() + " (" + port_.DevicePath() + ")");
}

}  // namespace korva
