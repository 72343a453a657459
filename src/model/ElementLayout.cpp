#include "model/ElementLayout.h"

namespace korva {

namespace {
std::int16_t Word(const BusPacket& p, std::size_t at) {
    return static_cast<std::int16_t>((p.data[at] << 8) | p.data[at + 1]);
}
std::uint8_t High(int v) {
    return static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
std::uint8_t Low(int v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
}  // namespace

std::uint8_t EncodeElementRead(bool wide, std::uint8_t code, int index, std::uint8_t out[4]) {
    out[0] = code;
    if (!wide) {
        out[1] = Low(index);
        return 2;
    }
    // A negative index travels sign-extended: the status element -3 as FF FD.
    const auto index16 = static_cast<std::uint16_t>(static_cast<std::int16_t>(index));
    out[1] = High(index16);
    out[2] = Low(index16);
    return 3;
}

std::uint8_t EncodeElementWrite(bool wide, std::uint8_t code, int index, std::int32_t value,
                                std::uint8_t out[4]) {
    out[0] = code;
    if (wide) {
        const auto index16 = static_cast<std::uint16_t>(static_cast<std::int16_t>(index));
        out[1] = Low(value);  // only the value's low byte has room
        out[2] = High(index16);
        out[3] = Low(index16);
    } else {
        out[1] = High(value);
        out[2] = Low(value);
        out[3] = Low(index);
    }
    return 4;
}

ElementFields DecodeElement(bool wide, const BusPacket& p) {
    ElementFields f;
    const std::uint8_t cls = p.code & code::kClassMask;
    const bool reply = (p.code & (code::kAck | code::kRefused)) != 0, ack = (p.code & code::kAck) != 0;
    if (cls == code::kReadClass && !reply && p.length >= 2) {
        f.hasIndex = true;
        f.index = wide && p.length >= 3 ? Word(p, 1) : static_cast<std::int8_t>(p.data[1]);
    } else if (cls == code::kReadClass && ack) {
        // A read reply names its element in the fourth data byte, whatever the index width; its
        // length is not checked.
        f.hasIndex = f.hasValue = true;
        f.index = static_cast<std::int8_t>(p.data[3]);
        f.value = Word(p, 1);
    } else if (cls == code::kWriteClass && (!reply || ack) && p.length >= 4) {
        f.hasIndex = f.hasValue = true;
        if (wide) {
            f.index = Word(p, 2);
            f.value = p.data[1];
        } else {
            f.index = static_cast<std::int8_t>(p.data[3]);
            f.value = Word(p, 1);
        }
    }
    return f;
}

}  // namespace korva
