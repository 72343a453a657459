#pragma once
// The device model: devices, their property links and file links, and the model that owns them.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/Enums.h"
#include "model/TStringMap.h"
#include "model/ValueRecord.h"
#include "packet/BusPacket.h"
#include "units/Engineering.h"

namespace korva {

class XmlNode;
// A request in flight; only the bus layer that hands it out looks inside.
struct RequestSlot;
class KDevice;
class KModel;
class KRemoteLink;
class KPropertyLink;
class KFileLink;

// A request goes out this many times before the bus layer gives up on it.
inline constexpr std::uint8_t kRequestSendings = 5;

// Why a link last turned ERROR.
enum class LinkFault : std::uint8_t { None, NoReply, Refused, NoSlot, PortDown };

// What a link needs of the bus layer: a request slot for its packet, and the log pane.
class LinkBus {
  public:
    virtual ~LinkBus() = default;
    // Fills in the own address and the checksum and queues the request in a free slot;
    // nullptr when all slots are in use.
    virtual RequestSlot* PostRequest(const BusPacket& request) = 0;
    // The link is done with its request: the slot is free for another.
    virtual void ReleaseRequest(RequestSlot& slot) = 0;
    // The link was given work (a read, a write, a transfer, a poll): the bus serves it from now on.
    virtual void Activate(KRemoteLink& link) = 0;
    virtual void AddLogLine(const std::string& line) = 0;
};

// The window learns of every object made, in document order.
class ModelListener {
  public:
    virtual ~ModelListener() = default;
    virtual void On_NewKorvaDevice(KDevice& device) = 0;
    virtual void On_NewKorvaProperty(KDevice& device, KPropertyLink& link) = 0;
    virtual void On_NewKFileLink(KDevice& device, KFileLink& link) = 0;
};

// The CSV logger's column for one property; the logger decides what to do with values.
class LogChannel {
  public:
    explicit LogChannel(std::string channelName) : name(std::move(channelName)) {}
    virtual ~LogChannel() = default;
    virtual void UpdateValue(double v) {
        value = v;
        hasValue = true;
    }
    std::string name;                   // the property's name
    const KRemoteLink* link = nullptr;  // the property, which owns the column
    bool enabled = false;
    double value = 0;  // the raw value
    bool hasValue = false;
};
using LogChannelFactory = std::function<std::unique_ptr<LogChannel>(const std::string& name)>;

class KObject {
  public:
    virtual ~KObject() = default;
    const XmlNode* sourceElement = nullptr;  // none for an object not read from a file
};

class KDevice : public KObject {
  public:
    KDevice(std::string deviceName, std::uint8_t busAddress, LinkBus* linkBus,
            std::string linePort = kDefaultPort)
        : address(busAddress), name(std::move(deviceName)), port(std::move(linePort)), bus(linkBus) {}

    // The line of a device that names none.
    static constexpr const char* kDefaultPort = "COM1";

    // Replies of the read and write classes go to every link whose code is the first data byte.
    void HandlePacket(const BusPacket& packet);

    std::uint8_t address;
    std::string name;
    std::string port;  // the line it is on: COM1 to COM6
    TStringMap<KRemoteLink> links;
    LinkBus* bus;  // none in a model that is only read, never sent from
    std::vector<std::unique_ptr<KRemoteLink>> ownedLinks;  // every link made, replaced ones too
    KModel* model = nullptr;                               // the model that made it, if any
};

// Types 4 and 5 address the elements of a device file; every other type is a plain property.
inline bool IsFileType(std::uint8_t type) {
    return type == PropertyType::File8 || type == PropertyType::File16;
}

struct LinkSpec {
    LinkSpec() = default;
    LinkSpec(std::string linkName, int linkType, int linkCode)
        : name(std::move(linkName)),
          type(static_cast<std::uint8_t>(linkType)),
          code(static_cast<std::uint8_t>(linkCode)) {}

