#include "packet/RelayFraming.h"

#include <algorithm>

namespace korva {

void RelayFramer::Push(std::string_view bytes, const Sink& sink) {
    constexpr std::size_t kLengthAt = 3;
    for (const char c : bytes) {
        // The buffer is looked at after every byte, so it never holds more than one frame, and a
        // length byte is judged as soon as it arrives: a bad one always finds four bytes here.
        buf_[size_++] = static_cast<std::uint8_t>(c);
        if (size_ <= kLengthAt) continue;
        const std::uint8_t length = buf_[kLengthAt];
        if (length > BusPacket::kMaxWireLength) {
            std::copy(buf_.begin() + 1, buf_.begin() + kLengthAt + 1, buf_.begin());
            size_ = kLengthAt;
            ++skipped_;
            continue;
        }
        if (size_ < BusPacket::kHeaderSize + length) continue;
        BusPacket p;
        p.dest = buf_[0];
        p.source = buf_[1];
        p.code = buf_[2];
        p.length = length;
        p.checksum = buf_[4];
        std::copy_n(buf_.begin() + BusPacket::kHeaderSize, length, p.data);
        size_ = 0;
        if (ChecksumOk(p))
            sink(p);
        else
            ++badFrames_;
    }
}

}  // namespace korva
