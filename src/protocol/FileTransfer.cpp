// The file link's bus behaviour: single elements, the three special positions and the
// whole-file transfer that moves one element per request.
#include "model/Kobjects.h"

namespace korva {

namespace {
constexpr int kStatus = -3, kSize = -2, kChecksum = -1;
}

KFileLink::KFileLink(KDevice& owner, const LinkSpec& desc, std::int8_t length)
    : KPropertyLink(owner, desc), size(length) {
    current.kind = 0;
    newValue.kind = 0;
    current.StoreNumber(0);
    newValue.StoreNumber(0);
    // The reserve below element 0 is zeroed too, so nothing ever reads an unset entry.
    GrowTo(length);
}

void KFileLink::GrowTo(int elements) {
    if (elements < 0) elements = 0;  // a negative size holds nothing
    if (elements > kMaxElements) elements = kMaxElements;
    const auto want = static_cast<std::size_t>(elements + kReserve);
    if (want <= elementValues_.size()) return;
    elementValues_.resize(want, 0);
    elementStates_.resize(want, LinkState::UNKNOWN);
}

void KFileLink::SetElement(int index, std::int32_t value, std::uint8_t elementState) {
    if (!HasElement(index)) return;
    elementValues_[Slot(index)] = value;
    elementStates_[Slot(index)] = elementState;
}

std::int32_t KFileLink::ValueForPosition() const {
    switch (position) {
        case kStatus: return state;
        case kSize: return size;
        case kChecksum: return static_cast<std::int32_t>(checksum);
        default: return ElementValue(position);
    }
}

void KFileLink::StoreAtIndex(int index, std::int32_t value) {
    switch (index) {
        case kStatus: state = static_cast<std::uint8_t>(value & 0xFF); break;
        case kSize:
            size = static_cast<std::int8_t>(value & 0xFF);
            // A device may hold more elements than the configuration said: the arrays grow with it.
            GrowTo(size);
            break;
        case kChecksum: checksum = static_cast<std::uint32_t>(value & 0xFFFF); break;
        default:
            // Indices outside the element storage are ignored.
            SetElement(index, value, LinkState::KNOWN);
            break;
    }
}

bool KFileLink::Get() {
    if (type == 5) {
        const auto pos16 = static_cast<std::uint16_t>(static_cast<std::int16_t>(position));
        const std::uint8_t payload[3] = {code, static_cast<std::uint8_t>(pos16 >> 8),
                                         static_cast<std::uint8_t>(pos16 & 0xFF)};
        return Post(code::kRead, payload, 3);
    }
    const std::uint8_t payload[2] = {code, static_cast<std::uint8_t>(position)};
    return Post(code::kRead, payload, 2);
}

bool KFileLink::Set() {
    const std::int32_t v = ValueForPosition();
    const auto hi = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    const auto lo = static_cast<std::uint8_t>(v & 0xFF);
    const auto pos16 = static_cast<std::uint16_t>(static_cast<std::int16_t>(position));
    if (type == 5) {
        const std::uint8_t payload[4] = {code, lo, static_cast<std::uint8_t>(pos16 >> 8),
                                         static_cast<std::uint8_t>(pos16 & 0xFF)};
        return Post(code::kWrite, payload, 4);
    }
    const std::uint8_t payload[4] = {code, hi, lo, static_cast<std::uint8_t>(position)};
    return Post(code::kWrite, payload, 4);
}

bool KFileLink::HandleReply(const BusPacket& reply) {
    const std::uint8_t cls = reply.code & code::kClassMask;
    if (reply.code & code::kAck) {
        if (cls == code::kReadClass) {
            const int index = static_cast<std::int8_t>(reply.data[3]);
            const auto value = static_cast<std::int16_t>((reply.data[1] << 8) | reply.data[2]);
            current.StoreNumber(value);
            StoreAtIndex(index, value);
            if (index == position) {
                state = LinkState::KNOWN;
                ReleasePending();
            }
        } else if (cls == code::kWriteClass) {
            state = LinkState::KNOWN;
            ReleasePending();
        }
    } else if (reply.code & code::kRefused) {
        // The request stays in its slot and is sent again until its tries run out.
        state = LinkState::ERROR;
    }
    return true;
}

bool KFileLink::RequestElement(std::int8_t index) {
    if (index >= size) return false;
    position = index;
    state = LinkState::GET;
    return true;
}

bool KFileLink::WriteElement(std::int8_t index, std::int32_t value) {
    if (index >= size || !HasElement(index)) return false;
    position = index;
    state = LinkState::SET;
    SetElement(index, value, ElementState(index));
    newValue.StoreNumber(value);
    return true;
}

std::uint8_t KFileLink::Retry(std::uint8_t step) const {
    // A failed step is asked again without limit, but not once the transfer has been cancelled:
    // a device that never answers must not keep a cancelled transfer alive.
    return transferOp == kOpNone ? kFinish : step;
}

void KFileLink::Step() {
    // Steps are tested in ascending order, so one run may pass through several of them.
    if (transferStep == 0 && (transferOp == kOpLoad || transferOp == kOpSave)) transferStep = 1;
    if (transferStep == 1) {
        position = kStatus;
        state = LinkState::GET;
        transferStep = 2;
    }
    if (transferStep == 2) {
        if (state == LinkState::KNOWN)
            transferStep = 3;
        else if (state == LinkState::ERROR)
            transferStep = Retry(1);
    }
    if (transferStep == 3) {
        position = kSize;
        state = LinkState::GET;
        transferStep = 4;
    }
    if (transferStep == 4) {
        if (state == LinkState::KNOWN) {
            position = transferStart;
            if (transferOp == kOpSave || transferOp == kOpLoad) {
                if (position >= size || !HasElement(position))
                    transferStep = kFinish;  // an empty file moves nothing
                else
                    transferStep = transferOp == kOpSave ? 8 : 5;
            }
        } else if (state == LinkState::ERROR) {
            transferStep = Retry(3);
        }
    }
    if (transferStep == 5) {
        state = LinkState::GET;
        transferStep = 6;
    }
    if (transferStep == 6) {
        if (state == LinkState::KNOWN)
            transferStep = 7;
        else if (state == LinkState::ERROR)
            transferStep = Retry(5);
    }
    if (transferStep == 7 && transferOp == kOpLoad) {
        if (position < size) ++position;
        transferStep = position < size ? 5 : kFinish;
    }
    if (transferStep == 8) {
        state = LinkState::SET;
        transferStep = 9;
    }
    if (transferStep == 9) {
        if (state == LinkState::KNOWN)
            transferStep = 10;
        else if (state == LinkState::ERROR)
            transferStep = Retry(8);
    }
    if (transferStep == 10 && transferOp == kOpSave) {
        if (position < size) ++position;
        transferStep = position < size ? 8 : kFinish;
    }
    if (transferStep == kFinish) {
        transferOp = kOpNone;
        transferStep = 0;
    }
}

}  // namespace korva
