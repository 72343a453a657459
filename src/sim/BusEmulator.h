#pragma once
// Device side of the bus: the configured devices answer the requests the program sends.
// Shared by the tests and the simulator program; it has no clock of its own, time is Tick().
// It writes and reads the packet layouts itself, by the types' numbers, and does not use the
// model's codec: it is the tests' independent view of the wire.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "packet/BusPacket.h"
#include "packet/CaptureLine.h"
#include "packet/Receiver.h"

namespace korva::sim {

struct SimProperty {
    std::string name;
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    std::int32_t word = 0;  // 16-bit value of types 0, 2, 3
    std::uint8_t byte = 0;  // value of type 1, option byte of type 3
};

struct SimFile {
    std::string name;
    std::uint8_t type = 4;
    std::uint8_t code = 0;
    std::uint8_t status = 0;
    std::vector<std::int16_t> elements;
    // The checksum element is the 16-bit sum of the elements.
    std::uint16_t Checksum() const;
};

struct SimDevice {
    std::string name;
    std::uint8_t address = 0;
    std::vector<SimProperty> properties;
    std::vector<SimFile> files;
    bool silent = false;     // never answers
    bool refuseAll = false;  // answers every request with a refusal
    int latencyTicks = 0;    // replies leave this many ticks after the request arrived
    int forcedSize = -1;     // when 0..255, reported for the size element instead of the real size

    SimProperty* FindProperty(std::uint8_t code);
    SimFile* FindFile(std::uint8_t code);
};

struct FaultOptions {
    double loseRate = 0;     // request never heard by the device
    double dropRate = 0;     // reply never sent
    double doubleRate = 0;   // reply sent twice, the copy kDoubleGapTicks after it
    double refuseRate = 0;   // refusal instead of the answer
    double corruptRate = 0;  // one character of the reply text damaged
    bool decimal = false;    // bytes written as three decimal digits
    bool split = false;      // each reply leaves in two pieces
    std::uint32_t seed = 1;
};

class BusEmulator : private ReceiverSink {
  public:
    // A doubled reply's copy leaves this many ticks after the reply: a cluster of its own.
    static constexpr int kDoubleGapTicks = 20;

    explicit BusEmulator(FaultOptions options = {});

    SimDevice& AddDevice(const std::string& name, std::uint8_t address);
    SimDevice* FindDevice(std::uint8_t address);
    std::vector<SimDevice>& Devices() { return devices_; }

    // Text the program wrote on the line.
    void Feed(std::string_view text);
    // One tick passes: replies whose time has come move to the output.
    void Tick();
    // The text that has left the devices since the last call, one string per piece.
    std::vector<std::string> TakeOutput();
    // The tick at which the next reply waiting to leave is due; none when nothing waits.
    std::optional<std::uint64_t> NextDue() const;

    struct Seen {
        std::uint64_t tick;
        BusPacket packet;
    };
    const std::vector<Seen>& Requests() const { return seen_; }
    void ClearRequests() { seen_.clear(); }
    std::uint64_t Now() const { return now_; }

    // One line per packet in and out, when set, in the capture line format without a time: "rx" for a
    // request a served device took, "tx" for its reply.
    std::function<void(const std::string&)> trace;
    // The COM number the trace names after the direction, for a plant on several lines; 0 names none.
    std::uint8_t traceLine = 0;
    // Another master on the line: every periodTicks ticks it reads the next property of the served
    // devices in turn. Its request and the device's reply both go out on the line, for a listener to
    // hear; address 0 switches it off.
    void SetSecondMaster(std::uint8_t address, int periodTicks);
    // One shared line: each reply holds it this many ticks, so replies leave one after another.
    int lineTicksPerReply = 0;

    std::uint64_t repliesSent = 0;
    std::uint64_t dropped = 0;
    std::uint64_t lost = 0;     // requests the devices never heard
    std::uint64_t doubled = 0;  // replies sent twice

  private:
    void OnPacket(const BusPacket& request) override;
    void OnChecksumError(const BusPacket&, std::uint8_t) override {}
    bool Answer(SimDevice& d, const BusPacket& request, BusPacket& reply);
    bool ReadFile(SimDevice& d, SimFile& f, const BusPacket& request, BusPacket& reply);
    bool WriteFile(SimFile& f, const BusPacket& request);
    void Queue(std::string text, std::uint64_t due);
    void Emit(const BusPacket& reply, int latency);
    bool Chance(double rate);
    void PollAsSecondMaster();

    FaultOptions options_;
    std::uint64_t lineFreeAt_ = 0;
    std::vector<SimDevice> devices_;
    Receiver receiver_;
    std::mt19937 rng_;
    std::uint64_t now_ = 0;
    std::uint8_t secondMaster_ = 0;
    int secondPeriod_ = 0;
    std::size_t secondNext_ = 0;  // the property read next, counted over all served devices
    struct Pending {
        std::uint64_t due;
        std::string text;
    };
    std::deque<Pending> pending_;
    std::vector<std::string> output_;
    std::vector<Seen> seen_;
};

// The decimal framing: every byte as three digits.
std::string EncodeSerialDecimal(const BusPacket& p);

}  // namespace korva::sim
