#pragma once
// Records what the protocol asks of the window and the ports.

#include <string>
#include <vector>

#include "protocol/Comms.h"
#include "support/FakePort.h"
#include "support/Packets.h"

namespace korva::test {

// The window's side of the protocol, and the two ways onto the bus, as records.
class FakeHost : public CommsHost {
  public:
    void AddLogLine(const std::string& line) override { log.push_back(line); }
    void RefreshDeviceTree() override { ++refreshes; }
    void RequestClose() override { ++closeRequests; }
    // The serial line and the relay, down until a test says otherwise.
    Engine& Wire(Engine& comms) {
        comms.Line().AttachSerial(&serialPort);
        comms.Line().AttachRelay(&relayPort);
        return comms;
    }

    FakePort serialPort{BusPort::Hold::Down, EncodeSerial};
    FakePort relayPort{BusPort::Hold::Down, EncodeRaw};
    std::vector<std::string> log;
    std::vector<std::string>& serial = serialPort.sent;
    std::vector<std::string>& tcp = relayPort.sent;
    int refreshes = 0;
    int closeRequests = 0;
};

}  // namespace korva::test
