#pragma once
// A way onto the bus: the serial line or the TCP relay. The router asks each port how it is held
// and hands it whole packets; the port frames them its own way.

#include <cstdint>

#include "packet/BusPacket.h"

namespace korva {

class BusPort {
  public:
    // How this program holds the port: not at all; as the side that made the link (an open serial
    // line, a relay that connected to its peer); or as the side that was reached (a relay that a
    // peer connected to).
    enum class Hold : std::uint8_t { Down, Master, Slave };

    virtual ~BusPort() = default;
    virtual Hold State() const = 0;
    // The port decides what to do with a packet while it is down.
    virtual void Send(const BusPacket& packet) = 0;

    bool Up() const { return State() != Hold::Down; }
};

}  // namespace korva
