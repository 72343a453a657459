#pragma once
// The trace as a pcapng file, the format of the common packet analyzers: one enhanced packet block
// per packet with its time to the microsecond and its bytes as the line carries them (5 + length,
// checksum included), on one interface of link type 147 (the first of the "user" link types, which
// an analyzer maps to a dissector of its choice). Each block's flags give the direction (inbound for
// what was received or heard, outbound for what was sent or relayed) and its comment the direction
// in words and the line ("sent COM2").

#include <cstdint>
#include <string>
#include <vector>

#include "trace/TraceBuffer.h"

namespace korva {

inline constexpr std::uint16_t kPcapngLinkType = 147;

// The held records, or those numbered in rows, as a whole pcapng file.
std::string PcapngText(const TraceBuffer& buffer, const std::vector<std::uint64_t>* rows = nullptr);

// A file written as packets come: its section header and interface first, then a block per packet.
// interfaceName is what an analyzer shows for the line.
std::string PcapngHead(const std::string& interfaceName = "KorvaConfig bus");
std::string PcapngPacket(const TraceRecord& r);

}  // namespace korva
