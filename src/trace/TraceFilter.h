#pragma once
// Which traced packets a view shows.

#include <cstdint>
#include <string>
#include <vector>

#include "trace/TraceDecoder.h"

namespace korva {

struct TraceFilter {
    static constexpr unsigned kAllPaths = (1u << kPacketPaths) - 1;

    int device = -1;             // bus address of the device a packet is about; -1 any
    int propertyCode = -1;       // first data byte, with the device; -1 any
    unsigned paths = kAllPaths;  // one bit per PacketPath
    int commandClass = -1;       // code & 0xF8; -1 any
    std::string text;            // found in one of the row's words, ignoring case; empty any
    int line = -1;               // COM number of the line the packet travelled on; -1 any

    bool Empty() const {
        return device < 0 && propertyCode < 0 && paths == kAllPaths && commandClass < 0 && text.empty() &&
               line < 0;
    }
    bool Matches(const TraceRecord& r, const TraceDecoder& decoder) const;
};

// The numbers of the held records that match, oldest first.
std::vector<std::uint64_t> FilterTrace(const TraceBuffer& buffer, const TraceFilter& filter,
                                       const TraceDecoder& decoder);

}  // namespace korva
