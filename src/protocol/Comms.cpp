#include "protocol/Comms.h"

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

void Comms::OnChecksumError(const BusPacket& packet, std::uint8_t computed) {
    if (!Traced(packet)) return;
    std::string line = "<";
    line += TraceBytes(packet);
    line += "  - CRC: ";
    line += HexByte(computed);
    line += '>';
    host_.AddLogLine(line);
}

void Comms::Route(const BusPacket& packet, const BusPort* arrivedOn) {
    const std::uint8_t dest = packet.dest;
    const auto held = [](const BusPort* port) { return port != nullptr ? port->State() : BusPort::Hold::Down; };
    // A packet never goes back to the port it came in on: between two programs joined by the relay
    // it would bounce for ever. It is still traced where the table says.
    const auto send = [&](BusPort* port) {
        if (port != nullptr && port != arrivedOn) port->Send(packet);
    };
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
        Trace(packet, '(', ')');
    } else if (dest & 0x08) {
        send(relay_);
        ++packetsSent;
        Trace(packet, '(', ')');
    } else if (dest & 0x04) {
        send(serial_);
        ++packetsSent;
        Trace(packet, '(', ')');
    } else {
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

void Comms::ScanLinks() {
    for (const auto& [deviceName, device] : model_.devices) {
        for (const auto& [linkName, link] : device->links) {
            link->Step();
            if (link->pending == nullptr) {
                // The poll also replaces a write that has not gone out yet.
                if (pollNow_ && link->poll) link->state = LinkState::GET;
                if (link->state == LinkState::GET) {
                    link->Get();
                } else if (link->state == LinkState::SET) {
                    link->Set();
                    host_.RefreshDeviceTree();
                }
            }
            if (link->pending != nullptr) {
                RequestSlot& slot = *link->pending;
                if (link->state == LinkState::KNOWN) {
                    link->ReleasePending();
                } else if (slot.state == SlotState::Failed) {
                    link->state = LinkState::ERROR;
                    link->ReleasePending();
                } else if (slot.state == SlotState::Free) {
                    link->state = LinkState::ERROR;
                    link->pending = nullptr;
                }
                host_.RefreshDeviceTree();
            }
        }
    }
}

void Comms::Tick() {
    if (divider_ == 0) {
        divider_ = period_;
        pollNow_ = true;
        if (periodicLogStep) periodicLogStep();
    } else {
        --divider_;
    }
    ProcessReceiveQueue();
    ScanLinks();
    slots_.Run([this](const BusPacket& p) { Route(p); });
    if (runnerStep) runnerStep();
    pollNow_ = false;
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
