#pragma once
// Records what the protocol asks of the window and the ports.

#include <string>
#include <vector>

#include "protocol/Comms.h"
#include "support/Packets.h"

namespace korva::test {

class FakeHost : public CommsHost {
public:
    void AddLogLine(const std::string& line) override { log.push_back(line); }
    void RefreshDeviceTree() override { ++refreshes; }
    void SendSerial(const std::string& text) override { serial.push_back(text); }
    void SendTcp(const std::string& bytes) override { tcp.push_back(bytes); }
    void RequestClose() override { ++closeRequests; }

    std::vector<std::string> log;
    std::vector<std::string> serial;
    std::vector<std::string> tcp;
    int refreshes = 0;
    int closeRequests = 0;
};

}  // namespace korva::test
