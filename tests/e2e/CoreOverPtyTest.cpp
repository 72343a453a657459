// The core, without the window, on the demo plant served by korvasim over a pty, with a faulty
// line. Reads, writes and file transfers on a clean line are the demo sequences' test.
#include <gtest/gtest.h>

#include "support/Plant.h"
#include "trace/TraceDecoder.h"

#include <algorithm>
#include <set>

namespace korva {
namespace {

using test::LivePlant;

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
    for (const RequestSlot& s : plant.comms.Line().Slots().All()) EXPECT_EQ(s.state, SlotState::Free);
}

// The doser's recipe saved over a line that loses requests and doubles replies, then loaded into a
// wiped copy: the device holds every element the save finished with.
TEST(CoreOverPty, SaveOverALossyLineHoldsEveryElement) {
    LivePlant plant({"--lose", "0.2", "--double", "0.5", "--seed", "3"});
    ASSERT_TRUE(plant.ready) << plant.sim->err;
    plant.coms.OpenPort(1);
    KFileLink& recipe = *plant.comms.Model().FindLink("Doser", "Recipe")->AsFile();
    const std::vector<int> saved{15, 30, 45, 60, 120, 90, 105, 135};
    std::vector<int> loaded(saved.size());
    for (std::uint8_t state : {LinkState::KNOWN, LinkState::UNKNOWN}) {
        for (int i = 0; i < 8; ++i) recipe.SetElement(i, state == LinkState::KNOWN ? saved[i] : 0, state);
        recipe.StartTransfer(state == LinkState::KNOWN ? TransferOp::Save : TransferOp::Load);
        ASSERT_TRUE(plant.TickUntil([&] { return recipe.Operation() == TransferOp::None; }, 30000));
        EXPECT_EQ(recipe.state, LinkState::KNOWN);
    }
    for (int i = 0; i < 8; ++i) loaded[i] = recipe.ElementValue(i);
    EXPECT_EQ(loaded, saved);
    // The line did its worst: requests went out again, and doubled replies were turned away.
    EXPECT_GT(plant.comms.Line().packetsSent, 20u);
    EXPECT_NE(std::find(plant.log.begin(), plant.log.end(), "<Reply answers no request>"), plant.log.end());
}

// Listening only on a line that another master drives: its requests and the devices' replies are
// all heard and decoded, and the program sends nothing, not even what it is asked to read.
TEST(CoreOverPty, MonitorHearsAnotherMasterAndSendsNothing) {
    LivePlant plant({"--other-master", "112"});
    ASSERT_TRUE(plant.ready) << plant.sim->err;
    struct Heard : PacketObserver {
        void OnPacket(const std::string&, PacketPath path, const BusPacket& p) override {
            seen.emplace_back(path, p);
        }
        std::vector<std::pair<PacketPath, BusPacket>> seen;
    } heard;
    plant.comms.Line().SetPacketObserver(&heard);
    plant.comms.Line().SetListenOnly(true);
    plant.coms.OpenPort(1);
    plant.comms.Model().FindLink("FeedPump", "SpeedSetpoint")->RequestRead();
    const TraceDecoder decoder(plant.comms.Model());
    std::set<std::string> replies;  // device and property of every reply to the other master
    ASSERT_TRUE(plant.TickUntil(
        [&] {
            for (const auto& [path, p] : heard.seen)
                if (path == PacketPath::Heard && p.dest == 112 && (p.code & code::kAck)) {
                    const DecodedPacket d = decoder.Decode(p, path);
                    if (d.device != nullptr && !d.value.empty())
                        replies.insert(d.device->name + "." + d.property);
                }
            return replies.size() >= 3;
        },
        8000))
        << heard.seen.size();
    EXPECT_EQ(plant.comms.Line().packetsSent, 0u);
    for (const auto& [path, p] : heard.seen) EXPECT_NE(path, PacketPath::Sent);
    // Where the other master's round stands when the port opens is a matter of timing; every reply
    // heard names a property of the plant.
    for (const std::string& r : replies)
        EXPECT_NE(plant.comms.Model().FindLink(r.substr(0, r.find('.')), r.substr(r.find('.') + 1)), nullptr)
            << r;
}

}  // namespace
}  // namespace korva
