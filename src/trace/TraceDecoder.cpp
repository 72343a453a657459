#include "trace/TraceDecoder.h"

#include <algorithm>

#include "model/ElementLayout.h"

namespace korva {

namespace {
// The element a file packet addresses and the value it carries, by the layouts of the two index widths.
void DecodeFile(const KRemoteLink& link, const BusPacket& p, DecodedPacket& out) {
    const bool reply = TraceDecoder::IsReply(p);
    // A read reply too short to hold its index shows none.
    if ((p.code & code::kClassMask) == code::kReadClass && reply && p.length < 4) return;
    // A write acknowledgement is shown as a reply, without the element it may repeat.
    if ((p.code & code::kClassMask) == code::kWriteClass && reply) return;
    const ElementFields f = DecodeElement(link.type == PropertyType::File16, p);
    if (f.hasIndex) out.property += "[" + std::to_string(f.index) + "]";
    if (f.hasValue) out.value = std::to_string(f.value);
}
}  // namespace

void TraceDecoder::Rebuild() {
    std::fill(std::begin(devices_), std::end(devices_), nullptr);
    links_.assign(256 * 256, nullptr);
    // The first device and the first link win, as they do when a reply is handed out.
    for (const auto& [deviceName, device] : model_.devices) {
        if (devices_[device->address] != nullptr) continue;
        devices_[device->address] = device;
        for (const auto& [linkName, link] : device->links) {
            const KRemoteLink*& slot = links_[device->address * 256u + link->code];
            if (slot == nullptr) slot = link;
        }
    }
}

std::uint8_t TraceDecoder::DeviceAddress(const BusPacket& p) {
    return IsReply(p) ? p.source : p.dest;
}

std::string TraceDecoder::KindText(const BusPacket& p) {
    const std::uint8_t cls = p.code & code::kClassMask;
    if (p.dest == kBroadcastAddress) return "broadcast";
    if (cls == code::kBootClass) return "boot loader";
    if (p.code & code::kAck) {
        if (cls == code::kReadClass) return "read reply";
        if (cls == code::kWriteClass) return "write reply";
        return "acknowledgement";
    }
    if (p.code & code::kRefused) return "refusal";
    if (cls == code::kReadClass) return "read request";
    if (cls == code::kWriteClass) return "write request";
    if (cls == code::kCloseClass) return "close request";
    return "request of class " + HexByte(cls);
}

const KRemoteLink* TraceDecoder::Link(std::uint8_t address, std::uint8_t code) const {
    return links_[address * 256u + code];
}

DecodedPacket TraceDecoder::Decode(const BusPacket& p, PacketPath path) const {
    DecodedPacket out;
    const std::uint8_t address = DeviceAddress(p);
    out.device = devices_[address];
    // Colour alone says nothing to some eyes: the words say it too.
    out.kind = path == PacketPath::ChecksumError ? "CHECKSUM ERROR, " + KindText(p) : KindText(p);
    out.problem = path == PacketPath::ChecksumError || ((p.code & code::kRefused) && !(p.code & code::kAck));
    const std::uint8_t cls = p.code & code::kClassMask;
    if (out.device == nullptr || p.length == 0 || (cls != code::kReadClass && cls != code::kWriteClass))
        return out;
    out.link = Link(address, p.data[0]);
    if (out.link == nullptr) return out;
    out.property = out.link->name;
    if (out.link->IsFileHandle()) {
        DecodeFile(*out.link, p, out);
        return out;
    }
    // A read reply and a write request carry the value in one layout: the link's own decoding reads it.
    const bool carries = cls == code::kReadClass ? (p.code & code::kAck) != 0 : !IsReply(p);
    if (!carries) return out;
    ValueRecord v;
    v.kind = out.link->type;
    try {
        v.DecodeReply(p);
        const EngineeringValue& e = out.link->Engineering();
        if (e.Plain()) {
            out.value = std::to_string(v.ReadAsNumber());
        } else {
            // The engineer reads the value; the raw number beside it is what went on the wire.
            const std::int32_t raw =
                e.RawOf(v.kind == PropertyType::Byte ? v.byte : static_cast<std::uint32_t>(v.word));
            const std::string rawText = std::to_string(raw);
            const std::string text = e.Text(raw);
            const bool sameNumber = text == rawText || text == rawText + " " + e.Unit();
            out.value = sameNumber ? text : text + " (" + rawText + ")";
        }
    } catch (const KvEx_WrongPacketLength&) {
        out.value = "<Unexpected packet length>";
        out.problem = true;
    } catch (const KvEx_BadPropertyType&) {
        out.value = "<Invalid property type>";
    }
    return out;
}

}  // namespace korva
