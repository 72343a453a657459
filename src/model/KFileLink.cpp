// The file link's bus behaviour: single elements, the three special positions and the
// whole-file transfer that moves one element per request.
#include "model/Kobjects.h"

#include "model/ElementLayout.h"

namespace korva {

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
        case kStatus:
            return state;
        case kSize:
            return size;
        case kChecksum:
            return static_cast<std::int32_t>(checksum);
        default:
            return ElementValue(position);
    }
}

void KFileLink::StoreAtIndex(int index, std::int32_t value) {
    switch (index) {
        case kStatus:
            state = static_cast<std::uint8_t>(value & 0xFF);
            break;
        case kSize:
            size = static_cast<std::int8_t>(value & 0xFF);
            // A device may hold more elements than the configuration said: the arrays grow with it.
            GrowTo(size);
            break;
        case kChecksum:
            checksum = static_cast<std::uint32_t>(value & 0xFFFF);
            break;
        default:
            // Indices outside the element storage are ignored.
            SetElement(index, value, LinkState::KNOWN);
            break;
    }
}

bool KFileLink::Get() {
    std::uint8_t payload[4] = {};
    return Post(code::kRead, payload, EncodeElementRead(Wide(), code, position, payload));
}

bool KFileLink::Set() {
    std::uint8_t payload[4] = {};
    return Post(code::kWrite, payload,
                EncodeElementWrite(Wide(), code, position, ValueForPosition(), payload));
}

int KFileLink::RequestIndex(const BusPacket& p) const {
    return DecodeElement(Wide(), p).index;
}

bool KFileLink::Answers(const BusPacket& reply) const {
    if (!PendingOfClass(reply)) return false;
    const std::uint8_t cls = reply.code & code::kClassMask;
    // A refusal carries no index: it answers the pending request of its class.
    if (!(reply.code & code::kAck)) return true;
    if (cls == code::kReadClass) return DecodeElement(Wide(), reply).index == RequestIndex(asked);
    // A write acknowledgement that repeats the request names the element written; one that carries
    // the code alone cannot be told from a duplicate, and answers the pending write.
    if (reply.length >= 4) return RequestIndex(reply) == RequestIndex(asked);
    return true;
}

bool KFileLink::HandleReply(const BusPacket& reply) {
    const std::uint8_t cls = reply.code & code::kClassMask;
    const bool answers = Answers(reply);
    if (reply.code & code::kAck) {
        if (cls == code::kReadClass) {
            const ElementFields fields = DecodeElement(Wide(), reply);
            const int index = fields.index;
            const auto value = static_cast<std::int16_t>(fields.value);
            const bool writing = state == LinkState::SET;
            // A late reply for another element must not pass for the value of the one asked for.
            if (index == position) current.StoreNumber(value);
            // The status element is the link state, which belongs to a request under way.
            if (index != kStatus || pending == nullptr) StoreAtIndex(index, value);
            if (index == position && (answers || pending == nullptr))
                state = writing ? LinkState::SET : LinkState::KNOWN;
        } else if (cls == code::kWriteClass) {
            if (!answers) return Unasked();
            state = LinkState::KNOWN;
        }
    } else if (reply.code & code::kRefused) {
        if (!answers) return Unasked();
        Refused(reply);
        // A transfer asks again through its own request, which stays in its slot and is repeated;
        // a single element request is done, and must not hold its slot against the next one.
        if (transferOp_ != TransferOp::None) return true;
    } else {
        return false;  // a request from the device answers nothing
    }
    if (answers) ReleasePending();
    return answers;
}

ElementFault KFileLink::CheckWrite(int index, std::int32_t value) const {
    if (!Writable(index)) return ElementFault::OutsideFile;
    if (!ElementRange().Holds(value)) return ElementFault::ValueTooWide;
    return ElementFault::None;
}

bool KFileLink::ReadElement(int index) {
    if (!Readable(index)) return false;
    position = static_cast<std::int8_t>(index);
    Ask(LinkState::GET);
    return true;
}

ElementFault KFileLink::WriteElement(int index, std::int32_t value) {
    const ElementFault why = CheckWrite(index, value);
    if (why != ElementFault::None) return why;
    newValue.StoreNumber(value);
    position = static_cast<std::int8_t>(index);
    // The element shows the new value before any reply, as the wire will carry it.
    SetElement(index, newValue.ReadAsNumber(), ElementState(index));
    Ask(LinkState::SET);
    return ElementFault::None;
}

bool KFileLink::StoreElement(int index, std::int32_t value) {
    if (!Writable(index)) return false;
    SetElement(index, static_cast<std::int16_t>(value & 0xFFFF), ElementState(index));
    // The device no longer holds what the link shows.
    state = LinkState::UNKNOWN;
    return true;
}

void KFileLink::StartTransfer(TransferOp op) {
    transferStep_ = TransferStep::Idle;
    transferOp_ = op;
    ClearFault();
    Activate();
}

TransferStep KFileLink::Retry(TransferStep step) const {
    // A failed step is asked again without limit, but not once the transfer has been cancelled:
    // a device that never answers must not keep a cancelled transfer alive.
    return transferOp_ == TransferOp::None ? TransferStep::Finish : step;
}

void KFileLink::Step() {
    using S = TransferStep;
    S& step = transferStep_;
    const bool loading = transferOp_ == TransferOp::Load, saving = transferOp_ == TransferOp::Save;
    // Steps are tested in ascending order, so one run may pass through several of them.
    if (step == S::Idle && (loading || saving)) step = S::ReadStatus;
    if (step == S::ReadStatus) {
        position = kStatus;
        state = LinkState::GET;
        step = S::AwaitStatus;
    }
    if (step == S::AwaitStatus) {
        if (state == LinkState::KNOWN)
            step = S::ReadSize;
        else if (state == LinkState::ERROR)
            step = Retry(S::ReadStatus);
    }
    if (step == S::ReadSize) {
        position = kSize;
        state = LinkState::GET;
        step = S::AwaitSize;
    }
    if (step == S::AwaitSize) {
        if (state == LinkState::KNOWN) {
            position = transferStart;
            if (saving || loading) {
                if (!Writable(position))
                    step = S::Finish;  // an empty file moves nothing
                else
                    step = saving ? S::WriteElement : S::ReadElement;
            }
        } else if (state == LinkState::ERROR) {
            step = Retry(S::ReadSize);
        }
    }
    if (step == S::ReadElement) {
        state = LinkState::GET;
        step = S::AwaitRead;
    }
    if (step == S::AwaitRead) {
        if (state == LinkState::KNOWN)
            step = S::NextRead;
        else if (state == LinkState::ERROR)
            step = Retry(S::ReadElement);
    }
    if (step == S::NextRead && transferOp_ == TransferOp::Load) {
        if (position < size) ++position;
        step = position < size ? S::ReadElement : S::Finish;
    }
    if (step == S::WriteElement) {
        state = LinkState::SET;
        step = S::AwaitWrite;
    }
    if (step == S::AwaitWrite) {
        if (state == LinkState::KNOWN)
            step = S::NextWrite;
        else if (state == LinkState::ERROR)
            step = Retry(S::WriteElement);
    }
    if (step == S::NextWrite && transferOp_ == TransferOp::Save) {
        if (position < size) ++position;
        step = position < size ? S::WriteElement : S::Finish;
    }
    if (step == S::Finish) {
        transferOp_ = TransferOp::None;
        step = S::Idle;
    }
}

}  // namespace korva
