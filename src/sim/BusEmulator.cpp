#include "sim/BusEmulator.h"

#include <algorithm>

namespace korva::sim {

namespace {
using element::kChecksum;
using element::kSize;
using element::kStatus;

BusPacket ReplyTo(const BusPacket& request, std::uint8_t from, std::uint8_t replyCode) {
    BusPacket r;
    r.dest = request.source;
    r.source = from;
    r.code = replyCode;
    r.length = 1;
    r.data[0] = request.data[0];
    return r;
}

void PutWord(BusPacket& r, std::int32_t word) {
    r.data[1] = static_cast<std::uint8_t>((word >> 8) & 0xFF);
    r.data[2] = static_cast<std::uint8_t>(word & 0xFF);
}
}  // namespace

std::uint16_t SimFile::Checksum() const {
    unsigned sum = 0;
    for (std::int16_t e : elements) sum += static_cast<std::uint16_t>(e);
    return static_cast<std::uint16_t>(sum);
}

SimProperty* SimDevice::FindProperty(std::uint8_t code) {
    for (SimProperty& p : properties)
        if (p.code == code) return &p;
    return nullptr;
}

SimFile* SimDevice::FindFile(std::uint8_t code) {
    for (SimFile& f : files)
        if (f.code == code) return &f;
    return nullptr;
}

std::string EncodeSerialDecimal(const BusPacket& p) {
    std::string out = "(";
    for (std::size_t i = 0; i < p.WireSize(); ++i) {
        const unsigned b = p.ByteAt(i);
        out += static_cast<char>('0' + b / 100);
        out += static_cast<char>('0' + (b / 10) % 10);
        out += static_cast<char>('0' + b % 10);
    }
    return out + ")";
}

BusEmulator::BusEmulator(FaultOptions options) : options_(options), receiver_(*this), rng_(options.seed) {}

SimDevice& BusEmulator::AddDevice(const std::string& name, std::uint8_t address) {
    devices_.push_back(SimDevice{});
    devices_.back().name = name;
    devices_.back().address = address;
    return devices_.back();
}

SimDevice* BusEmulator::FindDevice(std::uint8_t address) {
    for (SimDevice& d : devices_)
        if (d.address == address) return &d;
    return nullptr;
}

void BusEmulator::Feed(std::string_view text) {
    for (char c : text) receiver_.Feed(c);
}

bool BusEmulator::Chance(double rate) {
    if (rate <= 0) return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < rate;
}

void BusEmulator::OnPacket(const BusPacket& request) {
    SimDevice* d = FindDevice(request.dest);
    if (d == nullptr) return;
    if (Chance(options_.loseRate)) {
        ++lost;
        return;
    }
    seen_.push_back({now_, request});
    if (trace) trace(FormatCaptureLine(-1, PacketPath::Received, request, traceLine));
    BusPacket reply;
    if (!Answer(*d, request, reply)) return;
    if (Chance(options_.dropRate)) {
        ++dropped;
        return;
    }
    StoreChecksum(reply);
    Emit(reply, d->latencyTicks);
}

bool BusEmulator::Answer(SimDevice& d, const BusPacket& request, BusPacket& reply) {
    if (d.silent) return false;
    if (request.code & (code::kAck | code::kRefused)) return false;  // replies are not for us
    if ((request.code & code::kExpectsReply) == 0) return false;     // the boot-loader start, for one
    const std::uint8_t cls = request.code & code::kClassMask;
    const auto refusal = static_cast<std::uint8_t>((request.code & ~code::kExpectsReply) | code::kRefused);
    const auto positive = static_cast<std::uint8_t>((request.code & ~code::kExpectsReply) | code::kAck);
    reply = ReplyTo(request, d.address, refusal);
    if (d.refuseAll || Chance(options_.refuseRate) || request.length == 0) return true;

    const std::uint8_t propCode = request.data[0];
    if (SimProperty* p = d.FindProperty(propCode)) {
        if (cls == code::kReadClass) {
            reply.code = positive;
            if (p->type == 1) {
                reply.length = 2;
                reply.data[1] = p->byte;
            } else {
                reply.length = p->type == 3 ? 4 : 3;
                PutWord(reply, p->word);
                reply.data[3] = p->byte;
            }
        } else if (cls == code::kWriteClass) {
            const int want = p->type == 1 ? 2 : p->type == 3 ? 4 : 3;
            if (request.length != want) return true;  // refused
            if (p->type == 1) {
                p->byte = request.data[1];
            } else {
                p->word = (request.data[1] << 8) | request.data[2];
                if (p->type == 3) p->byte = request.data[3];
            }
            reply.code = positive;
        }
        return true;
    }
    if (SimFile* f = d.FindFile(propCode)) {
        if (cls == code::kReadClass && ReadFile(d, *f, request, reply)) reply.code = positive;
        if (cls == code::kWriteClass && WriteFile(*f, request)) {
            // The acknowledgement repeats the request, so that it names the element it answers.
            reply.code = positive;
            reply.length = request.length;
            for (std::size_t i = 0; i < request.WireDataLength(); ++i) reply.data[i] = request.data[i];
        }
    }
    return true;
}

bool BusEmulator::ReadFile(SimDevice& d, SimFile& f, const BusPacket& request, BusPacket& reply) {
    int index = 0;
    if (f.type == 5) {
        if (request.length < 3) return false;
        index = static_cast<std::int16_t>((request.data[1] << 8) | request.data[2]);
    } else {
        if (request.length < 2) return false;
        index = static_cast<std::int8_t>(request.data[1]);
    }
    std::int32_t value = 0;
    if (index == kStatus)
        value = f.status;
    else if (index == kSize)
        value = d.forcedSize >= 0 ? d.forcedSize : static_cast<std::int32_t>(f.elements.size());
    else if (index == kChecksum)
        value = f.Checksum();
    else if (index >= 0 && index < static_cast<int>(f.elements.size()))
        value = f.elements[static_cast<std::size_t>(index)];
    else
        return false;
    reply.length = 4;
    PutWord(reply, value);
    reply.data[3] = static_cast<std::uint8_t>(index & 0xFF);
    return true;
}

bool BusEmulator::WriteFile(SimFile& f, const BusPacket& request) {
    if (request.length != 4) return false;
    int index = 0;
    std::int32_t value = 0;
    if (f.type == 5) {
        index = static_cast<std::int16_t>((request.data[2] << 8) | request.data[3]);
        const bool element = index >= 0 && index < static_cast<int>(f.elements.size());
        // Only the low byte travels: the high byte of the element stays.
        const std::int32_t old = element ? f.elements[static_cast<std::size_t>(index)] : 0;
        value = (old & 0xFF00) | request.data[1];
    } else {
        index = static_cast<std::int8_t>(request.data[3]);
        value = (request.data[1] << 8) | request.data[2];
    }
    if (index == kStatus)
        f.status = static_cast<std::uint8_t>(value & 0xFF);
    else if (index == kSize || index == kChecksum)
        return true;  // derived from the elements
    else if (index >= 0 && index < static_cast<int>(f.elements.size()))
        f.elements[static_cast<std::size_t>(index)] = static_cast<std::int16_t>(value & 0xFFFF);
    else
        return false;
    return true;
}

void BusEmulator::Emit(const BusPacket& reply, int latency) {
    std::string text = options_.decimal ? EncodeSerialDecimal(reply) : EncodeSerial(reply);
    if (Chance(options_.corruptRate)) {
        // Damage one byte token's digit so that the checksum no longer fits.
        const std::size_t at = 2 + std::uniform_int_distribution<std::size_t>(0, text.size() - 4)(rng_);
        text[at] = text[at] == '0' ? '1' : '0';
    }
    if (trace) trace(FormatCaptureLine(-1, PacketPath::Sent, reply, traceLine));
    ++repliesSent;
    const std::uint64_t due = now_ + static_cast<std::uint64_t>(latency < 0 ? 0 : latency);
    if (Chance(options_.doubleRate)) {
        ++doubled;
        if (trace) trace(FormatCaptureLine(-1, PacketPath::Sent, reply, traceLine));
        Queue(text, due);
        Queue(std::move(text), due + kDoubleGapTicks);
        return;
    }
    Queue(std::move(text), due);
}

void BusEmulator::Queue(std::string text, std::uint64_t due) {
    if (lineTicksPerReply > 0) {
        due = std::max(due, lineFreeAt_) + static_cast<std::uint64_t>(lineTicksPerReply);
        lineFreeAt_ = due;
    }
    pending_.push_back({due, std::move(text)});
}

std::optional<std::uint64_t> BusEmulator::NextDue() const {
    std::optional<std::uint64_t> next;
    for (const Pending& p : pending_)
        if (!next || p.due < *next) next = p.due;
    return next;
}

void BusEmulator::SetSecondMaster(std::uint8_t address, int periodTicks) {
    secondMaster_ = address;
    secondPeriod_ = periodTicks < 1 ? 1 : periodTicks;
}

void BusEmulator::PollAsSecondMaster() {
    std::size_t total = 0;
    for (const SimDevice& d : devices_) total += d.properties.size();
    if (total == 0) return;
    std::size_t n = secondNext_++ % total;
    for (SimDevice& d : devices_) {
        if (n >= d.properties.size()) {
            n -= d.properties.size();
            continue;
        }
        BusPacket request;
        request.dest = d.address;
        request.source = secondMaster_;
        request.code = code::kRead;
        request.length = 1;
        request.data[0] = d.properties[n].code;
        StoreChecksum(request);
        output_.push_back(EncodeSerial(request));
        OnPacket(request);
        return;
    }
}

void BusEmulator::Tick() {
    if (secondMaster_ != 0 && now_ % static_cast<std::uint64_t>(secondPeriod_) == 0) PollAsSecondMaster();
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->due > now_) {
            ++it;
            continue;
        }
        if (options_.split && it->text.size() > 2) {
            const std::size_t cut = std::uniform_int_distribution<std::size_t>(1, it->text.size() - 1)(rng_);
            output_.push_back(it->text.substr(0, cut));
            output_.push_back(it->text.substr(cut));
        } else {
            output_.push_back(std::move(it->text));
        }
        it = pending_.erase(it);
    }
    ++now_;
}

std::vector<std::string> BusEmulator::TakeOutput() {
    std::vector<std::string> out;
    out.swap(output_);
    return out;
}

}  // namespace korva::sim
