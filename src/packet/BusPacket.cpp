#include "packet/BusPacket.h"

namespace korva {

std::uint8_t BusPacket::ByteAt(std::size_t i) const {
    switch (i) {
        case 0:
            return dest;
        case 1:
            return source;
        case 2:
            return code;
        case 3:
            return length;
        case 4:
            return checksum;
        default:
            return i - kHeaderSize < kDataCapacity ? data[i - kHeaderSize] : 0;
    }
}

std::uint8_t Checksum(const BusPacket& p) {
    if (p.length > BusPacket::kMaxWireLength) return static_cast<std::uint8_t>(~p.checksum);
    unsigned sum = p.dest + p.source + p.code + p.length;
    for (std::size_t i = 0; i < p.length; ++i) sum += p.data[i];
    return static_cast<std::uint8_t>(sum);
}

void StoreChecksum(BusPacket& p) {
    p.checksum = Checksum(p);
}

bool ChecksumOk(const BusPacket& p) {
    return Checksum(p) == p.checksum;
}

std::string HexByte(std::uint8_t b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[b >> 4], kDigits[b & 0x0F]};
}

std::string EncodeSerial(const BusPacket& p) {
    std::string out;
    out.reserve(2 + 3 * p.WireSize());
    out += '(';
    for (std::size_t i = 0; i < p.WireSize(); ++i) {
        out += 'x';
        out += HexByte(p.ByteAt(i));
    }
    out += ')';
    return out;
}

BusPacket PacketFromWire(const std::uint8_t* bytes, std::size_t dataBytes) {
    BusPacket p;
    p.dest = bytes[0];
    p.source = bytes[1];
    p.code = bytes[2];
    p.length = bytes[3];
    p.checksum = bytes[4];
    const std::size_t n = dataBytes < BusPacket::kMaxWireLength ? dataBytes : BusPacket::kMaxWireLength;
    for (std::size_t i = 0; i < n; ++i) p.data[i] = bytes[BusPacket::kHeaderSize + i];
    return p;
}

std::string TraceBytes(const BusPacket& p) {
    std::string out;
    out.reserve(3 * p.WireSize());
    for (std::size_t i = 0; i < p.WireSize(); ++i) {
        out += HexByte(p.ByteAt(i));
        out += ' ';
    }
    return out;
}

std::string EncodeRaw(const BusPacket& p) {
    std::string out;
    for (std::size_t i = 0; i < p.WireSize(); ++i) out += static_cast<char>(p.ByteAt(i));
    return out;
}

}  // namespace korva
