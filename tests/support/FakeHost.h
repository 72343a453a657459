#pragma once
// Records what the protocol asks of the window and the ports.

#include <string>
#include <vector>

#include "protocol/Comms.h"

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

// A packet from its bytes, header first; the checksum is computed unless given.
inline BusPacket MakePacket(std::initializer_list<int> header, std::initializer_list<int> data = {}) {
    BusPacket p;
    auto it = header.begin();
    p.dest = static_cast<std::uint8_t>(*it++);
    p.source = static_cast<std::uint8_t>(*it++);
    p.code = static_cast<std::uint8_t>(*it++);
    p.length = static_cast<std::uint8_t>(data.size());
    std::size_t i = 0;
    for (int d : data) p.data[i++] = static_cast<std::uint8_t>(d);
    StoreChecksum(p);
    return p;
}

}  // namespace korva::test
