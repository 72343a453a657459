// Any bytes from a TCP peer: framed into packets, routed, and handled by the links.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzHost.h"
#include "packet/RelayFraming.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korva;
    fuzz::QuietHost host;
    Engine comms(host);
    comms.Start();
    fuzz::CountingPort relay(BusPort::Hold::Slave);
    comms.Line().AttachRelay(&relay);
    comms.Line().showBroadcasts = true;
    fuzz::BuildPlant(comms);
    RelayFramer framer;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The same bytes in chunks of varying size, as reads deliver them.
    for (std::size_t pos = 0, chunk = 1; pos < bytes.size(); pos += chunk, chunk = chunk % 13 + 1) {
        framer.Push(bytes.substr(pos, chunk), [&](const BusPacket& p) { comms.Line().Route(p, &relay); });
        if (framer.Buffered() > RelayFramer::kMaxFrame) __builtin_trap();
    }
    for (int t = 0; t < 5; ++t) comms.Tick();
    return 0;
}
