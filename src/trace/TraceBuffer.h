#pragma once
// The packet trace held in memory: one compact record per packet, the newest kept when the ring is full.

#include <cstdint>
#include <vector>

#include "packet/CaptureLine.h"

namespace korva {

// 24 bytes: the time, the way the packet took, its line and its bytes as on the wire.
struct TraceRecord {
    std::int64_t timeUs = -1;
    PacketPath path = PacketPath::Sent;
    std::uint8_t line = 0;  // the COM number of the line it travelled on, 1 to 6; 0 not known
    std::uint8_t size = 0;
    std::uint8_t bytes[BusPacket::kHeaderSize + BusPacket::kMaxWireLength] = {};

    static TraceRecord From(std::int64_t timeUs, PacketPath path, const BusPacket& packet,
                            std::uint8_t line = 0);
    BusPacket Packet() const;
};

// A million of them are held: the line takes a byte the padding had.
static_assert(sizeof(TraceRecord) == 24);

// Records are numbered in the order they came, from 0 for the first ever appended; the ring holds
// the numbers First() to End() - 1.
class TraceBuffer {
  public:
    static constexpr std::size_t kDefaultCapacity = 1'000'000;
    explicit TraceBuffer(std::size_t capacity = kDefaultCapacity) : capacity_(capacity == 0 ? 1 : capacity) {}

    void Append(const TraceRecord& r);
    void Clear();

    std::uint64_t First() const { return end_ - ring_.size(); }
    std::uint64_t End() const { return end_; }
    std::size_t Size() const { return ring_.size(); }
    std::size_t Capacity() const { return capacity_; }
    // Records pushed out by newer ones since the last Clear.
    std::uint64_t Dropped() const { return dropped_; }
    bool Holds(std::uint64_t n) const { return n >= First() && n < end_; }
    // n must be held.
    const TraceRecord& At(std::uint64_t n) const { return ring_[static_cast<std::size_t>(n % capacity_)]; }

  private:
    std::size_t capacity_;
    std::vector<TraceRecord> ring_;  // grows to the capacity, then wraps: record n sits at n % capacity
    std::uint64_t end_ = 0;
    std::uint64_t dropped_ = 0;
};

}  // namespace korva
