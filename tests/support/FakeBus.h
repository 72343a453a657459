#pragma once
// The bus as the model sees it: every request gets a slot of its own and goes nowhere.

#include <memory>
#include <string>
#include <vector>

#include "model/Kobjects.h"
#include "protocol/RequestSlot.h"

namespace korva::test {

class FakeBus : public LinkBus {
  public:
    RequestSlot* PostRequest(const BusPacket&) override {
        slots.push_back(std::make_unique<RequestSlot>());
        slots.back()->state = SlotState::Ready;
        return slots.back().get();
    }
    void ReleaseRequest(RequestSlot& slot) override { slot.Release(); }
    void Activate(KRemoteLink&) override {}
    void AddLogLine(const std::string&) override {}

    std::vector<std::unique_ptr<RequestSlot>> slots;
};

}  // namespace korva::test
