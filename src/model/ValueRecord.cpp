#include "model/ValueRecord.h"

#include <cmath>

#include "model/Enums.h"
#include "packet/BusPacket.h"

namespace korva {

std::int16_t ToInt16(double n) {
    if (!std::isfinite(n)) return 0;
    // fmod keeps the low 16 bits of the integer part without overflowing a conversion.
    const double low = std::fmod(std::trunc(n), 65536.0);
    const auto v = static_cast<std::int32_t>(low) & 0xFFFF;
    return static_cast<std::int16_t>(v >= 0x8000 ? v - 0x10000 : v);
}

void ValueRecord::StoreNumber(double n) {
    const std::int16_t v = ToInt16(n);
    switch (kind) {
        case PropertyType::Word:
        case PropertyType::SignedWord:
            word = v;
            break;
        case PropertyType::Byte:
            byte = static_cast<std::uint8_t>(v & 0xFF);
            break;
        case PropertyType::WordOption:
            word = v;
            byte = 0;
            break;
        default:
            break;
    }
}

void ValueRecord::StoreNumberAndOption(double n, std::uint8_t option) {
    try {
        if (kind < PropertyType::WordOption) throw KvEx_ValueSize();
        if (kind == PropertyType::WordOption) {
            word = ToInt16(n);
            byte = option;
        }
    } catch (const KvEx_ValueSize&) {
        // refused: the record stays as it was
    }
}

int ValueRecord::ReadAsNumber() const {
    if (kind == PropertyType::Byte) return byte;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(word & 0xFFFF));
}

std::uint8_t ValueRecord::ReadAsByte() const {
    return kind == PropertyType::Byte ? byte : static_cast<std::uint8_t>(word & 0xFF);
}

void ValueRecord::CopyFrom(const ValueRecord& other) {
    try {
        if (other.kind != kind) throw KvEx_ValueSize();
        word = other.word;
        byte = other.byte;
    } catch (const KvEx_ValueSize&) {
        // refused: the record stays as it was
    }
}

void ValueRecord::DecodeReply(const BusPacket& reply) {
    // A reply's 16-bit value is kept zero-extended; readers use the low 16 bits.
    const auto word16 = [&] { return static_cast<std::int32_t>((reply.data[1] << 8) | reply.data[2]); };
    switch (kind) {
        case PropertyType::Word:
        case PropertyType::SignedWord:
            if (reply.length != 3) throw KvEx_WrongPacketLength();
            word = word16();
            break;
        case PropertyType::Byte:
            if (reply.length != 2) throw KvEx_WrongPacketLength();
            byte = reply.data[1];
            break;
        case PropertyType::WordOption:
            if (reply.length != 4) throw KvEx_WrongPacketLength();
            word = word16();
            byte = reply.data[3];
            break;
        default:
            throw KvEx_BadPropertyType();
    }
}

int ValueRecord::Encode(std::uint8_t out[3]) const {
    const auto hi = static_cast<std::uint8_t>((word >> 8) & 0xFF);
    const auto lo = static_cast<std::uint8_t>(word & 0xFF);
    switch (kind) {
        case PropertyType::Word:
        case PropertyType::SignedWord:
            out[0] = hi;
            out[1] = lo;
            return 2;
        case PropertyType::Byte:
            out[0] = byte;
            return 1;
        case PropertyType::WordOption:
            out[0] = hi;
            out[1] = lo;
            out[2] = byte;
            return 3;
        default:
            throw KvEx_BadPropertyType();
    }
}

}  // namespace korva
