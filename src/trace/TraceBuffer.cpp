#include "trace/TraceBuffer.h"

#include <algorithm>

namespace korva {

TraceRecord TraceRecord::From(std::int64_t timeUs, PacketPath path, const BusPacket& packet,
                              std::uint8_t line) {
    TraceRecord r;
    r.timeUs = timeUs;
    r.path = path;
    r.line = line <= kMaxLine ? line : 0;
    r.size = static_cast<std::uint8_t>(packet.WireSize());
    for (std::size_t i = 0; i < r.size; ++i) r.bytes[i] = packet.ByteAt(i);
    return r;
}

BusPacket TraceRecord::Packet() const {
    return PacketFromWire(bytes, size > BusPacket::kHeaderSize ? size - BusPacket::kHeaderSize : 0);
}

void TraceBuffer::Append(const TraceRecord& r) {
    if (ring_.size() < capacity_) {
        if (ring_.capacity() == ring_.size())
            ring_.reserve(std::min(capacity_, std::max<std::size_t>(1024, ring_.size() * 2)));
        ring_.push_back(r);
    } else {
        ring_[static_cast<std::size_t>(end_ % capacity_)] = r;
        ++dropped_;
    }
    ++end_;
}

void TraceBuffer::Clear() {
    // The numbering goes on, so that a view never mistakes a new record for an old one.
    const std::uint64_t next = end_;
    ring_.clear();
    ring_.shrink_to_fit();
    dropped_ = 0;
    // Record n sits at n % capacity: the ring restarts on a multiple of it.
    end_ = (next + capacity_ - 1) / capacity_ * capacity_;
}

}  // namespace korva
