#pragma once
// One line of the bus: its scanner, router, receive queue, request slots, ports and own address.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/Kobjects.h"
#include "protocol/BusPort.h"
#include "packet/BusPacket.h"
#include "packet/CaptureLine.h"
#include "packet/Receiver.h"
#include "protocol/RequestSlot.h"

namespace korva {

// What the protocol needs of the outside world.
class CommsHost {
  public:
    virtual ~CommsHost() = default;
    virtual void AddLogLine(const std::string& line) = 0;
    // A packet's line, "tx: (...)"; a host that keeps them apart from its events overrides this.
    virtual void AddPacketLine(const std::string& line) { AddLogLine(line); }
    virtual void RefreshDeviceTree() = 0;
    // As the exit menu command does.
    virtual void RequestClose() = 0;
};

// Hears every packet the router sees, whether or not the log pane traces it: what the program sent,
// what came for it, what it passed on, what failed its checksum and what it heard for other nodes.
class PacketObserver {
  public:
    virtual ~PacketObserver() = default;
    // line: the name of the bus the packet travelled on ("COM1").
    virtual void OnPacket(const std::string& line, PacketPath path, const BusPacket& packet) = 0;
};

// Ring of 16 packets that holds at most 15; a push onto a full ring is dropped.
class ReceiveQueue {
  public:
    static constexpr std::uint8_t kEntries = 16;
    bool Push(const BusPacket& p);
    bool Pop(BusPacket& p);
    bool Empty() const { return read_ == write_; }
    void Clear() { read_ = write_ = 0; }

  private:
    std::array<BusPacket, kEntries> ring_{};
    std::uint8_t write_ = 0;
    std::uint8_t read_ = 0;
};

class RequestSlots {
  public:
    static constexpr std::size_t kCount = 10;
    static constexpr std::int32_t kCountdown = 30;
    static constexpr std::uint8_t kTries = kRequestSendings;

    // First free slot in table order, now Allocated; nullptr when all are in use or `limit` are busy.
    RequestSlot* Take(std::size_t limit = kCount);
    void Reset();
    // One pass of the slot runner; route sends a packet and says whether a way onto the bus was up.
    template <typename Route>
    void Run(Route&& route);
    // Sends the requests posted since they last ran; repeats and give-ups stay with the tick.
    template <typename Route>
    void SendReady(Route&& route);

    std::array<RequestSlot, kCount>& All() { return slots_; }
    const std::array<RequestSlot, kCount>& All() const { return slots_; }

  private:
    std::array<RequestSlot, kCount> slots_{};
};

class Engine;

// One line: the devices configured on it (a port name, COM1 when a device names none) talk through
// its slots and ports, and nothing crosses to another line. It refers to its devices and owns no
// model object; what it keeps of a link is its own bookkeeping.
class Bus : public LinkBus, private ReceiverSink {
  public:
    Bus(Engine& engine, std::string name, CommsHost& host);
    // Where RunBootLoader sends its command.
    static constexpr std::uint8_t kBootLoaderDest = kBootLoaderAddress;
    // The longest request or reply on the wire, in bytes.
    static constexpr std::size_t kLongestPacketBytes = BusPacket::kHeaderSize + BusPacket::kMaxWireLength + 1;

    const std::string& Name() const { return name_; }

    // Receive side.
    void Feed(std::string_view text);
    // A cluster as the serial port hands it over: its packets reach their links at once.
    void TakeCluster(std::string_view text);
    // What came in between ticks reaches its links now, on every line of the engine.
    void Respond();
    void FeedChar(char c) { receiver_.Feed(c); }
    void ResetScanner() { receiver_.ResetScanner(); }
    const Receiver& Scanner() const { return receiver_; }
    // The ways onto the bus; a port left out is down. arrivedOn: the port the packet came in on,
    // which never gets it back.
    void AttachSerial(BusPort* port) { serial_ = port; }
    void AttachRelay(BusPort* port) { relay_ = port; }
    const BusPort* Serial() const { return serial_; }
    const BusPort* Relay() const { return relay_; }
    bool SerialUp() const { return serial_ != nullptr && serial_->Up(); }
    // The serial line is up, or the relay has connected to its peer.
    bool WayUp() const {
        return SerialUp() || (relay_ != nullptr && relay_->State() == BusPort::Hold::Master);
    }
    void Route(const BusPacket& packet, const BusPort* arrivedOn = nullptr);
    void SetPacketObserver(PacketObserver* observer) { observer_ = observer; }
    // Listening only: every packet from the line is reported and nothing else happens to it; the
    // program sends nothing, and its links find no free slot.
    void SetListenOnly(bool on) { listenOnly_ = on; }
    bool ListenOnly() const { return listenOnly_; }
    void ProcessReceiveQueue();

    // Start-up state: own address 108, slots free, queue empty, scanner reset.
    void Start();

    // Utilities.
    std::uint8_t OwnAddress() const { return ownAddress_; }
    void SetOwnAddress(std::uint8_t a) { ownAddress_ = a; }
    // Text that is not an integer leaves the address as it was and returns false.
    bool SetOwnAddressFromText(std::string_view text);
    void RunBootLoader();

    // LinkBus
    RequestSlot* PostRequest(const BusPacket& request) override;
    void ReleaseRequest(RequestSlot& slot) override { slot.Release(); }
    void Activate(KRemoteLink& link) override;
    void AddLogLine(const std::string& line) override { host_.AddLogLine(line); }

    RequestSlots& Slots() { return slots_; }
    ReceiveQueue& Queue() { return queue_; }

    // Read by the router.
    bool showBroadcasts = false;

