#pragma once
// Packets written as their bytes, for the tests of every layer.

#include <initializer_list>
#include <vector>

#include "packet/BusPacket.h"

namespace korva::test {

// A packet from its bytes, header first; the checksum is computed unless given.
inline BusPacket MakePacket(std::initializer_list<int> header, const std::vector<int>& data = {}) {
    BusPacket p;
    auto it = header.begin();
    p.dest = static_cast<std::uint8_t>(*it++);
    p.source = static_cast<std::uint8_t>(*it++);
    p.code = static_cast<std::uint8_t>(*it++);
    p.length = static_cast<std::uint8_t>(data.size());
    std::size_t i = 0;
    for (int d : data)
        if (i < BusPacket::kDataCapacity) p.data[i++] = static_cast<std::uint8_t>(d);
    StoreChecksum(p);
    return p;
}

}  // namespace korva::test
