#pragma once
// A way onto the bus for tests: holds the state it is given and keeps what the router hands it,
// in the framing of the port it stands for; a sink sees each piece as it goes.

#include <functional>
#include <string>
#include <vector>

#include "protocol/BusPort.h"

namespace korva::test {

class FakePort : public BusPort {
  public:
    using Framing = std::string (*)(const BusPacket&);
    explicit FakePort(Hold h = Hold::Down, Framing f = EncodeSerial) : hold(h), frame(f) {}
    Hold State() const override { return hold; }
    void Send(const BusPacket& packet) override {
        sent.push_back(frame(packet));
        if (sink) sink(sent.back());
    }

    Hold hold;
    Framing frame;
    std::vector<std::string> sent;
    std::function<void(const std::string&)> sink;
};

}  // namespace korva::test