    std::string name;
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    bool basic = true;
    // A view of the help element's text in the configuration document, which the model keeps.
    std::string_view helpText;
    const XmlNode* source = nullptr;
    ValueFormat format;  // properties only
};

class KRemoteLink : public KObject {
  public:
    KRemoteLink(KDevice& owner, const LinkSpec& desc);
    // Slot order matters to nobody here, but it is kept: Step, Set, Get, HandleReply.
    virtual void Step() = 0;
    virtual bool Set() = 0;
    virtual bool Get() = 0;
    // True when the reply answered the pending request; only such a reply releases it.
    virtual bool HandleReply(const BusPacket& reply) = 0;

    // The commands the window and the runner give a link; nothing outside the model and the
    // bus layer writes its fields.
    void RequestRead() { Ask(LinkState::GET); }
    void SetNewNumber(double n);
    void SetNewNumberWithOption(double n, std::uint8_t option);
    void SetPoll(bool on);
    // The log flag and the logger's column go together.
    void SetLog(bool on);

    void ReleasePending();
    // A new read or write is asked for: the cause of an earlier ERROR no longer holds.
    void ClearFault() {
        fault = LinkFault::None;
        refusedCode = 0;
    }
    // A file handle of either index width; nullptr for a plain property.
    virtual KFileLink* AsFile() { return nullptr; }
    virtual const KFileLink* AsFile() const { return nullptr; }
    bool IsFileHandle() const { return AsFile() != nullptr; }

    KDevice* device;
    std::uint8_t code;
    std::uint8_t type;
    std::string name;
    std::string_view helpText;  // as in the file: lines end with CR, LF or CR LF
    bool basic;
    std::uint8_t state = LinkState::UNKNOWN;
    // The cause of the last ERROR, until a new read or write is asked for.
    LinkFault fault = LinkFault::None;
    std::uint8_t refusedCode = 0;  // the code byte of the refusal, for LinkFault::Refused
    std::uint8_t updateMode = UpdateMode::SYNC_ON_CHANGE;
    RequestSlot* pending = nullptr;
    BusPacket asked;  // the request in `pending`, as it was posted
    ValueRecord current;
    ValueRecord newValue;
    bool poll = false;
    bool log = false;
    std::unique_ptr<LogChannel> logChannel;  // properties only
    // How the value is shown and typed; plain unless the configuration says otherwise. Kept apart
    // from the link: most links of a large plant are plain and carry no more than a pointer for it.
    const EngineeringValue& Engineering() const { return engineering_ ? *engineering_ : kPlainValue; }
    EngineeringValue* MutableEngineering() { return engineering_.get(); }
    void SetEngineering(EngineeringValue value) {
        engineering_ = std::make_unique<EngineeringValue>(std::move(value));
    }
    // The current value as a raw number: the register read as the engineering value says, or for a
    // plain value a 16-bit word read signed, a byte unsigned.
    std::int32_t RawValue() const;
    // The current value in shown units, and as the panel writes it (names, unit).
    double ShownValue() const { return Engineering().Shown(RawValue()); }
    std::string ShownText() const { return Engineering().Text(RawValue()); }
    // "Device.Property"
    std::string FullName() const;

    // Counts the replies that set the current value, so that the plot takes one point per reading.
    std::uint32_t valueUpdates = 0;

    // The link's place in the model: the order in which a line serves its links.
    std::uint32_t order = 0;

  protected:
    static inline const EngineeringValue kPlainValue{};
    std::unique_ptr<EngineeringValue> engineering_;

