#pragma once
// The bus as the model sees it: requests are kept as posted, with the sender and the checksum
// filled in, each in a slot of its own; no slot is handed out while `full` is set.

#include <memory>
#include <string>
#include <vector>

#include "model/Kobjects.h"
#include "protocol/RequestSlot.h"

namespace korva::test {

class FakeBus : public LinkBus {
public:
    RequestSlot* PostRequest(const BusPacket& request) override {
        if (full) return nullptr;
        BusPacket p = request;
        p.source = kStartOwnAddress;
        StoreChecksum(p);
        posted.push_back(p);
        slots.push_back(std::make_unique<RequestSlot>());
        slots.back()->state = SlotState::Ready;
        return slots.back().get();
    }
    void ReleaseRequest(RequestSlot& slot) override { slot.Release(); }
    void Activate(KRemoteLink& link) override { activated.push_back(&link); }
    void AddLogLine(const std::string& line) override { log.push_back(line); }

    bool full = false;
    std::vector<BusPacket> posted;
    std::vector<std::string> log;
    std::vector<KRemoteLink*> activated;
    std::vector<std::unique_ptr<RequestSlot>> slots;
};

}  // namespace korva::test
