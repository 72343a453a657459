#pragma once
// Packets out of a TCP byte stream. A peer writes each packet as its 5 + length raw bytes with
// nothing between them, but the stream may deliver two packets in one read or one packet in two:
// the length byte (byte 3) says where each packet ends.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "packet/BusPacket.h"

namespace korva {

class RelayFramer {
  public:
    static constexpr std::size_t kMaxFrame = BusPacket::kHeaderSize + BusPacket::kMaxWireLength;

    using Sink = std::function<void(const BusPacket&)>;

    // Takes the next bytes of the stream, in any chunking; hands on every whole packet whose
    // checksum is right, in order. A length above 4 cannot start a packet: one byte is dropped and
    // the stream is read again from the next one. A whole frame with a wrong checksum is dropped.
    void Push(std::string_view bytes, const Sink& sink);

    // Bytes of an unfinished packet; never more than one frame.
    std::size_t Buffered() const { return size_; }
    // What was thrown away, for tests and soak runs.
    std::uint64_t SkippedBytes() const { return skipped_; }
    std::uint64_t BadFrames() const { return badFrames_; }

  private:
    std::array<std::uint8_t, kMaxFrame> buf_{};
    std::size_t size_ = 0;
    std::uint64_t skipped_ = 0;
    std::uint64_t badFrames_ = 0;
};

}  // namespace korva
