// The core, without the window, on the demo plant served by korvasim over a pty, with a faulty
// line. Reads, writes and file transfers on a clean line are the demo sequences' test.
#include <gtest/gtest.h>

#include "support/Plant.h"

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
    for (const RequestSlot& s : plant.comms.Slots().All()) EXPECT_EQ(s.state, SlotState::Free);
}

}  // namespace
}  // namespace korva
