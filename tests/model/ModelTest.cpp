#include <gtest/gtest.h>

#include "model/Kobjects.h"
#include "support/FakeHost.h"

namespace korva {
namespace {

using test::FakeHost;

class RecordingListener : public ModelListener {
public:
    void On_NewKorvaDevice(KDevice& d) override { events.push_back("device " + d.name); }
    void On_NewKorvaProperty(KDevice& d, KPropertyLink& l) override {
        events.push_back("property " + d.name + "." + l.name + (d.links.Find(l.name) == &l ? " listed" : ""));
    }
    void On_NewKFileLink(KDevice& d, KFileLink& l) override { events.push_back("file " + d.name + "." + l.name); }
    std::vector<std::string> events;
};

TEST(StringMap, CaseInsensitiveOrderedReplaceInPlace) {
    TStringMap<int> m;
    int a = 1, b = 2, c = 3;
    m.Add("Pump", &a);
    m.Add("Valve", &b);
    m.Add("PUMP", &c);
    ASSERT_EQ(m.Count(), 2u);
    EXPECT_EQ(m.Name(0), "Pump");
    EXPECT_EQ(m.Object(0), &c);
    EXPECT_EQ(m.Find("pUmP"), &c);
    EXPECT_EQ(m.IndexOf("valve"), 1);
    EXPECT_EQ(m.Find("Fan"), nullptr);
}

TEST(Model, DevicesDifferingInCaseShareOneEntryAndBothAreAnnounced) {
    FakeHost host;
    Comms comms(host);
    RecordingListener listener;
    KModel& m = comms.Model();
    m.SetListener(&listener);
    KDevice& first = m.MakeDevice("Pump", 0x22);
    KDevice& second = m.MakeDevice("PUMP", 0x26);
    m.MakeProperty(second, {"Speed", 0, 5});
    m.MakeFileHandle(second, {"Curve", 4, 9}, 16);
    EXPECT_EQ(listener.events, (std::vector<std::string>{"device Pump", "device PUMP", "property PUMP.Speed listed",
                                                         "file PUMP.Curve"}));
    ASSERT_EQ(m.devices.Count(), 1u);
    EXPECT_EQ(m.devices.Name(0), "Pump");
    EXPECT_EQ(m.devices.Object(0), &second);
    EXPECT_NE(&first, &second);
    EXPECT_EQ(m.FindLink("pump", "SPEED"), second.links.Find("Speed"));
    EXPECT_EQ(m.FindDeviceByAddress(0x22), nullptr);  // the replaced device is no longer listed
}

TEST(Model, NewLinksStartQuiet) {
    FakeHost host;
    Comms comms(host);
    KDevice& d = comms.Model().MakeDevice("Boiler", 0x2A);
    KRemoteLink& p = comms.Model().MakeProperty(d, {"Setpoint", 3, 12});
    KRemoteLink& f = comms.Model().MakeFileHandle(d, {"Log", 5, 13}, 8);
    for (KRemoteLink* l : {&p, &f}) {
        EXPECT_EQ(l->state, LinkState::UNKNOWN);
        EXPECT_EQ(l->updateMode, 21);
        EXPECT_FALSE(l->poll);
        EXPECT_FALSE(l->log);
        EXPECT_EQ(l->pending, nullptr);
        EXPECT_EQ(l->device, &d);
    }
    EXPECT_EQ(p.current.kind, 3);
    EXPECT_EQ(f.current.kind, 0);
    ASSERT_NE(p.logChannel, nullptr);
    EXPECT_EQ(p.logChannel->name, "Setpoint");
    EXPECT_FALSE(p.logChannel->enabled);
    EXPECT_EQ(f.logChannel, nullptr);
}

TEST(Model, NameTablesCoverEveryByte) {
    EXPECT_EQ(LinkStateName(10), "UNKNOWN");
    EXPECT_EQ(LinkStateName(12), "STALE");
    EXPECT_EQ(LinkStateName(15), "ERROR");
    EXPECT_EQ(TestStateName(0), "UNTESTED");
    EXPECT_EQ(TestStateName(3), "PASSED");
    EXPECT_EQ(UpdateModeName(20), "Dont Care");
    EXPECT_EQ(UpdateModeName(21), "Sync on Change");
    for (int v = 0; v < 256; ++v) {
        const auto b = static_cast<std::uint8_t>(v);
        if (v < 10 || v > 15) {
            EXPECT_EQ(LinkStateName(b), std::to_string(v));
        }
        if (v > 3) {
            EXPECT_EQ(TestStateName(b), std::to_string(v));
        }
        if (v != 20 && v != 21) {
            EXPECT_EQ(UpdateModeName(b), "Poll");
        }
    }
}

TEST(FileLink, ElementRequestsStayInsideTheFile) {
    FakeHost host;
    Comms comms(host);
    KDevice& d = comms.Model().MakeDevice("Mixer", 0x32);
    KFileLink& f = comms.Model().MakeFileHandle(d, {"Recipe", 4, 20}, 16);
    struct Case {
        int index;
        bool request;
        bool write;
    };
    const Case cases[] = {{15, true, true}, {16, false, false}, {127, false, false}, {0, true, true},
                          {-3, true, true}, {-10, true, true},  {-11, true, false}, {-128, true, false}};
    for (const Case& c : cases) {
        f.position = 7;
        f.state = LinkState::KNOWN;
        EXPECT_EQ(f.RequestElement(static_cast<std::int8_t>(c.index)), c.request) << c.index;
        EXPECT_EQ(f.position, c.request ? c.index : 7) << c.index;
        EXPECT_EQ(f.state, c.request ? LinkState::GET : LinkState::KNOWN) << c.index;
        f.position = 7;
        f.state = LinkState::KNOWN;
        EXPECT_EQ(f.WriteElement(static_cast<std::int8_t>(c.index), 1234), c.write) << c.index;
        EXPECT_EQ(f.state, c.write ? LinkState::SET : LinkState::KNOWN) << c.index;
        if (c.write) {
            EXPECT_EQ(f.ElementValue(c.index), 1234);
            EXPECT_EQ(f.newValue.ReadAsNumber(), 1234);
        }
    }
    EXPECT_EQ(f.ElementValue(-11), 0);
    EXPECT_EQ(f.ElementValue(16), 0);
}

}  // namespace
}  // namespace korva