    // The selected line speed: no more requests are outstanding at once than the line can answer
    // before a request is repeated. 0 for a line whose speed is not known (all slots are used).
    void SetLineSpeed(std::int32_t baud);
    std::size_t MaxOutstanding() const { return maxOutstanding_; }
    // Links a tick visits: those with work.
    std::size_t ActiveLinks() const { return active_.size(); }
    // No link has work or is polled, every slot is free and the queue is empty.
    bool Idle() const;

    // The engine's tick, in its order: the queue, the link scan, the slots. The scan gives free
    // slots round-robin over the devices, then over a device's links; a link waits for a slot as
    // long as it takes. A device that gave up a request unanswered is silent: it holds at most
    // one slot, and is asked once a period (pollNow starts one), one link at a time, until it
    // answers; its other requests end ERROR meanwhile.
    void ScanLinks(bool pollNow);
    // The device gave up a request unanswered and has not been heard since.
    bool Silent(const KDevice& device) const;
    // What a device of this line has done on the bus since the program started.
    struct DeviceHealth {
        std::uint64_t replies = 0;     // packets it sent us
        std::uint64_t unanswered = 0;  // requests it left without a reply
        std::chrono::system_clock::time_point lastReply{};
        bool silent = false;
    };
    DeviceHealth Health(const KDevice& device) const;
    void RunSlots();
    // Sends the requests posted since they last ran; repeats and give-ups stay with the tick.
    void SendReady();

    // Counters for soak runs.
    std::uint64_t packetsSent = 0;
    std::uint64_t packetsUnsent = 0;  // requests made while no port was open
    std::uint64_t repliesQueued = 0;
    // Packets from this line whose checksum did not fit.
    std::uint64_t busErrors = 0;

  private:
    // What the bus keeps of a link of its devices: whether it has work, and how long it has
    // waited for a free slot.
    struct LinkWork {
        KRemoteLink* link = nullptr;
        bool active = false;
        bool pollListed = false;
    };
    // What the bus keeps of a device: its place in the round, where its own round stands, and
    // whether it is silent.
    struct DeviceWork {
        std::size_t rank = 0;        // the order the bus first served the device in
        std::uint32_t lastLink = 0;  // the order of its link that last got a slot
        bool silent = false;
        std::uint64_t replies = 0, unanswered = 0;
        std::chrono::system_clock::time_point lastReply{};
        bool triedThisPeriod = false;  // a silent device's one try of the period went out
        std::size_t held = 0;          // slots its links hold now
    };
    LinkWork& WorkOf(KRemoteLink& link);
    DeviceWork& WorkOf(const KDevice& device);
    // A link's request in flight: at its end the slot is released, or the link turns ERROR.
    void FollowRequest(KRemoteLink& link);
    // Free slots to the links that wait for one, fairly; see ScanLinks.
    void GiveSlots(const std::vector<KRemoteLink*>& waiting);
    void OnPacket(const BusPacket& packet) override;
    void Observe(PacketPath path, const BusPacket& p) {
        if (observer_ != nullptr) observer_->OnPacket(name_, path, p);
    }
    void OnChecksumError(const BusPacket& packet, std::uint8_t computed) override;
    bool Traced(const BusPacket& p) const { return p.dest >= 16 || showBroadcasts; }
    void Trace(const BusPacket& p, char open, char close, const char* prefix = nullptr);
    // A packet of ours that went out on way, or nowhere when no port was open.
    void Count(const BusPort* way, PacketPath out, const BusPacket& packet);
    // The first device of this line, in the model's order, with that address.
    KDevice* FindDevice(std::uint8_t address) const;

    Engine& engine_;
    std::string name_;
    CommsHost& host_;
    BusPort* serial_ = nullptr;
    BusPort* relay_ = nullptr;
    PacketObserver* observer_ = nullptr;
    bool listenOnly_ = false;
    bool fromLine_ = false;  // the packet being routed came from the serial line
    Receiver receiver_;
    ReceiveQueue queue_;
    RequestSlots slots_;
    std::uint8_t ownAddress_ = kStartOwnAddress;
    std::size_t maxOutstanding_ = RequestSlots::kCount;
    std::unordered_map<const KRemoteLink*, LinkWork> work_;
    std::unordered_map<const KDevice*, DeviceWork> devices_;
    std::size_t lastRank_ = 0;       // the device that last got a slot
    std::vector<LinkWork*> active_;  // in model order, which is the order requests go out in
    std::vector<LinkWork*> polled_;
};

template <typename Route>
void RequestSlots::SendReady(Route&& route) {
    for (RequestSlot& s : slots_) {
        if (s.state != SlotState::Ready || s.inFlight) continue;
        s.inFlight = true;
        s.offBus = !route(s.packet);
        s.state = SlotState::Waiting;
        s.countdown = kCountdown;
    }
}

template <typename Route>
void RequestSlots::Run(Route&& route) {
    for (RequestSlot& s : slots_) {
        bool sentNow = false;
        if (s.state == SlotState::Ready) {
            s.inFlight = true;
            s.offBus = !route(s.packet);
            s.state = SlotState::Waiting;
            s.countdown = kCountdown;
            sentNow = true;
        }
        if (s.state == SlotState::Waiting && !sentNow) {
            if (--s.countdown <= 0) {
                if (s.triesLeft > 0) --s.triesLeft;
                s.state = s.triesLeft > 0 ? SlotState::Ready : SlotState::Failed;
            }
        }
        if (s.state == SlotState::Failed) {
            s.inFlight = false;
            if (s.owner == SlotOwner::RunnerFreed) s.state = SlotState::Free;
        }
    }
}

}  // namespace korva
