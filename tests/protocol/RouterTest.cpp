#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "protocol/Comms.h"
#include "support/FakeHost.h"

namespace korva {
namespace {

using test::FakeHost;
using test::MakePacket;
using Hold = BusPort::Hold;

// The way out by destination; packets from the TCP peer never go back to it, but are traced.
TEST(Router, WayOutByDestination) {
    struct Case {
        int dest;
        bool portOpen;
        BusPort::Hold relay;
        bool broadcasts;
        int serial, tcp, queued;
        const char* trace;  // "" when no line, "*" for one line from the peer
    };
    const Case cases[] = {
        {6, true, Hold::Slave, false, 0, 0, 0, ""},
        {6, false, Hold::Down, true, 0, 0, 1, "rx: ["},
        {6, false, Hold::Slave, true, 0, 1, 1, "rx: ["},
        {108, true, Hold::Master, false, 0, 0, 1, "rx: ["},
        {0x22, true, Hold::Master, false, 1, 0, 0, "tx: ("},  // serial wins over TCP
        {0x22, false, Hold::Master, false, 0, 1, 0, "tx: ("},
        // With no open port to go out on, the line says so and the packet is not counted as sent.
        {0x22, false, Hold::Down, false, 0, 0, 0, "not sent: ("},
        {0x28, true, Hold::Down, false, 0, 1, 0, "not sent: ("},
        {0x24, false, Hold::Down, false, 1, 0, 0, "not sent: ("},
        {0x31, true, Hold::Master, false, 0, 0, 0, "tx: {"},
        {0x0A, true, Hold::Down, false, 1, 0, 0, ""},  // low address: no trace without broadcasts
        {0x0F, true, Hold::Down, false, 1, 0, 0, ""},
        {0x10, true, Hold::Down, false, 0, 0, 0, "tx: {"},  // the lowest traced address
        {0x0A, true, Hold::Down, true, 1, 0, 0, "tx: ("},
        {0x01, true, Hold::Down, true, 0, 0, 0, "tx: {"},
        {0x28, false, Hold::Master, true, 0, 0, 0, "*"},  // would bounce between two programs
        {0x22, false, Hold::Master, true, 0, 0, 0, "*"},
        {0x22, true, Hold::Slave, true, 1, 0, 0, "*"},  // out on this side's line
        {6, false, Hold::Slave, true, 0, 0, 1, "*"},
        {108, false, Hold::Slave, true, 0, 0, 1, "*"},
    };
    for (const Case& c : cases) {
        FakeHost host;
        Engine comms(host);
        host.Wire(comms);
        host.serialPort.hold = c.portOpen ? Hold::Master : Hold::Down;
        host.relayPort.hold = c.relay;
        comms.Line().showBroadcasts = c.broadcasts;
        const bool fromPeer = *c.trace == '*';
        const BusPacket p = MakePacket({c.dest, 0x23, 0x8A}, {5, 1, 2});
        comms.Line().Route(p, fromPeer ? &host.relayPort : nullptr);
        // A line chosen by bit 2 is handed over even when closed: the port drops it.
        EXPECT_EQ(static_cast<int>(host.serial.size()), c.serial) << c.dest << " " << fromPeer;
        if (!host.serial.empty()) EXPECT_EQ(host.serial[0], EncodeSerial(p));
        EXPECT_EQ(static_cast<int>(host.tcp.size()), c.tcp) << c.dest << " " << fromPeer;
        if (!host.tcp.empty()) EXPECT_EQ(host.tcp[0], EncodeRaw(p));
        int queued = 0;
        BusPacket out;
        while (comms.Line().Queue().Pop(out)) ++queued;
        EXPECT_EQ(queued, c.queued) << c.dest << " " << fromPeer;
        const bool unsent = std::string_view(c.trace).rfind("not sent", 0) == 0;
        EXPECT_EQ(comms.Line().packetsUnsent, unsent ? 1u : 0u) << c.dest;
        if (fromPeer) {
            EXPECT_EQ(host.log.size(), 1u) << c.dest;
        } else if (*c.trace) {
            ASSERT_EQ(host.log.size(), 1u) << c.dest;
            const char open = c.trace[std::strlen(c.trace) - 1];
            const char close = open == '[' ? ']' : open == '(' ? ')' : '}';
            EXPECT_EQ(host.log[0], std::string(c.trace) + TraceBytes(p) + close);
        } else {
            EXPECT_TRUE(host.log.empty()) << c.dest;
        }
    }
}

// The serial port hands the line over in clusters that may end anywhere, even inside a packet:
// the scanner carries on where the last cluster stopped, and the packet counts once.
TEST(Router, APacketSplitBetweenTwoClustersReachesItsLinkWhole) {
    const std::string stream = "noise(x01" + EncodeSerial(MakePacket({108, 0x23, 0x8A}, {5, 0x12, 0x34}));
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        FakeHost host;
        Engine comms(host);
        KDevice& d = comms.Model().MakeDevice("Pump", 0x23);
        KPropertyLink& speed = comms.Model().MakeProperty(d, {"Speed", 0, 5});
        speed.RequestRead();
        ASSERT_TRUE(speed.Get());
        comms.Line().TakeCluster(stream.substr(0, cut));
        EXPECT_EQ(speed.state == LinkState::KNOWN, cut == stream.size()) << cut;
        comms.Line().TakeCluster(stream.substr(cut));
        EXPECT_EQ(speed.state, LinkState::KNOWN) << cut;
        EXPECT_EQ(speed.current.ReadAsNumber(), 0x1234) << cut;
        EXPECT_EQ(std::count_if(host.log.begin(), host.log.end(),
                                [](const std::string& l) { return l.rfind("rx:", 0) == 0; }),
                  1)
            << cut;
    }
}

TEST(Router, QueueHoldsFifteenAndDropsSilently) {
    FakeHost host;
    Engine comms(host);
    for (int i = 0; i < 20; ++i) comms.Line().Route(MakePacket({108, 0x23, 0x8A}, {i}));
    BusPacket p;
    for (int i = 0; i < 15; ++i) {
        ASSERT_TRUE(comms.Line().Queue().Pop(p));
        EXPECT_EQ(p.data[0], i);
    }
    EXPECT_FALSE(comms.Line().Queue().Pop(p));
    EXPECT_EQ(host.log.size(), 20u);  // every packet was traced, queued or not
}

TEST(Router, RequestsToTheProgramAreAcknowledgedOrObeyed) {
    struct Case {
        int code;
        int dataLength;
        bool acked;
        int closes;
    };
    const Case cases[] = {
        {0x89, 1, true, 0},                        // class 0x88 has bit 3: acknowledged with 0x8A
        {0x59, 0, true, 1},                        // close, reply expected
        {0x58, 0, false, 1},                       // close, no reply expected
        {0x79, 3, true, 0},  {0x71, 1, false, 0},  // class 0x70 has bit 3 clear
        {0x8A, 1, false, 0},                       // a reply is no request
        {0x8C, 1, false, 0},                       // nor is a refusal
    };
    for (const Case& c : cases) {
        FakeHost host;
        Engine comms(host);
        host.Wire(comms);
        host.serialPort.hold = Hold::Master;
        comms.Line().Route(
            MakePacket({108, 0x26, c.code}, std::vector<int>(static_cast<std::size_t>(c.dataLength))));
        host.serial.clear();
        comms.Line().ProcessReceiveQueue();
        EXPECT_EQ(host.closeRequests, c.closes) << c.code;
        if (c.acked) {
            ASSERT_EQ(host.serial.size(), 1u) << c.code;
            const BusPacket ack = MakePacket({0x26, 108, (c.code & ~1) | 2});
            EXPECT_EQ(host.serial[0], EncodeSerial(ack));
        } else {
            EXPECT_TRUE(host.serial.empty()) << c.code;
        }
    }
}

TEST(Router, RepliesReachEveryLinkWithTheCodeOfTheFirstDeviceAtTheAddress) {
    FakeHost host;
    Engine comms(host);
    KModel& m = comms.Model();
    KDevice& pump = m.MakeDevice("Pump", 0x23);
    KDevice& twin = m.MakeDevice("Twin", 0x23);
    auto& speed = m.MakeProperty(pump, {"Speed", 0, 5});
    auto& speedAlias = m.MakeProperty(pump, {"SpeedAlias", 2, 5});
    auto& other = m.MakeProperty(pump, {"Other", 0, 6});
    auto& twinSpeed = m.MakeProperty(twin, {"Speed", 0, 5});
    comms.Line().Route(MakePacket({108, 0x23, 0x8A}, {5, 0x12, 0x34}));
    comms.Line().Route(MakePacket({108, 0x77, 0x8A}, {5, 0x00, 0x01}));  // no device: ignored
    comms.Line().ProcessReceiveQueue();
    EXPECT_EQ(speed.current.ReadAsNumber(), 0x1234);
    EXPECT_EQ(speedAlias.current.ReadAsNumber(), 0x1234);
    EXPECT_EQ(speed.state, LinkState::KNOWN);
    EXPECT_EQ(speedAlias.state, LinkState::KNOWN);
    EXPECT_EQ(other.state, LinkState::UNKNOWN);
    EXPECT_EQ(twinSpeed.state, LinkState::UNKNOWN);
    EXPECT_EQ(host.refreshes, 1);
}

}  // namespace
}  // namespace korva
