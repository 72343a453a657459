#pragma once
// The bus packet: five header bytes, then at most four data bytes on the wire.
// The checksum stands before the data, not after it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace korva {

struct BusPacket {
    static constexpr std::size_t kHeaderSize = 5;
    static constexpr std::size_t kDataCapacity = 32;
    static constexpr std::uint8_t kMaxWireLength = 4;

    std::uint8_t dest = 0;
    std::uint8_t source = 0;
    std::uint8_t code = 0;
    std::uint8_t length = 0;
    std::uint8_t checksum = 0;
    std::uint8_t data[kDataCapacity] = {};

    // Number of data bytes that travel: the length, never more than four.
    std::size_t WireDataLength() const { return length > kMaxWireLength ? kMaxWireLength : length; }
    std::size_t WireSize() const { return kHeaderSize + WireDataLength(); }
    std::uint8_t ByteAt(std::size_t i) const;  // header then data, as on the wire
};

// Code byte: bits 7..3 command class, bit 2 refusal, bit 1 acknowledge, bit 0 reply expected.
namespace code {
constexpr std::uint8_t kClassMask = 0xF8;
constexpr std::uint8_t kRefused = 0x04;
constexpr std::uint8_t kAck = 0x02;
constexpr std::uint8_t kExpectsReply = 0x01;
constexpr std::uint8_t kReadClass = 0x88;
constexpr std::uint8_t kWriteClass = 0x78;
constexpr std::uint8_t kBootClass = 0xE8;
constexpr std::uint8_t kCloseClass = 0x58;
constexpr std::uint8_t kRead = 0x89;
constexpr std::uint8_t kWrite = 0x79;
constexpr std::uint8_t kBoot = 0xE8;
}  // namespace code

// Element indices of a device file that the file's own fields serve, not its elements.
namespace element {
constexpr int kStatus = -3, kSize = -2, kChecksum = -1;
}  // namespace element

constexpr std::uint8_t kBroadcastAddress = 6;
constexpr std::uint8_t kStartOwnAddress = 108;
constexpr std::uint8_t kBootLoaderAddress = 0x16;

// The same function checks and makes: a length above 4 can never pass.
std::uint8_t Checksum(const BusPacket& p);
void StoreChecksum(BusPacket& p);
bool ChecksumOk(const BusPacket& p);

// Serial framing: "(" then "x" and two uppercase hex digits per byte, then ")".
std::string EncodeSerial(const BusPacket& p);
// The bytes of a packet as two uppercase hex digits and a blank each: "23 6C 89 01 1E 05 ".
std::string TraceBytes(const BusPacket& p);
// A packet from its bytes as the wire carries them: the header, then `dataBytes` data bytes (at
// most kMaxWireLength are taken).
BusPacket PacketFromWire(const std::uint8_t* bytes, std::size_t dataBytes);
// Raw form for a TCP peer: the 5 + length bytes as they stand.
std::string EncodeRaw(const BusPacket& p);
std::string HexByte(std::uint8_t b);

}  // namespace korva
