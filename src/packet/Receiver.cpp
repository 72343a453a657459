#include "packet/Receiver.h"

namespace korva {

namespace {
bool IsDecimal(char c) {
    return c >= '0' && c <= '9';
}
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // lowercase letters are not hex digits on this line
}
}  // namespace

void Receiver::Feed(char c) {
    // One character may carry the scanner through several states, in this order.
    if (c == '(') {
        state_ = InPacket;
        count_ = 0;
    } else if (state_ == InPacket) {
        if (c == ')') {
            state_ = Closing;
        } else if (IsDecimal(c)) {
            state_ = Decimal;
            digits_ = 0;
            acc_ = 0;
        } else if (c == 'x') {
            state_ = Hex;
            digits_ = 0;
            acc_ = 0;
            return;  // the x itself is no digit
        } else {
            state_ = Rejected;
        }
    }
    if (state_ == Decimal && IsDecimal(c)) TakeDigit(c);
    if (state_ == Hex) TakeHexDigit(c);
    if (state_ == ByteReady) {
        if (count_ < kRawSize) {
            raw_[count_++] = acc_;
            state_ = InPacket;
        } else {
            state_ = Reset;
        }
    }
    if (state_ == Closing) {
        const BusPacket p = RawPacket();
        computed_ = Checksum(p);
        checksumError_ = computed_ != p.checksum;
        state_ = Complete;
    }
    if (state_ == Complete) CompletePacket();
    if (state_ == Rejected) state_ = Reset;
    if (state_ == Reset) {
        count_ = 0;
        state_ = Idle;
    }
}

void Receiver::TakeDigit(char c) {
    const auto d = static_cast<std::uint8_t>(c - '0');
    switch (digits_) {
        case 0:
            if (d <= 2) {
                acc_ = static_cast<std::uint8_t>(100 * d);
                digits_ = 1;
            } else {
                state_ = InPacket;
            }
            break;
        case 1:
            if (acc_ < 200 || d <= 5) {
                acc_ = static_cast<std::uint8_t>(acc_ + 10 * d);
                digits_ = 2;
            } else {
                state_ = InPacket;
            }
            break;
        default:
            if (acc_ < 250 || d <= 5) {
                acc_ = static_cast<std::uint8_t>(acc_ + d);
                state_ = ByteReady;
            } else {
                state_ = InPacket;
            }
            break;
    }
}

void Receiver::TakeHexDigit(char c) {
    const int v = HexValue(c);
    if (v < 0) return;  // anything else is skipped inside a token
    if (digits_ == 0) {
        acc_ = static_cast<std::uint8_t>(v << 4);
        digits_ = 1;
    } else {
        acc_ = static_cast<std::uint8_t>(acc_ | v);
        state_ = ByteReady;
    }
}

BusPacket Receiver::RawPacket() const {
    // A length above 4 is cut to 4: no more data bytes ever travel.
    return PacketFromWire(raw_, raw_[3]);
}

void Receiver::CompletePacket() {
    const BusPacket p = RawPacket();
    const std::size_t n = p.WireDataLength();
    // A packet with fewer bytes than its header promises would be checked against the previous
    // packet's leftovers and could deliver it twice: it is dropped.
    const bool truncated = count_ < BusPacket::kHeaderSize + n || count_ < BusPacket::kHeaderSize;
    state_ = Reset;
    if (truncated) {
        checksumError_ = false;
        return;
    }
    if (checksumError_) {
        checksumError_ = false;
        sink_.OnChecksumError(p, computed_);
    } else {
        sink_.OnPacket(p);
    }
}

}  // namespace korva