    void Activate() {
        if (device->bus != nullptr) device->bus->Activate(*this);
    }
    void Ask(std::uint8_t newState) {
        state = newState;
        ClearFault();
        Activate();
    }
    // The pending request is of the reply's class: a read, a write, or a refusal of either.
    bool PendingOfClass(const BusPacket& reply) const {
        return pending != nullptr && (asked.code & code::kClassMask) == (reply.code & code::kClassMask);
    }
    void Refused(const BusPacket& reply) {
        state = LinkState::ERROR;
        fault = LinkFault::Refused;
        refusedCode = reply.code;
    }
    // A reply that answers no request of this link: traced, and nothing else.
    bool Unasked();
    // Posts a request to the owning device; false when no slot is free, and the link keeps its state
    // until one is.
    bool Post(std::uint8_t requestCode, const std::uint8_t* payload, std::uint8_t length);
    void Log(const std::string& line) const;
};

class KPropertyLink : public KRemoteLink {
  public:
    KPropertyLink(KDevice& owner, const LinkSpec& desc);
    void Step() override {}
    bool Set() override;
    bool Get() override;
    bool HandleReply(const BusPacket& reply) override;
};

// Which whole-file transfer is under way.
enum class TransferOp : std::uint8_t { None = 0, Load = 1, Save = 4 };

// The steps of a transfer: the status element, the size element, then every element in turn.
enum class TransferStep : std::uint8_t {
    Idle = 0,
    ReadStatus = 1,
    AwaitStatus = 2,
    ReadSize = 3,
    AwaitSize = 4,
    ReadElement = 5,
    AwaitRead = 6,
    NextRead = 7,
    WriteElement = 8,
    AwaitWrite = 9,
    NextWrite = 10,
    Finish = 11,
};

// Why an element write was refused.
enum class ElementFault : std::uint8_t { None, OutsideFile, ValueTooWide };

class KFileLink : public KPropertyLink {
  public:
    static constexpr int kReserve = 10;  // entries below element 0
    static constexpr int kMaxElements = 127;
    // Positions served by fields of the link instead of the element arrays.
    static constexpr int kStatus = element::kStatus, kSize = element::kSize, kChecksum = element::kChecksum;
    // A write on a 16-bit index carries the value's low byte only.
    static constexpr int kNarrowMin = -128, kNarrowMax = 255;

    KFileLink(KDevice& owner, const LinkSpec& desc, std::int8_t length);
    void Step() override;
    bool Set() override;
    bool Get() override;
    bool HandleReply(const BusPacket& reply) override;
    KFileLink* AsFile() override { return this; }
    const KFileLink* AsFile() const override { return this; }

    // The one rule for element indices: a read may address the status, size and checksum
    // elements and every element of the file; a write or a stored value only the elements.
    bool Readable(int index) const { return index >= kStatus && index < Elements(); }
    bool Writable(int index) const { return index >= 0 && index < Elements(); }
    ElementFault CheckWrite(int index, std::int32_t value) const;
    // What one element write carries: a 16-bit index leaves room for the value's low byte only.
    WireRange ElementRange() const { return Wide() ? WireRange{kNarrowMin, kNarrowMax} : kWordRange; }
    // The element index travels as 16 bits.
    bool Wide() const { return type == PropertyType::File16; }

    // Commands: read or write one element, store one without sending, start or cancel a transfer.
    bool ReadElement(int index);
    ElementFault WriteElement(int index, std::int32_t value);
    bool StoreElement(int index, std::int32_t value);
    void StartTransfer(TransferOp op);
    void CancelTransfer() { transferOp_ = TransferOp::None; }

    TransferOp Operation() const { return transferOp_; }
    TransferStep CurrentStep() const { return transferStep_; }

    // Element storage covers -10 to Capacity()-1; everything outside is refused.
    bool HasElement(int index) const { return index >= -kReserve && index < Capacity(); }
    int Capacity() const { return static_cast<int>(elementValues_.size()) - kReserve; }
    std::int32_t ElementValue(int index) const { return HasElement(index) ? elementValues_[Slot(index)] : 0; }
    std::uint8_t ElementState(int index) const {
        return HasElement(index) ? elementStates_[Slot(index)] : LinkState::UNKNOWN;
    }
    // Sets one entry as a reply would; for the bus layer and for tests that prepare a file.
    void SetElement(int index, std::int32_t value, std::uint8_t elementState);

    std::int8_t size;
    std::uint32_t checksum = 0;
    std::int8_t position = 0;
    std::int8_t transferStart = 0;

