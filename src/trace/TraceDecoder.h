#pragma once
// A traced packet in the words of the configuration: the device it is about, the property or file
// element, the value as the property panel shows it, and what kind of exchange it is.

#include <cstdint>
#include <string>
#include <vector>

#include "model/Kobjects.h"
#include "trace/TraceBuffer.h"

namespace korva {

struct DecodedPacket {
    const KDevice* device = nullptr;    // none for an address no device has
    const KRemoteLink* link = nullptr;  // none when the first data byte names no link of the device
    std::string property;               // the link's name; a file element adds "[index]"
    std::string value;                  // empty when the packet carries none
    std::string kind;      // "read request", "write reply", "refusal", "CHECKSUM ERROR, read reply"
    bool problem = false;  // a checksum error or a refusal
};

class TraceDecoder {
  public:
    // Indexes the model's names; Rebuild after devices or links were added.
    explicit TraceDecoder(const KModel& model) : model_(model) { Rebuild(); }
    void Rebuild();

    // The device a packet is about: the addressee of a request, the sender of a reply.
    static std::uint8_t DeviceAddress(const BusPacket& p);
    static bool IsReply(const BusPacket& p) { return (p.code & (code::kAck | code::kRefused)) != 0; }

    const KDevice* Device(std::uint8_t address) const { return devices_[address]; }
    const KRemoteLink* Link(std::uint8_t address, std::uint8_t code) const;
    DecodedPacket Decode(const BusPacket& p, PacketPath path) const;
    // The packet's class in words: "read request", "write reply", "refusal", "acknowledgement",
    // "broadcast", "close request", "boot loader".
    static std::string KindText(const BusPacket& p);

  private:
    const KModel& model_;
    const KDevice* devices_[256] = {};
    std::vector<const KRemoteLink*> links_;  // address * 256 + code
};

}  // namespace korva
