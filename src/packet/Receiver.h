#pragma once
// The character scanner: turns the serial line's printable framing into packets.

#include <cstdint>

#include "packet/BusPacket.h"

namespace korva {

class ReceiverSink {
  public:
    virtual ~ReceiverSink() = default;
    virtual void OnPacket(const BusPacket& packet) = 0;
    virtual void OnChecksumError(const BusPacket& packet, std::uint8_t computed) = 0;
};

class Receiver {
  public:
    enum State : std::uint8_t {
        Idle = 0,
        InPacket = 1,
        Closing = 2,
        Reset = 3,
        Complete = 4,
        Decimal = 5,
        Hex = 6,
        ByteReady = 7,
        Rejected = 8,
    };
    static constexpr std::uint8_t kRawSize = 100;

    explicit Receiver(ReceiverSink& sink) : sink_(sink) {}

    void Feed(char c);
    void ResetScanner() {
        state_ = Idle;
        count_ = 0;
    }
    State state() const { return state_; }

  private:
    void TakeDigit(char c);
    void TakeHexDigit(char c);
    void CompletePacket();
    // The header and the data bytes stored so far, read as a packet.
    BusPacket RawPacket() const;

    ReceiverSink& sink_;
    State state_ = Idle;
    std::uint8_t count_ = 0;
    std::uint8_t raw_[kRawSize] = {};
    std::uint8_t digits_ = 0;
    std::uint8_t acc_ = 0;
    bool checksumError_ = false;
    std::uint8_t computed_ = 0;
};

}  // namespace korva
