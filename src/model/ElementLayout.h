#pragma once
// The data layouts of a file handle's element packets, for both index widths: one codec for the
// file link, which builds and matches them, and the trace, which shows them. (The simulator keeps
// a layout of its own on purpose: it is the tests' independent view of the wire.)

#include <cstdint>

#include "packet/BusPacket.h"

namespace korva {

// What one element packet carries; hasIndex or hasValue is false where its layout has no such field.
struct ElementFields {
    bool hasIndex = false;
    int index = 0;
    bool hasValue = false;
    std::int32_t value = 0;  // the 16-bit value read as signed; a 16-bit index leaves room for one byte
};

// wide: the index travels as 16 bits (a File16 handle). Each writes the data bytes into out and
// returns their count.
std::uint8_t EncodeElementRead(bool wide, std::uint8_t code, int index, std::uint8_t out[4]);
std::uint8_t EncodeElementWrite(bool wide, std::uint8_t code, int index, std::int32_t value,
                                std::uint8_t out[4]);

// A read request, a read reply, a write request, or a write acknowledgement that repeats its request.
ElementFields DecodeElement(bool wide, const BusPacket& packet);

}  // namespace korva
