// Serial bytes through the scanner, the router, the receive queue and the links' reply handlers.
#include <cstddef>
#include <cstdint>

#include "FuzzHost.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korva;
    fuzz::QuietHost host;
    Engine comms(host);
    comms.Start();
    fuzz::CountingPort line;
    comms.Line().AttachSerial(&line);
    comms.Line().showBroadcasts = (size & 1) != 0;
    fuzz::BuildPlant(comms);
    for (const auto& [name, device] : comms.Model().devices)
        for (const auto& [linkName, link] : device->links) link->RequestRead();
    for (std::size_t i = 0; i < size; ++i) {
        comms.Line().FeedChar(static_cast<char>(data[i]));
        if (i % 97 == 96) comms.Tick();
    }
    for (int t = 0; t < 40; ++t) comms.Tick();
    return 0;
}