  private:
    // The elements a request may address: the size, but never past the storage.
    int Elements() const { return size < Capacity() ? size : Capacity(); }
    TransferStep Retry(TransferStep step) const;
    static std::size_t Slot(int index) { return static_cast<std::size_t>(index + kReserve); }
    // The element a request of this link's index width addresses.
    int RequestIndex(const BusPacket& request) const;
    // The reply is for the pending request: its class, and the element it names where it names one.
    bool Answers(const BusPacket& reply) const;
    void GrowTo(int elements);
    std::int32_t ValueForPosition() const;
    void StoreAtIndex(int index, std::int32_t value);

    TransferStep transferStep_ = TransferStep::Idle;
    TransferOp transferOp_ = TransferOp::None;
    std::vector<std::int32_t> elementValues_;
    std::vector<std::uint8_t> elementStates_;
};

// The cause of the link's last ERROR in words; "" when there is none.
std::string LinkFaultText(const KRemoteLink& link);

// Owns every device and link for the whole run; the device list only refers to them.
class KModel {
  public:
    // Without a bus the model is a description only: a request from it fails as with no free slot.
    KModel() = default;
    explicit KModel(LinkBus& linkBus) : busFor_([&linkBus](const std::string&) { return &linkBus; }) {}
    // Each device is put on the bus of the line it names.
    using BusForPort = std::function<LinkBus*(const std::string& port)>;
    explicit KModel(BusForPort busFor) : busFor_(std::move(busFor)) {}

    void SetListener(ModelListener* l) { listener_ = l; }
    void SetLogChannelFactory(LogChannelFactory f) { logFactory_ = std::move(f); }

    KDevice& MakeDevice(const std::string& name, std::uint8_t address, const XmlNode* source = nullptr,
                        const std::string& port = KDevice::kDefaultPort);
    KPropertyLink& MakeProperty(KDevice& device, const LinkSpec& desc);
    KFileLink& MakeFileHandle(KDevice& device, const LinkSpec& desc, std::int8_t length);

    // The first device in the list with that bus address, or nullptr.
    KDevice* FindDeviceByAddress(std::uint8_t address) const;
    // Device name then link name, both ignoring case.
    KRemoteLink* FindLink(const std::string& device, const std::string& link) const;

    // The units document, read before any property is made; null without one.
    void SetUnitCatalog(std::shared_ptr<const UnitCatalog> catalog) { catalog_ = std::move(catalog); }
    const UnitCatalog* Units() const { return catalog_.get(); }
    // Every property shows its value in the scheme's units; "" or an unknown name shows each
    // property's own unit. Returns whether the scheme exists.
    bool UseUnitScheme(const std::string& name);
    const std::string& UnitScheme() const { return scheme_; }
    // Counts the changes of scheme, so that whoever shows units knows when to write them again.
    std::uint64_t SchemeChanges() const { return schemeChanges_; }

    // The parsed configuration stays alive as long as the objects that point into it.
    void KeepDocument(std::shared_ptr<const XmlNode> document) { documents_.push_back(std::move(document)); }

    TStringMap<KDevice> devices;  // the device list

    // Counts the switching of any link's poll or log flag, so that whoever lists such links looks
    // again only when one changed, not on every tick over the whole plant.
    std::uint64_t FlagChanges() const { return flagChanges_; }
    void NoteFlagChange() { ++flagChanges_; }

  private:
    std::vector<std::shared_ptr<const XmlNode>> documents_;
    std::shared_ptr<const UnitCatalog> catalog_;
    std::string scheme_;
    std::uint64_t schemeChanges_ = 0;
    BusForPort busFor_;
    ModelListener* listener_ = nullptr;
    LogChannelFactory logFactory_;
    std::vector<std::unique_ptr<KDevice>> owned_;
    std::uint32_t linksMade_ = 0;
    std::uint64_t flagChanges_ = 0;
};

}  // namespace korva
