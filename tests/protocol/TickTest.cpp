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
    h.Run(10);
    speed.RequestRead();  // between ticks 9 and 10: out at once, then every 31 ticks
    h.Run(153);           // ticks 10 .. 162
    EXPECT_EQ(SendTicks(h), (std::vector<int>{10, 40, 71, 102, 133}));
    ASSERT_NE(speed.pending, nullptr);
    EXPECT_EQ(speed.pending->state, SlotState::Waiting);
    RequestSlot* slot = speed.pending;
    h.Step();  // tick 163: the slot gives up, and the link hears of it in the same tick
    EXPECT_FALSE(slot->inFlight);
    EXPECT_EQ(speed.state, LinkState::ERROR);
    EXPECT_EQ(speed.pending, nullptr);
    for (const RequestSlot& s : h.comms.Line().Slots().All()) EXPECT_EQ(s.state, SlotState::Free);
    EXPECT_EQ(h.sent.size(), 5u);
}

// Replies are handled as their cluster comes in: the link is KNOWN before the next tick, and the
// link that found no free slot goes out on the slot the reply freed instead of failing.
TEST(Tick, RepliesBetweenTicksFreeSlotsForLinksThatWait) {
    BusHarness h;
    KDevice& d = h.AddDevice("Rack", 0x2A);
    std::vector<KPropertyLink*> links;
    for (int i = 0; i < 11; ++i) links.push_back(&h.AddProperty(d, "P" + std::to_string(i), 0, 10 + i, i));
    for (KPropertyLink* l : links) l->RequestRead();
    EXPECT_EQ(h.sent.size(), 10u);  // out at once, without a tick
    EXPECT_EQ(links[10]->state, LinkState::GET);
    h.comms.Tick();
    h.emu.Tick();  // the devices answer; the cluster comes in between ticks
    for (const std::string& piece : h.emu.TakeOutput()) h.comms.Line().TakeCluster(piece);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(links[static_cast<std::size_t>(i)]->state, LinkState::KNOWN) << i;
        EXPECT_EQ(links[static_cast<std::size_t>(i)]->current.ReadAsNumber(), i) << i;
    }
    EXPECT_EQ(h.sent.size(), 11u);
    ASSERT_TRUE(h.RunUntil([&] { return links[10]->state == LinkState::KNOWN; }, 3));
    // A link never gives up for want of a slot alone, however long it waits.
    for (RequestSlot& s : h.comms.Line().Slots().All()) s.state = SlotState::Waiting;
    links[0]->RequestRead();
    h.Run(1000);
    EXPECT_EQ(links[0]->state, LinkState::GET);
    EXPECT_EQ(links[0]->fault, LinkFault::None);
}

// At 9600 baud ten reads would outlast the 30 ticks after which one is repeated: fewer go out at
// once, and with every property polled no request is sent again while its reply is on its way.
TEST(Tick, SlowLinesKeepFewRequestsOutstanding) {
    const struct {
        int baud;
        std::size_t outstanding;
    } speeds[] = {{9600, 3}, {19200, 5}, {57600, 10}, {115200, 10}, {0, 10}};
    for (const auto& c : speeds) {
        BusHarness h;
        h.comms.Line().SetLineSpeed(c.baud);
        EXPECT_EQ(h.comms.Line().MaxOutstanding(), c.outstanding) << c.baud;
    }
    BusHarness h;
    h.comms.Line().SetLineSpeed(9600);
    KDevice& d = h.AddDevice("Rack", 0x2A);
    for (int i = 0; i < 20; ++i) h.AddProperty(d, "P" + std::to_string(i), 0, 10 + i, i).SetPoll(true);
    // As on a 9600 baud line, each exchange holds the line five ticks.
    h.emu.lineTicksPerReply = 5;
    h.Run(1200);  // three poll periods
    EXPECT_EQ(h.emu.Requests().size(), 60u);
    EXPECT_EQ(h.emu.repliesSent, 60u);
    for (const auto& [name, link] : d.links) EXPECT_EQ(link->state, LinkState::KNOWN) << name;
}

TEST(Tick, PollReadsEveryPeriod) {
    BusHarness h;
    KDevice& d = h.AddDevice("Pump", 0x23);
    KPropertyLink& speed = h.AddProperty(d, "Speed", 0, 5, 1500);
    KPropertyLink& setpoint = h.AddProperty(d, "Setpoint", 0, 6, 20);
    speed.SetPoll(true);
    setpoint.SetPoll(true);
    h.Run(803);
    std::vector<int> speedReads, setpointReads, writes;
    for (const auto& seen : h.emu.Requests()) {
        if (seen.packet.code == code::kWrite) writes.push_back(static_cast<int>(seen.tick));
        if (seen.packet.code == code::kRead && seen.packet.data[0] == 5)
            speedReads.push_back(static_cast<int>(seen.tick));
        if (seen.packet.code == code::kRead && seen.packet.data[0] == 6)
            setpointReads.push_back(static_cast<int>(seen.tick));
    }
    EXPECT_EQ(speedReads, (std::vector<int>{0, 401, 802}));
    EXPECT_EQ(setpointReads, (std::vector<int>{0, 401, 802}));
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(speed.current.ReadAsNumber(), 1500);
    EXPECT_EQ(setpoint.current.ReadAsNumber(), 20);
    // Cleared, the flag stops the polls.
    speed.SetPoll(false);
    h.Run(401);
    EXPECT_EQ(h.emu.Requests().size(), 7u);
    EXPECT_EQ(h.emu.Requests().back().packet.data[0], 6);
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
    limit.RequestRead();
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
    speed.RequestRead();
    h.Run(2);
    EXPECT_EQ(speed.state, LinkState::ERROR);
    EXPECT_EQ(LinkFaultText(speed), "refused by the device (reply code 0x8C)");
    EXPECT_EQ(speed.pending, nullptr);

    h.emu.FindDevice(0x23)->silent = true;
    speed.RequestRead();
    h.Step();
    ASSERT_NE(speed.pending, nullptr);
    speed.pending->Release();  // someone else freed it
    h.Step();
    EXPECT_EQ(speed.state, LinkState::ERROR);
    EXPECT_EQ(speed.fault, LinkFault::NoSlot);
    EXPECT_EQ(speed.pending, nullptr);
}

