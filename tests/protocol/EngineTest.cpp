// Two lines in one engine: devices of the same address on each, replies interleaved character by
// character, and nothing crosses from one line to the other.
#include <gtest/gtest.h>

#include <memory>

#include "sim/BusEmulator.h"
#include "support/FakeHost.h"

namespace korva {
namespace {

// One line of the plant: its devices' side, and the open port that carries the program's text to it.
struct Line {
    Line(Engine& engine, const std::string& name) : bus(engine.Line(name)) {
        port.sink = [this](const std::string& text) { devices.Feed(text); };
        bus.AttachSerial(&port);
    }
    Bus& bus;
    sim::BusEmulator devices;
    test::FakePort port{BusPort::Hold::Master, EncodeSerial};
};

class TwoLines : public ::testing::Test, public test::FakeHost {
  protected:
    TwoLines() {
        engine.Start();
        for (int i = 0; i < 2; ++i) {
            const std::string name = "COM" + std::to_string(i + 1);
            sim::SimDevice& d = lines[i]->devices.AddDevice("Pump", 0x32);
            d.properties.push_back({"Speed", 0, 1, 1000 * (i + 1), 0});
            KDevice& device = engine.Model().MakeDevice("Pump" + std::to_string(i + 1), 0x32, nullptr, name);
            speed[i] = &engine.Model().MakeProperty(device, {"Speed", 0, 1});
        }
    }
    // One tick; the two lines' answers reach the program interleaved, a character from each in turn.
    void Step() {
        engine.Tick();
        std::string text[2];
        for (int i = 0; i < 2; ++i) {
            lines[i]->devices.Tick();
            for (const std::string& piece : lines[i]->devices.TakeOutput()) text[i] += piece;
        }
        for (std::size_t c = 0; c < std::max(text[0].size(), text[1].size()); ++c)
            for (int i = 0; i < 2; ++i)
                if (c < text[i].size()) lines[i]->bus.TakeCluster(std::string(1, text[i][c]));
    }

    Engine engine{*this};
    std::unique_ptr<Line> lines[2] = {std::make_unique<Line>(engine, "COM1"),
                                      std::make_unique<Line>(engine, "com2")};
    KPropertyLink* speed[2] = {};
};

TEST_F(TwoLines, NothingCrossesFromOneLineToTheOther) {
    const struct {
        const char* name;
        int line;  // the line whose device is asked; -1 both
        bool write;
        int values[2];         // on the devices afterwards
        std::size_t heard[2];  // requests each line's devices heard
    } cases[] = {
        {"both read at once", -1, false, {1000, 2000}, {1, 1}},
        {"a write on the second line", 1, true, {1000, 77}, {0, 1}},
        {"a read on the first line", 0, false, {1000, 77}, {1, 0}},
    };
    for (const auto& c : cases) {
        for (auto& line : lines) line->devices.ClearRequests();
        for (int i = 0; i < 2; ++i) {
            if (c.line != -1 && c.line != i) continue;
            if (c.write)
                speed[i]->SetNewNumber(77);
            else
                speed[i]->RequestRead();
        }
        for (int t = 0; t < 5; ++t) Step();
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(lines[i]->devices.Devices()[0].properties[0].word, c.values[i])
                << c.name << " line " << i;
            EXPECT_EQ(lines[i]->devices.Requests().size(), c.heard[i]) << c.name << " line " << i;
            EXPECT_EQ(speed[i]->state, LinkState::KNOWN) << c.name << " line " << i;
            EXPECT_EQ(speed[i]->current.word, c.values[i]) << c.name << " line " << i;
            EXPECT_EQ(speed[i]->device->bus, &lines[i]->bus) << c.name;
        }
    }
    // A reply that comes in on the first line never reaches the second line's device of that address.
    speed[1]->RequestRead();
    lines[1]->devices.Devices()[0].silent = true;
    lines[0]->bus.TakeCluster(EncodeSerial(test::MakePacket({0x6C, 0x32, 0x8A}, {1, 0x27, 0x0F})));
    EXPECT_EQ(speed[1]->state, LinkState::GET);
    EXPECT_EQ(speed[1]->current.word, 77);
    EXPECT_EQ(engine.Buses().size(), 2u);  // "com2" is the line COM2, letter case aside

    // A line opened later listens, answers to and shows what COM1 does.
    engine.Line().SetListenOnly(true);
    engine.Line().SetOwnAddress(0x21);
    engine.Line().showBroadcasts = true;
    const Bus& later = engine.Line("COM3");
    EXPECT_TRUE(later.ListenOnly());
    EXPECT_EQ(later.OwnAddress(), 0x21);
    EXPECT_TRUE(later.showBroadcasts);
}

// The engine sleeps only with nothing to do, and the ticks it slept through keep the polls' phase.
TEST(Engine, IdleOnlyWithNothingToDoAndPollsKeepTheirPhase) {
    test::FakeHost host;
    Engine engine(host);
    KDevice& pump = engine.Model().MakeDevice("Pump", 0x32);
    KPropertyLink& speed = engine.Model().MakeProperty(pump, {"Speed", 0, 1});
    bool runnerBusy = false;
    engine.othersBusy = [&] { return runnerBusy; };
    EXPECT_TRUE(engine.Idle());
    runnerBusy = true;
    EXPECT_FALSE(engine.Idle()) << "the runner runs";
    runnerBusy = false;
    speed.RequestRead();  // no port: it waits for its slot
    EXPECT_FALSE(engine.Idle()) << "a link has work";
    speed.state = LinkState::KNOWN;
    engine.Tick();
    EXPECT_TRUE(engine.Idle());
    speed.SetPoll(true);
    EXPECT_FALSE(engine.Idle()) << "a link is polled";
    speed.SetPoll(false);

    // Polls come on ticks 0, 401, 802, ... however many ticks were skipped in between.
    const std::int64_t skips[] = {0, 1, 399, 400, 401, 402, 1000, 4010};
    for (const std::int64_t skip : skips) {
        Engine e(host);
        bool polled = false;
        e.periodicLogStep = [&] { polled = true; };  // runs on the ticks that poll
        e.Tick();                                    // tick 0 polls
        e.SkipTicks(skip);
        std::int64_t tick = 1 + skip;
        for (polled = false; e.Tick(), !polled && tick < 10000;) ++tick;
        EXPECT_EQ(tick % 401, 0) << "skipped " << skip;
        EXPECT_LE(tick - skip, 401) << "skipped " << skip;
    }
}

}  // namespace
}  // namespace korva
