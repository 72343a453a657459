#include "protocol/Bus.h"

namespace korva {

RequestSlot* RequestSlots::Take(std::size_t limit) {
    std::size_t busy = 0;
    for (const RequestSlot& s : slots_) busy += s.state != SlotState::Free ? 1 : 0;
    if (busy >= limit) return nullptr;
    for (RequestSlot& s : slots_) {
        if (s.state != SlotState::Free) continue;
        s.state = SlotState::Allocated;
        s.inFlight = false;
        s.owner = SlotOwner::RunnerFreed;
        return &s;
    }
    return nullptr;
}

void RequestSlots::Reset() {
    for (RequestSlot& s : slots_) s = RequestSlot{};
}

bool ReceiveQueue::Push(const BusPacket& p) {
    const auto next = static_cast<std::uint8_t>((write_ + 1) % kEntries);
    if (next == read_) return false;
    ring_[write_] = p;
    write_ = next;
    return true;
}

bool ReceiveQueue::Pop(BusPacket& p) {
    if (Empty()) return false;
    p = ring_[read_];
    read_ = static_cast<std::uint8_t>((read_ + 1) % kEntries);
    return true;
}

RequestSlot* Bus::PostRequest(const BusPacket& request) {
    if (listenOnly_) return nullptr;
    RequestSlot* s = slots_.Take(maxOutstanding_);
    if (s == nullptr) return nullptr;
    s->packet = request;
    s->packet.source = ownAddress_;
    StoreChecksum(s->packet);
    s->triesLeft = RequestSlots::kTries;
    s->owner = SlotOwner::LinkFreed;
    s->state = SlotState::Ready;
    return s;
}

void Bus::RunBootLoader() {
    RequestSlot* s = listenOnly_ ? nullptr : slots_.Take();
    if (s == nullptr) return;  // silently not sent
    s->packet = BusPacket{};
    s->packet.dest = kBootLoaderAddress;
    s->packet.source = ownAddress_;
    s->packet.code = code::kBoot;
    s->packet.length = 0;
    StoreChecksum(s->packet);
    s->triesLeft = 1;
    s->owner = SlotOwner::RunnerFreed;
    s->state = SlotState::Ready;
}

}  // namespace korva
