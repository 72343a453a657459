#pragma once
// A link's value together with its wire kind (the property type).

#include <cstdint>
#include <stdexcept>

#include "model/Enums.h"

namespace korva {

struct BusPacket;

class KvEx_WrongPacketLength : public std::runtime_error {
  public:
    KvEx_WrongPacketLength() : std::runtime_error("wrong packet length") {}
};
class KvEx_BadPropertyType : public std::runtime_error {
  public:
    KvEx_BadPropertyType() : std::runtime_error("bad property type") {}
};
class KvEx_ValueSize : public std::runtime_error {
  public:
    KvEx_ValueSize() : std::runtime_error("value size mismatch") {}
};

// The whole numbers a value can carry on the wire: a 16-bit word read either way (-32768 to 65535),
// a byte or an option byte likewise (-128 to 255). Anything outside would be cut to its low bits and
// reach the device as another number.
struct WireRange {
    std::int32_t min;
    std::int32_t max;
    bool Holds(double n) const { return n >= min && n <= max; }
};
inline constexpr WireRange kWordRange{-32768, 65535};
inline constexpr WireRange kByteRange{-128, 255};
// The range of a value of kind 0 to 3 (the option byte of kind 3 has kByteRange).
inline WireRange WireRangeOf(std::uint8_t kind) {
    return kind == PropertyType::Byte ? kByteRange : kWordRange;
}

// Low 16 bits of a number truncated toward zero, as a signed 16-bit value; NaN and infinities give 0.
std::int16_t ToInt16(double n);

struct ValueRecord {
    std::int32_t word = 0;  // 16-bit value of kinds 0, 2, 3; only the low 16 bits count
    std::uint8_t byte = 0;  // value of kind 1, option byte of kind 3
    std::uint8_t kind = 0;

    static bool IsValueKind(std::uint8_t k) { return k <= 3; }

    void StoreNumber(double n);
    // Kind 3 only; other kinds refuse it silently and stay unchanged.
    void StoreNumberAndOption(double n, std::uint8_t option);
    int ReadAsNumber() const;
    std::uint8_t ReadAsByte() const;
    // Same kind only; another kind is refused silently.
    void CopyFrom(const ValueRecord& other);

    // Throws KvEx_WrongPacketLength or KvEx_BadPropertyType; nothing is stored then.
    void DecodeReply(const BusPacket& reply);
    // Writes the value bytes (after the property code) into out; returns their count (1 to 3).
    // Throws KvEx_BadPropertyType for a kind outside 0 to 3.
    int Encode(std::uint8_t out[3]) const;
};

}  // namespace korva
