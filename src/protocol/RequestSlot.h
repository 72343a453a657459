#pragma once
// One of the ten slots of requests in flight.

#include <cstdint>

#include "packet/BusPacket.h"

namespace korva {

enum class SlotState : std::uint8_t { Free, Allocated, Ready, Waiting, Failed };

// Who frees a failed slot: the slot runner itself, or the link that owns it.
enum class SlotOwner : std::uint8_t { RunnerFreed, LinkFreed };

struct RequestSlot {
    BusPacket packet;
    SlotState state = SlotState::Free;
    bool inFlight = false;
    std::int32_t countdown = 0;
    std::uint8_t triesLeft = 0;
    SlotOwner owner = SlotOwner::RunnerFreed;
    bool offBus = false;  // no way onto the bus was up when the packet last went out

    void Release() { state = SlotState::Free; }
};

}  // namespace korva
