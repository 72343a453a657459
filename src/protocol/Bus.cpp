#include "protocol/Bus.h"

#include <algorithm>
#include <cmath>

#include "model/TextConvert.h"
#include "protocol/Engine.h"

namespace korva {

Bus::Bus(Engine& engine, std::string name, CommsHost& host)
    : engine_(engine), name_(std::move(name)), host_(host), receiver_(*this) {}

void Bus::Start() {
    ownAddress_ = kStartOwnAddress;
    slots_.Reset();
    queue_.Clear();
    receiver_.ResetScanner();
}

void Bus::Feed(std::string_view text) {
    for (char c : text) receiver_.Feed(c);
}

void Bus::TakeCluster(std::string_view text) {
    Feed(text);
    engine_.Respond();
}

void Bus::Respond() {
    engine_.Respond();
}

KDevice* Bus::FindDevice(std::uint8_t address) const {
    for (const auto& [deviceName, device] : engine_.Model().devices)
        if (device->bus == this && device->address == address) return device;
    return nullptr;
}

void Bus::Count(const BusPort* way, PacketPath out, const BusPacket& packet) {
    // A request with no open port to go out on never reached the bus: it is not counted as sent.
    if (way == nullptr) {
        ++packetsUnsent;
        Trace(packet, '(', ')', "not sent: ");
        return;
    }
    ++packetsSent;
    Observe(out, packet);
    Trace(packet, '(', ')');
}

void Bus::Trace(const BusPacket& p, char open, char close, const char* prefix) {
    if (!Traced(p)) return;
    std::string line = prefix != nullptr ? prefix : open == '[' ? "rx: " : "tx: ";
    line += open;
    line += TraceBytes(p);
    line += close;
    host_.AddPacketLine(line);
}

void Bus::OnPacket(const BusPacket& packet) {
    if (listenOnly_) {
        const bool forUs = packet.dest == ownAddress_ || packet.dest == kBroadcastAddress;
        Observe(forUs ? PacketPath::Received : PacketPath::Heard, packet);
        return;
    }
    fromLine_ = true;
    Route(packet);
    fromLine_ = false;
}

void Bus::OnChecksumError(const BusPacket& packet, std::uint8_t computed) {
    ++busErrors;
    Observe(PacketPath::ChecksumError, packet);
    if (!Traced(packet)) return;
    std::string line = "<";
    line += TraceBytes(packet);
    line += "  - CRC: ";
    line += HexByte(computed);
    line += '>';
    host_.AddLogLine(line);
}

void Bus::Route(const BusPacket& packet, const BusPort* arrivedOn) {
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
        BusPort* way = held(serial_) != BusPort::Hold::Down    ? serial_
                       : held(relay_) == BusPort::Hold::Master ? relay_
                                                               : nullptr;
        send(way);
        Count(way, out, packet);
    } else if (dest & 0x08) {
        // A port chosen by its bit is handed the packet even when closed: the port drops it.
        send(relay_);
        Count(held(relay_) != BusPort::Hold::Down ? relay_ : nullptr, out, packet);
    } else if (dest & 0x04) {
        send(serial_);
        Count(held(serial_) != BusPort::Hold::Down ? serial_ : nullptr, out, packet);
    } else {
        Observe(incoming ? PacketPath::Heard : PacketPath::Sent, packet);
        Trace(packet, '{', '}');
    }
}

void Bus::ProcessReceiveQueue() {
    BusPacket p;
    while (queue_.Pop(p)) {
        if (KDevice* d = FindDevice(p.source)) {
            DeviceWork& work = WorkOf(*d);
            work.silent = false;  // heard again
            ++work.replies;
            work.lastReply = std::chrono::system_clock::now();
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

void Bus::SendReady() {
    slots_.SendReady([this](const BusPacket& p) {
        Route(p);
        return WayUp();
    });
}

void Bus::RunSlots() {
    slots_.Run([this](const BusPacket& p) {
        Route(p);
        return WayUp();
    });
}

void Bus::SetLineSpeed(std::int32_t baud) {
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

bool Bus::SetOwnAddressFromText(std::string_view text) {
    const auto v = ParseInt(text);
    if (!v) return false;
    ownAddress_ = static_cast<std::uint8_t>(*v & 0xFF);
    return true;
}

}  // namespace korva