// A request that went unanswered names the way it took: none was up at its last sending, or one
// was and the device kept silent. A new read forgets the cause.
TEST(Tick, EveryErrorNamesItsCause) {
    enum Line { Open, Closed, LostLate, RelayOnly };
    const std::pair<Line, const char*> cases[] = {
        {Open, "no reply after 5 sendings"},
        {Closed, "port not open or lost"},
        {LostLate, "port not open or lost"},  // up for the first four sendings only
        {RelayOnly, "no reply after 5 sendings"},
    };
    for (const auto& [line, text] : cases) {
        BusHarness h;
        KPropertyLink& speed = h.AddProperty(h.AddDevice("Pump", 0x23), "Speed", 0, 5);
        h.emu.FindDevice(0x23)->silent = true;
        if (line == Closed || line == RelayOnly) h.serialPort.hold = BusPort::Hold::Down;
        h.relayPort.hold = line == RelayOnly ? BusPort::Hold::Master : BusPort::Hold::Down;
        h.comms.Line().AttachRelay(&h.relayPort);
        speed.RequestRead();
        for (int t = 0; t < 200 && speed.state != LinkState::ERROR; ++t, h.Step())
            if (line == LostLate && t == 100) h.serialPort.hold = BusPort::Hold::Down;
        EXPECT_EQ(LinkFaultText(speed), text) << line;
        speed.RequestRead();
        EXPECT_EQ(speed.fault, LinkFault::None) << line;
    }
}

TEST(Tick, BootLoaderGoesOutOncePerClickAndItsSlotIsFreedThirtyTicksLater) {
    BusHarness h;
    h.comms.Line().RunBootLoader();
    h.Run(30);  // ticks 0 .. 29
    ASSERT_EQ(h.sent.size(), 1u);
    EXPECT_EQ(h.sent[0].tick, 0);
    EXPECT_EQ(h.sent[0].text, "(x16x6CxE8x00x6A)");
    EXPECT_EQ(h.comms.Line().Slots().All()[0].state, SlotState::Waiting);
    h.Step();  // tick 30
    EXPECT_EQ(h.comms.Line().Slots().All()[0].state, SlotState::Free);
    h.comms.Line().RunBootLoader();
    h.comms.Line().RunBootLoader();
    h.Run(200);
    EXPECT_EQ(h.sent.size(), 3u);
    for (int i = 0; i < 10; ++i) h.comms.Line().Slots().Take();
    h.comms.Line().RunBootLoader();  // nothing free: silently nothing
    h.Run(5);
    EXPECT_EQ(h.sent.size(), 3u);
}

TEST(Tick, OwnAddressFromTextAndPeriodFromSeconds) {
    struct AddressCase {
        const char* text;
        bool ok;
        int expected;
    };
    const AddressCase addresses[] = {{"300", true, 44},   {"140", true, 140},         {" 12 ", true, 12},
                                     {"-1", true, 255},   {"abc", false, 108},        {"", false, 108},
                                     {"12x", false, 108}, {"99999999999", false, 108}};
    for (const AddressCase& c : addresses) {
        BusHarness h;
        EXPECT_EQ(h.comms.Line().SetOwnAddressFromText(c.text), c.ok) << c.text;
        EXPECT_EQ(h.comms.Line().OwnAddress(), c.expected) << c.text;
        // The address is the source of the next request, and its replies come home.
        KPropertyLink& speed = h.AddProperty(h.AddDevice("Pump", 0x23), "Speed", 1, 5, 77);
        speed.RequestRead();
        h.Run(2);
        ASSERT_FALSE(h.emu.Requests().empty()) << c.text;
        EXPECT_EQ(h.emu.Requests()[0].packet.source, c.expected) << c.text;
        EXPECT_EQ(speed.current.ReadAsNumber(), 77) << c.text;
    }
    struct PeriodCase {
        float seconds;
        bool ok;
        int period;
    };
    const PeriodCase periods[] = {
        {0.29f, true, 28}, {4.0f, true, 400}, {0.0f, true, 0}, {-1.0f, false, 400}, {1e30f, false, 400}};
    for (const PeriodCase& c : periods) {
        BusHarness h;
        EXPECT_EQ(h.comms.SetPeriodSeconds(c.seconds), c.ok) << c.seconds;
        EXPECT_EQ(h.comms.Period(), c.period) << c.seconds;
    }
}

TEST(Tick, PollingWithPeriodZeroReadsOnEveryFreeTick) {
    BusHarness h;
    KDevice& d = h.AddDevice("Pump", 0x23);
    KPropertyLink& speed = h.AddProperty(d, "Speed", 0, 5);
    speed.SetPoll(true);
    h.comms.SetPeriodSeconds(0.0f);
    h.Run(10);
    // Each reply lands on the next tick, which frees the link for the next poll at once.
    EXPECT_EQ(h.emu.Requests().size(), 10u);
}

}  // namespace
}  // namespace korva
