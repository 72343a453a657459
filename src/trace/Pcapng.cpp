#include "trace/Pcapng.h"

#include "packet/CaptureLine.h"

namespace korva {

namespace {
// pcapng is written little-endian; the byte-order magic tells a reader so.
void Put16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((v >> shift) & 0xFF);
}
void Pad(std::string& out) {
    while (out.size() % 4 != 0) out += '\0';
}
void Option(std::string& out, std::uint16_t code, const std::string& value) {
    Put16(out, code);
    Put16(out, static_cast<std::uint16_t>(value.size()));
    out += value;
    Pad(out);
}
// A block: its type, its body, and its total length before and after.
void Block(std::string& out, std::uint32_t type, const std::string& body) {
    const auto length = static_cast<std::uint32_t>(12 + body.size());
    Put32(out, type);
    Put32(out, length);
    out += body;
    Put32(out, length);
}

constexpr std::uint16_t kEndOfOptions = 0, kComment = 1, kUserApplication = 4, kInterfaceName = 2, kFlags = 2;
constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A, kInterface = 1, kEnhancedPacket = 6;
constexpr std::uint32_t kInbound = 1, kOutbound = 2;

}  // namespace

std::string PcapngPacket(const TraceRecord& r) {
    std::string out, body;
    Put32(body, 0);  // the one interface
    const std::uint64_t us = r.timeUs >= 0 ? static_cast<std::uint64_t>(r.timeUs) : 0;
    Put32(body, static_cast<std::uint32_t>(us >> 32));
    Put32(body, static_cast<std::uint32_t>(us & 0xFFFFFFFFu));
    Put32(body, r.size);
    Put32(body, r.size);
    body.append(reinterpret_cast<const char*>(r.bytes), r.size);
    Pad(body);
    const bool outbound = r.path == PacketPath::Sent || r.path == PacketPath::Relayed;
    std::string flags;
    Put32(flags, outbound ? kOutbound : kInbound);
    Option(body, kFlags, flags);
    const std::string line = LineWord(r.line);
    Option(body, kComment, std::string(PathWords(r.path)) + (line.empty() ? "" : " " + line));
    Put32(body, kEndOfOptions);
    Block(out, kEnhancedPacket, body);
    return out;
}

std::string PcapngHead(const std::string& interfaceName) {
    std::string out, section;
    Put32(section, 0x1A2B3C4D);
    Put16(section, 1);
    Put16(section, 0);
    Put32(section, 0xFFFFFFFFu);  // section length not given
    Put32(section, 0xFFFFFFFFu);
    Option(section, kUserApplication, "KorvaConfig");
    Put32(section, kEndOfOptions);
    Block(out, kSectionHeader, section);
    std::string iface;
    Put16(iface, kPcapngLinkType);
    Put16(iface, 0);
    Put32(iface, BusPacket::kHeaderSize + BusPacket::kMaxWireLength);  // the longest packet
    // An option's length field holds at most this much.
    Option(iface, kInterfaceName, interfaceName.substr(0, 0xFFFF));
    Put32(iface, kEndOfOptions);
    Block(out, kInterface, iface);
    return out;
}

std::string PcapngText(const TraceBuffer& buffer, const std::vector<std::uint64_t>* rows) {
    std::string out = PcapngHead();
    if (rows != nullptr) {
        for (std::uint64_t n : *rows)
            if (buffer.Holds(n)) out += PcapngPacket(buffer.At(n));
    } else {
        for (std::uint64_t n = buffer.First(); n < buffer.End(); ++n) out += PcapngPacket(buffer.At(n));
    }
    return out;
}

}  // namespace korva
