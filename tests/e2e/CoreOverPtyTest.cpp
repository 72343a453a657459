// The core, without the window, reads and writes the demo plant served by korvasim over a pty.
#include <gtest/gtest.h>

#include "support/Plant.h"
#include "trace/TraceDecoder.h"

#include <set>

namespace korva {
namespace {

using test::LivePlant;

TEST(CoreOverPty, ReadWriteAndLoadAFile) {
    LivePlant plant;
    ASSERT_TRUE(plant.ready) << plant.sim->err;
    ASSERT_TRUE(plant.messages.empty());
    plant.coms.OpenPort(1);
    ASSERT_EQ(plant.log.back(), "Opening Com1");

    struct Write {
        const char* device;
        const char* property;
        int value;
        int option;
        int readBack;
    };
    const Write writes[] = {
        {"FeedPump", "SpeedSetpoint", 1450, -1, 1450},
        {"FeedPump", "DryRunDelay", 300, -1, 44},  // a byte keeps the low 8 bits
        {"Boiler", "OutdoorTemp", -12, -1, -12},
        {"Boiler", "FlowTempSetpoint", 650, 2, 650},
    };
    for (const Write& w : writes) {
        KRemoteLink* link = plant.comms.Model().FindLink(w.device, w.property);
        ASSERT_NE(link, nullptr) << w.property;
        link->RequestRead();
        ASSERT_TRUE(plant.TickUntil([&] { return link->state != LinkState::GET; })) << w.property;
        EXPECT_EQ(link->state, LinkState::KNOWN) << w.property;
        EXPECT_EQ(link->current.ReadAsNumber(), 0) << w.property;
        if (w.option >= 0)
            link->SetNewNumberWithOption(w.value, static_cast<std::uint8_t>(w.option));
        else
            link->SetNewNumber(w.value);
        ASSERT_TRUE(plant.TickUntil([&] { return link->state != LinkState::SET; })) << w.property;
        ASSERT_TRUE(plant.TickUntil([&] { return link->pending == nullptr; })) << w.property;
        link->current.StoreNumber(0);
        link->RequestRead();
        ASSERT_TRUE(plant.TickUntil([&] { return link->state != LinkState::GET; })) << w.property;
        EXPECT_EQ(link->state, LinkState::KNOWN) << w.property;
        EXPECT_EQ(link->current.ReadAsNumber(), w.readBack) << w.property;
        if (w.option >= 0) EXPECT_EQ(link->current.byte, w.option);
    }

    auto* recipe = dynamic_cast<KFileLink*>(plant.comms.Model().FindLink("Doser", "Recipe"));
    ASSERT_NE(recipe, nullptr);
    for (int i = 0; i < recipe->size; ++i) recipe->SetElement(i, 100 + i, LinkState::KNOWN);
    recipe->StartTransfer(TransferOp::Save);
    ASSERT_TRUE(plant.TickUntil([&] { return recipe->Operation() == TransferOp::None; }));
    for (int i = 0; i < recipe->size; ++i) recipe->SetElement(i, 0, LinkState::UNKNOWN);
    recipe->StartTransfer(TransferOp::Load);
    ASSERT_TRUE(plant.TickUntil([&] { return recipe->Operation() == TransferOp::None; }));
    EXPECT_EQ(recipe->size, 8);
    for (int i = 0; i < recipe->size; ++i) {
        EXPECT_EQ(recipe->ElementState(i), LinkState::KNOWN) << i;
        EXPECT_EQ(recipe->ElementValue(i), 100 + i) << i;
    }
}

TEST(CoreOverPty, FaultyLineStillEndsEveryRequest) {
    LivePlant plant({"--drop", "0.2", "--corrupt", "0.2", "--split", "--seed", "7"});
    ASSERT_TRUE(plant.ready) << plant.sim->err;
    plant.coms.OpenPort(1);
    std::vector<KRemoteLink*> links;
    for (const auto& [name, device] : plant.comms.Model().devices)
        for (const auto& [linkName, link] : device->links)
            if (!link->IsFileHandle()) links.push_back(link);
    ASSERT_GT(links.size(), 20u);
    for (KRemoteLink* l : links) l->RequestRead();
    const auto settled = [&] {
        for (KRemoteLink* l : links)
            if (l->state == LinkState::GET || l->pending != nullptr) return false;
        return true;
    };
    ASSERT_TRUE(plant.TickUntil(settled, 20000));
    int known = 0;
    for (KRemoteLink* l : links) known += l->state == LinkState::KNOWN;
    // Ten slots serve the first ten; the rest find none free and end in ERROR at once.
    EXPECT_GE(known, 8);
    for (const RequestSlot& s : plant.comms.Slots().All()) EXPECT_EQ(s.state, SlotState::Free);
}

// Listening only on a line that another master drives: its requests and the devices' replies are
// all heard and decoded, and the program sends nothing, not even what it is asked to read.
TEST(CoreOverPty, MonitorHearsAnotherMasterAndSendsNothing) {
    LivePlant plant({"--other-master", "112"});
    ASSERT_TRUE(plant.ready) << plant.sim->err;
    struct Heard : PacketObserver {
        void OnPacket(PacketPath path, const BusPacket& p) override { seen.emplace_back(path, p); }
        std::vector<std::pair<PacketPath, BusPacket>> seen;
    } heard;
    plant.comms.SetPacketObserver(&heard);
    plant.comms.SetListenOnly(true);
    plant.coms.OpenPort(1);
    plant.comms.Model().FindLink("FeedPump", "SpeedSetpoint")->RequestRead();
    const TraceDecoder decoder(plant.comms.Model());
    std::set<std::string> replies;  // device and property of every reply to the other master
    ASSERT_TRUE(plant.TickUntil([&] {
        for (const auto& [path, p] : heard.seen)
            if (path == PacketPath::Heard && p.dest == 112 && (p.code & code::kAck)) {
                const DecodedPacket d = decoder.Decode(p, path);
                if (d.device != nullptr && !d.value.empty()) replies.insert(d.device->name + "." + d.property);
            }
        return replies.size() >= 3;
    }, 8000)) << heard.seen.size();
    EXPECT_EQ(plant.comms.packetsSent, 0u);
    for (const auto& [path, p] : heard.seen) EXPECT_NE(path, PacketPath::Sent);
    EXPECT_TRUE(replies.count("FeedPump.FirmwareVersion")) << *replies.begin();
}

}  // namespace
}  // namespace korva
