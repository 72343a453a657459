#include "protocol/Comms.h"

#include <algorithm>
#include <cmath>

#include "model/TextConvert.h"

namespace korva {

Comms::Comms(CommsHost& host) : host_(host), model_(*this), receiver_(*this) {}

void Comms::Start() {
    ownAddress_ = kStartOwnAddress;
    slots_.Reset();
    queue_.Clear();
    receiver_.ResetScanner();
}

void Comms::Feed(std::string_view text) {
    for (char c : text) receiver_.Feed(c);
}

void Comms::Trace(const BusPacket& p, char open, char close) {
    if (!Traced(p)) return;
    std::string line = open == '[' ? "rx: " : "tx: ";
    line += open;
    line += TraceBytes(p);
    line += close;
    host_.AddLogLine(line);
}

void Comms::OnPacket(const BusPacket& packet) {
    if (listenOnly_) {
        const bool forUs = packet.dest == ownAddress_ || packet.dest == kBroadcastAddress;
        Observe(forUs ? PacketPath::Received : PacketPath::Heard, packet);
        return;
    }
    fromLine_ = true;
    Route(packet);
    fromLine_ = false;
}

void Comms::OnChecksumError(const BusPacket& packet, std::uint8_t computed) {
    Observe(PacketPath::ChecksumError, packet);
    if (!Traced(packet)) return;
    std::string line = "<";
    line += TraceBytes(packet);
    line += "  - CRC: ";
    line += HexByte(computed);
    line += '>';
    host_.AddLogLine(line);
}

void Comms::Route(const BusPacket& packet, const BusPort* arrivedOn) {
    const bool incoming = fromLine_ || arrivedOn != nullptr;
    // Nothing of the program's own leaves while it only listens.
    if (listenOnly_ && !incoming) return;
    const std::uint8_t dest = packet.dest;
    const PacketPath out = incoming ? PacketPath::Relayed : PacketPath::Sent;
    const auto held = [](const BusPort* port) {
        return port != nullptr ? port->State() : BusPort::Hold::Down;
    };
    // A packet never goes back to the port it came in on: between two programs joined by the relay
    // it would bounce for ever. It is still traced where the table says.
    const auto send = [&](BusPort* port) {
        if (port != nullptr && port != arrivedOn) port->Send(packet);
    };
    if (dest == kBroadcastAddress || dest == ownAddress_) Observe(PacketPath::Received, packet);
    if (dest == kBroadcastAddress) {
        if (!showBroadcasts) return;
        if (held(relay_) == BusPort::Hold::Slave) send(relay_);
        if (queue_.Push(packet)) ++repliesQueued;
        Trace(packet, '[', ']');
    } else if (dest == ownAddress_) {
        if (queue_.Push(packet)) ++repliesQueued;
        Trace(packet, '[', ']');
    } else if (dest & 0x02) {
        // The serial line wins over a TCP connection.
        if (held(serial_) != BusPort::Hold::Down)
            send(serial_);
        else if (held(relay_) == BusPort::Hold::Master)
            send(relay_);
        ++packetsSent;
        Observe(out, packet);
        Trace(packet, '(', ')');
    } else if (dest & 0x08) {
        send(relay_);
        ++packetsSent;
        Observe(out, packet);
        Trace(packet, '(', ')');
    } else if (dest & 0x04) {
        send(serial_);
        ++packetsSent;
        Observe(out, packet);
        Trace(packet, '(', ')');
    } else {
        Observe(incoming ? PacketPath::Heard : PacketPath::Sent, packet);
        Trace(packet, '{', '}');
    }
}

void Comms::ProcessReceiveQueue() {
    BusPacket p;
    while (queue_.Pop(p)) {
        if (KDevice* d = model_.FindDeviceByAddress(p.source)) {
            d->HandlePacket(p);
            host_.RefreshDeviceTree();
        }
        const bool isRequest = (p.code & (code::kAck | code::kRefused)) == 0;
        if (!isRequest || (p.code & 0x08) == 0) continue;
        if ((p.code & code::kClassMask) == code::kCloseClass) host_.RequestClose();
        if (p.code & code::kExpectsReply) {
            BusPacket ack;  // an acknowledgement carries no data
            ack.dest = p.source;
            ack.source = ownAddress_;
            ack.code = static_cast<std::uint8_t>((p.code & ~code::kExpectsReply) | code::kAck);
            ack.length = 0;
            StoreChecksum(ack);
            Route(ack);
        }
    }
}

void Comms::Activate(KRemoteLink& link) {
    if (link.poll && !link.pollListed) {
        link.pollListed = true;
        polled_.push_back(&link);
    }
    if (!link.active) {
        link.active = true;
        const auto at =
            std::lower_bound(active_.begin(), active_.end(), link.order,
                             [](const KRemoteLink* l, std::uint32_t order) { return l->order < order; });
        active_.insert(at, &link);
    }
    // Work given between ticks goes out at once.
    Respond();
}

namespace {
// Nothing to send, nothing in flight, no transfer under way: the link needs no visits.
bool Idle(const KRemoteLink& link) {
    if (link.state == LinkState::GET || link.state == LinkState::SET || link.pending != nullptr) return false;
    const KFileLink* file = link.AsFile();
    return file == nullptr ||
           (file->Operation() == TransferOp::None && file->CurrentStep() == TransferStep::Idle);
}
}  // namespace

void Comms::ScanLinks(bool onTick) {
    if (pollNow_) {
        // Polled links join the active ones; a link whose flag was cleared leaves the list.
        std::erase_if(polled_, [](KRemoteLink* l) {
            l->pollListed = l->poll;
            return !l->poll;
        });
        for (KRemoteLink* link : polled_) Activate(*link);
    }
    // A link that a visit activates (nothing does today) would wait for the next pass.
    const std::vector<KRemoteLink*> visit = active_;
    for (KRemoteLink* link : visit) {
        link->Step();
        if (link->pending == nullptr) {
            // The poll also replaces a write that has not gone out yet.
            if (pollNow_ && link->poll) {
                link->state = LinkState::GET;
                link->ClearFault();
            }
            const bool get = link->state == LinkState::GET, set = link->state == LinkState::SET;
            if ((get && link->Get()) || (set && link->Set())) {
                link->slotWaitTicks = 0;
                if (set) host_.RefreshDeviceTree();
            } else if (onTick && (get || set) && link->pending == nullptr &&
                       link->state != LinkState::ERROR && ++link->slotWaitTicks > kSlotWaitLimit) {
                // No slot came free in a request's own time: the bus is overrun.
                link->slotWaitTicks = 0;
                link->state = LinkState::ERROR;
                link->fault = LinkFault::NoSlot;
                host_.RefreshDeviceTree();
            }
        }
        if (link->pending != nullptr) {
            RequestSlot& slot = *link->pending;
            if (link->state == LinkState::KNOWN) {
                link->ReleasePending();
            } else if (slot.state == SlotState::Failed) {
                link->state = LinkState::ERROR;
                link->fault = slot.offBus ? LinkFault::PortDown : LinkFault::NoReply;
                link->ReleasePending();
            } else if (slot.state == SlotState::Free) {
                // The slot was taken from under the link: it never held its request to the end.
                link->state = LinkState::ERROR;
                link->fault = LinkFault::NoSlot;
                link->pending = nullptr;
            }
            host_.RefreshDeviceTree();
        }
    }
    std::erase_if(active_, [](KRemoteLink* l) {
        if (!Idle(*l)) return false;
        l->active = false;
        return true;
    });
}

void Comms::SendReady() {
    slots_.SendReady([this](const BusPacket& p) {
        Route(p);
        return WayUp();
    });
}

void Comms::Respond() {
    if (busy_) return;
    busy_ = true;
    ProcessReceiveQueue();
    if (runnerEvent) runnerEvent();
    // Retries and give-ups wait for the tick; a reply that freed a slot lets the next request out now.
    ScanLinks(false);
    SendReady();
    busy_ = false;
}

void Comms::Tick() {
    busy_ = true;
    if (divider_ == 0) {
        divider_ = period_;
        pollNow_ = true;
        if (periodicLogStep) periodicLogStep();
    } else {
        --divider_;
    }
    ProcessReceiveQueue();
    ScanLinks(true);
    slots_.Run([this](const BusPacket& p) {
        Route(p);
        return WayUp();
    });
    if (runnerStep) runnerStep();
    pollNow_ = false;
    // What the runner asked for in this tick goes out now, not a tick later.
    ScanLinks(false);
    SendReady();
    busy_ = false;
}

void Comms::SetLineSpeed(std::int32_t baud) {
    // A read is about 46 characters of 10 bits there and back, plus the device's turn-around; the
    // outstanding ones must all be answered well inside the 30 ticks after which one is repeated.
    constexpr double kExchangeBits = 46 * 10, kTurnaroundMs = 2, kBudgetMs = 150;
    if (baud <= 0) {
        maxOutstanding_ = RequestSlots::kCount;
        return;
    }
    const double exchangeMs = kExchangeBits * 1000.0 / baud + kTurnaroundMs;
    const auto n = static_cast<std::size_t>(kBudgetMs / exchangeMs);
    maxOutstanding_ = std::clamp<std::size_t>(n, 1, RequestSlots::kCount);
}

bool Comms::SetOwnAddressFromText(std::string_view text) {
    const auto v = ParseInt(text);
    if (!v) return false;
    ownAddress_ = static_cast<std::uint8_t>(*v & 0xFF);
    return true;
}

bool Comms::SetPeriodSeconds(float seconds) {
    // The interval is held in single precision and multiplied in double: 0.29 s gives 28 ticks.
    const double ticks = static_cast<double>(seconds) * 100.0;
    if (!std::isfinite(ticks) || ticks < 0.0 || ticks >= 2147483647.0) return false;
    period_ = static_cast<std::int32_t>(ticks);
    divider_ = 0;
    return true;
}

}  // namespace korva
