#include <gtest/gtest.h>

#include "protocol/Comms.h"
#include "support/FakeHost.h"

namespace korva {
namespace {

using test::FakeHost;
using test::MakePacket;

// How each kind decodes its value is the value record's test; here the reply meets its link, and
// releases the pending request ('r' a read, 'w' a write, '-' none) only when it answers it.
TEST(PropertyReply, ValueAndStateFromEachKindOfReply) {
    struct Case {
        const char* what;
        int type;
        int code;
        std::vector<int> data;
        std::uint8_t state;
        int number;
        const char* logLine;  // "" for none
        char pending = 'r';
        bool held = false;  // the request still waits for its answer
    };
    const char* unasked = "<Reply answers no request>";
    const Case cases[] = {
        {"word 0x8000 is -32768", 0, 0x8A, {5, 0x80, 0x00}, LinkState::KNOWN, -32768, ""},
        {"word and option", 3, 0x8A, {5, 0x12, 0x34, 0x01}, LinkState::KNOWN, 0x1234, ""},
        {"ack and refusal both set is positive", 0, 0x8E, {5, 0x00, 0x2A}, LinkState::KNOWN, 42, ""},
        {"short reply keeps the value",
         0,
         0x8A,
         {5, 0x01},
         LinkState::KNOWN,
         77,
         "<Unexpected packet length>"},
        {"type not on the wire", 7, 0x8A, {5, 0x01, 0x02}, LinkState::KNOWN, 0, "<Invalid property type>"},
        {"refusal", 0, 0x8C, {5}, LinkState::ERROR, 77, ""},
        {"write reply takes the new value", 0, 0x7A, {5}, LinkState::KNOWN, -3, "", 'w'},
        {"a request from the device answers nothing", 0, 0x89, {5}, LinkState::GET, 77, "", 'r', true},
        {"late read reply stores, the write waits", 0, 0x8A, {5, 0, 9}, LinkState::SET, 9, "", 'w', true},
        {"write reply to a read", 0, 0x7A, {5}, LinkState::GET, 77, unasked, 'r', true},
        {"write reply to nothing", 0, 0x7A, {5}, LinkState::UNKNOWN, 77, unasked, '-'},
    };
    for (const Case& c : cases) {
        FakeHost host;
        Engine comms(host);
        KDevice& d = comms.Model().MakeDevice("Pump", 0x23);
        KPropertyLink& link = comms.Model().MakeProperty(d, {"Speed", static_cast<std::uint8_t>(c.type), 5});
        link.current.StoreNumber(77);
        if (c.pending != '-') c.pending == 'r' ? link.RequestRead() : link.SetNewNumber(-3);
        link.newValue.StoreNumber(-3);
        RequestSlot* slot = link.pending;
        comms.Line().Route(MakePacket({108, 0x23, c.code}, c.data));
        comms.Line().ProcessReceiveQueue();
        EXPECT_EQ(link.state, c.state) << c.what;
        EXPECT_EQ(link.current.ReadAsNumber(), c.number) << c.what;
        EXPECT_EQ(link.pending, c.held ? slot : nullptr) << c.what;
        if (slot != nullptr) EXPECT_EQ(slot->state == SlotState::Free, !c.held) << c.what;
        const bool logged = std::find(host.log.begin(), host.log.end(), c.logLine) != host.log.end();
        EXPECT_TRUE(*c.logLine == 0 || logged) << c.what;
        if (c.code == 0x8A && c.type <= 3) {
            EXPECT_TRUE(link.logChannel->hasValue) << c.what;
            EXPECT_EQ(link.logChannel->value, c.number) << c.what;
        }
    }
}

// A write carries the type's layout; a type outside the wire types sends nothing and says so.
TEST(PropertyReply, RequestsCarryTheTypeLayout) {
    struct Case {
        int type;
        double value;
        std::vector<std::string> wire;
        std::vector<std::string> log;  // the trace line, or why nothing went
    };
    // Device 0x23, code 5, from 0x6C.
    const Case cases[] = {
        {1, 300, {"(x23x6Cx79x02x3Bx05x2C)"}, {"tx: (23 6C 79 02 3B 05 2C )"}},
        {3, 0x1234, {"(x23x6Cx79x04x57x05x12x34x00)"}, {"tx: (23 6C 79 04 57 05 12 34 00 )"}},
        {9, 1, {}, {"<Invalid property type>"}},
    };
    for (const Case& c : cases) {
        FakeHost host;
        Engine comms(host);
        host.Wire(comms);
        host.serialPort.hold = BusPort::Hold::Master;
        KDevice& d = comms.Model().MakeDevice("Pump", 0x23);
        KPropertyLink& link = comms.Model().MakeProperty(d, {"Speed", static_cast<std::uint8_t>(c.type), 5});
        link.SetNewNumber(c.value);
        comms.Tick();
        EXPECT_EQ(host.serial, c.wire) << c.type;
        EXPECT_EQ(host.log, c.log) << c.type;
        EXPECT_EQ(link.state, c.wire.empty() ? LinkState::ERROR : LinkState::SET) << c.type;
    }
}

}  // namespace
}  // namespace korva
