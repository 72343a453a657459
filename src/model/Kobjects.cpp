#include "model/Kobjects.h"

namespace korva {

void KDevice::HandlePacket(const BusPacket& packet) {
    if (packet.source != address) return;
    const std::uint8_t cls = packet.code & code::kClassMask;
    if (cls != code::kReadClass && cls != code::kWriteClass) return;
    // A reply without data names no link.
    if (packet.length == 0) return;
    for (const auto& [linkName, link] : links)
        if (link->code == packet.data[0]) link->HandleReply(packet);
}

KRemoteLink::KRemoteLink(KDevice& owner, const LinkSpec& desc)
    : device(&owner),
      code(desc.code),
      type(desc.type),
      name(desc.name),
      helpText(desc.helpText),
      basic(desc.basic) {
    sourceElement = desc.source;
}

std::int32_t KRemoteLink::RawValue() const {
    if (!engineering_) return current.ReadAsNumber();
    const auto bits =
        current.kind == PropertyType::Byte ? current.byte : static_cast<std::uint32_t>(current.word);
    return engineering_->RawOf(bits);
}

std::string KRemoteLink::FullName() const {
    return (device != nullptr ? device->name + "." : std::string()) + name;
}

void KRemoteLink::SetNewNumber(double n) {
    newValue.StoreNumber(n);
    Ask(LinkState::SET);
}

void KRemoteLink::SetNewNumberWithOption(double n, std::uint8_t option) {
    newValue.StoreNumberAndOption(n, option);
    Ask(LinkState::SET);
}

void KRemoteLink::SetPoll(bool on) {
    poll = on;
    if (device->model != nullptr) device->model->NoteFlagChange();
    if (on) Activate();
}

void KRemoteLink::SetLog(bool on) {
    log = on;
    if (device->model != nullptr) device->model->NoteFlagChange();
    // A file handle has no column of its own.
    if (logChannel) logChannel->enabled = on;
}

void KRemoteLink::ReleasePending() {
    if (pending == nullptr) return;
    if (device->bus != nullptr) device->bus->ReleaseRequest(*pending);
    pending = nullptr;
}

void KRemoteLink::Log(const std::string& line) const {
    if (device->bus != nullptr) device->bus->AddLogLine(line);
}

bool KRemoteLink::Unasked() {
    Log("<Reply answers no request>");
    return false;
}

std::string LinkFaultText(const KRemoteLink& link) {
    switch (link.fault) {
        case LinkFault::None:
            return "";
        case LinkFault::NoReply:
            return "no reply after " + std::to_string(kRequestSendings) + " sendings";
        case LinkFault::Refused:
            return "refused by the device (reply code 0x" + HexByte(link.refusedCode) + ")";
        case LinkFault::NoSlot:
            return "no free request slot";
        case LinkFault::PortDown:
            return "port not open or lost";
    }
    return "";
}

bool KRemoteLink::Post(std::uint8_t requestCode, const std::uint8_t* payload, std::uint8_t length) {
    BusPacket p;
    p.dest = device->address;
    p.code = requestCode;
    p.length = length;
    for (std::uint8_t i = 0; i < length && i < BusPacket::kMaxWireLength; ++i) p.data[i] = payload[i];
    asked = p;
    pending = device->bus != nullptr ? device->bus->PostRequest(p) : nullptr;
    return pending != nullptr;
}

KPropertyLink::KPropertyLink(KDevice& owner, const LinkSpec& desc) : KRemoteLink(owner, desc) {
    current.kind = type;
    newValue.kind = type;
    current.StoreNumber(0);
    newValue.StoreNumber(0);
}

bool KPropertyLink::Get() {
    const std::uint8_t payload[1] = {code};
    return Post(code::kRead, payload, 1);
}

bool KPropertyLink::Set() {
    std::uint8_t payload[4] = {code, 0, 0, 0};
    int n = 0;
    try {
        n = newValue.Encode(payload + 1);
    } catch (const KvEx_BadPropertyType&) {
        // Nothing sensible can go out for a type the wire does not know.
        Log("<Invalid property type>");
        state = LinkState::ERROR;
        return false;
    }
    return Post(code::kWrite, payload, static_cast<std::uint8_t>(1 + n));
}

bool KPropertyLink::HandleReply(const BusPacket& reply) {
    const std::uint8_t cls = reply.code & code::kClassMask;
    // Only a reply of the pending request's class answers it; the code matched on the way here.
    const bool answers = PendingOfClass(reply);
    if (reply.code & code::kAck) {
        if (cls == code::kReadClass) {
            try {
                current.DecodeReply(reply);
            } catch (const KvEx_WrongPacketLength&) {
                Log("<Unexpected packet length>");
            } catch (const KvEx_BadPropertyType&) {
                Log("<Invalid property type>");
            }
            // A reading that answers nothing still counts, but the state of a pending request is the
            // request's; a write asked for while the read was on its way still goes out.
            if (state != LinkState::SET && (answers || pending == nullptr)) state = LinkState::KNOWN;
            ++valueUpdates;
            if (logChannel) logChannel->UpdateValue(RawValue());
        } else if (cls == code::kWriteClass) {
            if (!answers) return Unasked();
            current.CopyFrom(newValue);
            state = LinkState::KNOWN;
            ++valueUpdates;
        }
    } else if (reply.code & code::kRefused) {
        if (!answers) return Unasked();
        Refused(reply);
    } else {
        return false;  // a request from the device answers nothing
    }
    if (answers) ReleasePending();
    return answers;
}

KDevice& KModel::MakeDevice(const std::string& name, std::uint8_t address, const XmlNode* source,
                            const std::string& port) {
    owned_.push_back(std::make_unique<KDevice>(name, address, busFor_ ? busFor_(port) : nullptr, port));
    KDevice& d = *owned_.back();
    d.sourceElement = source;
    d.model = this;
    // The tree hears of the device before it joins the device list.
    if (listener_) listener_->On_NewKorvaDevice(d);
    devices.Add(name, &d);
    return d;
}

KPropertyLink& KModel::MakeProperty(KDevice& device, const LinkSpec& desc) {
    auto link = std::make_unique<KPropertyLink>(device, desc);
    if (desc.format.given) {
        link->SetEngineering(
            EngineeringValue(desc.format, desc.type == PropertyType::Byte ? 8 : 16, catalog_.get()));
        if (catalog_ != nullptr) link->MutableEngineering()->UseScheme(catalog_->Schemes().Find(scheme_));
    }
    link->logChannel = logFactory_ ? logFactory_(desc.name) : std::make_unique<LogChannel>(desc.name);
    link->logChannel->link = link.get();
    KPropertyLink& ref = *link;
    ref.order = ++linksMade_;
    device.ownedLinks.push_back(std::move(link));
    device.links.Add(desc.name, &ref);
    if (listener_) listener_->On_NewKorvaProperty(device, ref);
    return ref;
}

KFileLink& KModel::MakeFileHandle(KDevice& device, const LinkSpec& desc, std::int8_t length) {
    auto link = std::make_unique<KFileLink>(device, desc, length);
    KFileLink& ref = *link;
    ref.order = ++linksMade_;
    device.ownedLinks.push_back(std::move(link));
    device.links.Add(desc.name, &ref);
    if (listener_) listener_->On_NewKFileLink(device, ref);
    return ref;
}

bool KModel::UseUnitScheme(const std::string& name) {
    const KUnitScheme* scheme = catalog_ != nullptr ? catalog_->Schemes().Find(name) : nullptr;
    scheme_ = scheme != nullptr ? name : "";
    ++schemeChanges_;
    for (const auto& device : owned_)
        for (const auto& link : device->ownedLinks) {
            EngineeringValue* e = link->MutableEngineering();
            if (e == nullptr) continue;
            e->UseScheme(scheme);
        }
    return scheme != nullptr;
}

KDevice* KModel::FindDeviceByAddress(std::uint8_t address) const {
    for (const auto& [deviceName, device] : devices)
        if (device->address == address) return device;
    return nullptr;
}

KRemoteLink* KModel::FindLink(const std::string& device, const std::string& link) const {
    const KDevice* d = devices.Find(device);
    return d == nullptr ? nullptr : d->links.Find(link);
}

}  // namespace korva
