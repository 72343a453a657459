#include <gtest/gtest.h>

#include "support/BusHarness.h"

namespace korva {
namespace {

using test::BusHarness;

std::vector<int> SendTicks(const BusHarness& h) {
    std::vector<int> ticks;
    for (const auto& s : h.sent) ticks.push_back(s.tick);
    return ticks;
}

TEST(Tick, SilentDeviceIsAskedFiveTimesThenTheLinkFails) {
    BusHarness h;
    KDevice& d = h.AddDevice("Pump", 0x23);
    KPropertyLink& speed = h.AddProperty(d, "Speed", 0, 5);
    h.emu.FindDevice(0x23)->silent = true;
    h.Run(10);  // t = 10
    speed.state = LinkState::GET;
    h.Run(154);  // ticks 10 .. 163
    EXPECT_EQ(SendTicks(h), (std::vector<int>{10, 41, 72, 103, 134}));
    ASSERT_NE(speed.pending, nullptr);
    EXPECT_EQ(speed.pending->state, SlotState::Waiting);
    h.Step();  // t + 154: the slot gives up
    ASSERT_NE(speed.pending, nullptr);
    EXPECT_EQ(speed.pending->state, SlotState::Failed);
    EXPECT_FALSE(speed.pending->inFlight);
    EXPECT_EQ(speed.state, LinkState::GET);
    h.Step();  // t + 155
    EXPECT_EQ(speed.state, LinkState::ERROR);
    EXPECT_EQ(speed.pending, nullptr);
    for (const RequestSlot& s : h.comms.Slots().All()) EXPECT_EQ(s.state, SlotState::Free);
    EXPECT_EQ(h.sent.size(), 5u);
}

TEST(Tick, ElevenLinksInOneTickGiveTenRequestsAndOneError) {
    BusHarness h;
    KDevice& d = h.AddDevice("Rack", 0x2A);
    std::vector<KPropertyLink*> links;
    for (int i = 0; i < 11; ++i) links.push_back(&h.AddProperty(d, "P" + std::to_string(i), 0, 10 + i, i));
    for (KPropertyLink* l : links) l->state = LinkState::GET;
    h.Step();
    EXPECT_EQ(h.sent.size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(links[static_cast<std::size_t>(i)]->state, LinkState::GET) << i;
    EXPECT_EQ(links[10]->state, LinkState::ERROR);
    h.Step();  // the replies arrive
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(links[static_cast<std::size_t>(i)]->state, LinkState::KNOWN) << i;
        EXPECT_EQ(links[static_cast<std::size_t>(i)]->current.ReadAsNumber(), i) << i;
    }
}

TEST(Tick, PollReadsEveryPeriodAndBeatsAnUnsentWrite) {
    BusHarness h;
    KDevice& d = h.AddDevice("Pump", 0x23);
    KPropertyLink& speed = h.AddProperty(d, "Speed", 0, 5, 1500);
    KPropertyLink& setpoint = h.AddProperty(d, "Setpoint", 0, 6, 20);
    speed.poll = true;
    setpoint.poll = true;
    setpoint.SetNewNumber(99);  // not sent yet when the poll fires on tick 0
    h.Run(803);
    std::vector<int> speedReads, setpointReads, writes;
    for (const auto& seen : h.emu.Requests()) {
        if (seen.packet.code == code::kWrite) writes.push_back(static_cast<int>(seen.tick));
        if (seen.packet.code == code::kRead && seen.packet.data[0] == 5) speedReads.push_back(static_cast<int>(seen.tick));
        if (seen.packet.code == code::kRead && seen.packet.data[0] == 6) setpointReads.push_back(static_cast<int>(seen.tick));
    }
    EXPECT_EQ(speedReads, (std::vector<int>{0, 401, 802}));
    EXPECT_EQ(setpointReads, (std::vector<int>{0, 401, 802}));
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(speed.current.ReadAsNumber(), 1500);
    EXPECT_EQ(setpoint.current.ReadAsNumber(), 20);
}

TEST(Tick, WriteThenReadRoundTrip) {
    BusHarness h;
    KDevice& d = h.AddDevice("Boiler", 0x26);
    KPropertyLink& limit = h.AddProperty(d, "Limit", 3, 7);
    limit.SetNewNumberWithOption(-300, 2);
    ASSERT_TRUE(h.RunUntil([&] { return limit.state != LinkState::SET; }, 5));
    h.Step();
    EXPECT_EQ(limit.state, LinkState::KNOWN);
    EXPECT_EQ(limit.current.ReadAsNumber(), -300);
    const sim::SimProperty& onDevice = h.emu.FindDevice(0x26)->properties[0];
    EXPECT_EQ(onDevice.word, 0xFED4);
    EXPECT_EQ(onDevice.byte, 2);
    limit.current.StoreNumber(0);
    limit.state = LinkState::GET;
    h.Run(3);
    EXPECT_EQ(limit.state, LinkState::KNOWN);
    EXPECT_EQ(limit.current.ReadAsNumber(), -300);
    EXPECT_EQ(limit.current.byte, 2);
}

TEST(Tick, RefusalAndAFreedSlotEndInError) {
    BusHarness h;
    KDevice& d = h.AddDevice("Pump", 0x23);
    KPropertyLink& speed = h.AddProperty(d, "Speed", 0, 5);
    h.emu.FindDevice(0x23)->refuseAll = true;
    speed.state = LinkState::GET;
    h.Run(2);
    EXPECT_EQ(speed.state, LinkState::ERROR);
    EXPECT_EQ(speed.pending, nullptr);

    h.emu.FindDevice(0x23)->silent = true;
    speed.state = LinkState::GET;
    h.Step();
    ASSERT_NE(speed.pending, nullptr);
    speed.pending->Release();  // someone else freed it
    h.Step();
    EXPECT_EQ(speed.state, LinkState::ERROR);
    EXPECT_EQ(speed.pending, nullptr);
}

TEST(Tick, BootLoaderGoesOutOncePerClickAndItsSlotIsFreedThirtyTicksLater) {
    BusHarness h;
    h.comms.RunBootLoader();
    h.Run(30);  // ticks 0 .. 29
    ASSERT_EQ(h.sent.size(), 1u);
    EXPECT_EQ(h.sent[0].tick, 0);
    EXPECT_EQ(h.sent[0].text, "(x16x6CxE8x00x6A)");
    EXPECT_EQ(h.comms.Slots().All()[0].state, SlotState::Waiting);
    h.Step();  // tick 30
    EXPECT_EQ(h.comms.Slots().All()[0].state, SlotState::Free);
    h.comms.RunBootLoader();
    h.comms.RunBootLoader();
    h.Run(200);
    EXPECT_EQ(h.sent.size(), 3u);
    for (int i = 0; i < 10; ++i) h.comms.Slots().Take();
    h.comms.RunBootLoader();  // nothing free: silently nothing
    h.Run(5);
    EXPECT_EQ(h.sent.size(), 3u);
}

TEST(Tick, OwnAddressFromTextAndPeriodFromSeconds) {
    struct AddressCase {
        const char* text;
        bool ok;
        int expected;
    };
    const AddressCase addresses[] = {{"300", true, 44},  {"140", true, 140},  {" 12 ", true, 12},
                                     {"-1", true, 255},  {"abc", false, 108}, {"", false, 108},
                                     {"12x", false, 108}, {"99999999999", false, 108}};
    for (const AddressCase& c : addresses) {
        BusHarness h;
        EXPECT_EQ(h.comms.SetOwnAddressFromText(c.text), c.ok) << c.text;
        EXPECT_EQ(h.comms.OwnAddress(), c.expected) << c.text;
    }
    struct PeriodCase {
        float seconds;
        bool ok;
        int period;
    };
    const PeriodCase periods[] = {{0.29f, true, 28}, {4.0f, true, 400}, {0.0f, true, 0}, {-1.0f, false, 400},
                                  {1e30f, false, 400}};
    for (const PeriodCase& c : periods) {
        BusHarness h;
        EXPECT_EQ(h.comms.SetPeriodSeconds(c.seconds), c.ok) << c.seconds;
        EXPECT_EQ(h.comms.Period(), c.period) << c.seconds;
    }
}

TEST(Tick, NewOwnAddressIsTheSourceAndReceivesReplies) {
    BusHarness h;
    KDevice& d = h.AddDevice("Pump", 0x23);
    KPropertyLink& speed = h.AddProperty(d, "Speed", 1, 5, 77);
    ASSERT_TRUE(h.comms.SetOwnAddressFromText("140"));
    speed.state = LinkState::GET;
    h.Run(2);
    ASSERT_FALSE(h.emu.Requests().empty());
    EXPECT_EQ(h.emu.Requests()[0].packet.source, 140);
    EXPECT_EQ(speed.state, LinkState::KNOWN);
    EXPECT_EQ(speed.current.ReadAsNumber(), 77);
}

TEST(Tick, PollingWithPeriodZeroReadsOnEveryFreeTick) {
    BusHarness h;
    KDevice& d = h.AddDevice("Pump", 0x23);
    KPropertyLink& speed = h.AddProperty(d, "Speed", 0, 5);
    speed.poll = true;
    h.comms.SetPeriodSeconds(0.0f);
    h.Run(10);
    // Each reply lands on the next tick, which frees the link for the next poll at once.
    EXPECT_EQ(h.emu.Requests().size(), 10u);
}

}  // namespace
}  // namespace korva
