#include "sim/BusEmulator.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/BusHarness.h"

namespace korva {
namespace {

using test::BusHarness;

struct Outcome {
    int known = 0;
    int errors = 0;
    int crcLines = 0;
    int pieces = 0;
};

// Reads one property a hundred times under the given faults.
Outcome ReadHundredTimes(const sim::FaultOptions& faults, int latency = 0) {
    BusHarness h(faults);
    KDevice& d = h.AddDevice("Pump", 0x23);
    KPropertyLink& speed = h.AddProperty(d, "Speed", 0, 5, 4321);
    h.emu.FindDevice(0x23)->latencyTicks = latency;
    Outcome o;
    for (int i = 0; i < 100; ++i) {
        speed.current.StoreNumber(0);
        speed.RequestRead();
        h.RunUntil([&] { return speed.state != LinkState::GET; }, 1000);
        if (speed.state == LinkState::KNOWN && speed.current.ReadAsNumber() == 4321) ++o.known;
        if (speed.state == LinkState::ERROR) ++o.errors;
    }
    for (const std::string& line : h.log) o.crcLines += line.rfind("<", 0) == 0 && line.find("CRC") != std::string::npos;
    return o;
}

TEST(BusEmulator, FaultOptionsShowOnTheProgramSide) {
    sim::FaultOptions plain, decimal, split, refuse, drop, corrupt;
    decimal.decimal = true;
    split.split = true;
    refuse.refuseRate = 1.0;
    drop.dropRate = 0.5;
    corrupt.corruptRate = 0.5;
    const Outcome ok = ReadHundredTimes(plain);
    EXPECT_EQ(ok.known, 100);
    EXPECT_EQ(ReadHundredTimes(decimal).known, 100);
    EXPECT_EQ(ReadHundredTimes(split).known, 100);
    EXPECT_EQ(ReadHundredTimes(plain, 7).known, 100);
    const Outcome refused = ReadHundredTimes(refuse);
    EXPECT_EQ(refused.errors, 100);
    // A dropped reply is asked again; only five drops in a row fail the read.
    const Outcome dropped = ReadHundredTimes(drop);
    EXPECT_GE(dropped.known, 90);
    EXPECT_EQ(dropped.known + dropped.errors, 100);
    const Outcome damaged = ReadHundredTimes(corrupt);
    EXPECT_GT(damaged.crcLines, 20);
    EXPECT_GE(damaged.known, 90);
}

TEST(BusEmulator, AnswersWithTheWireLayouts) {
    sim::BusEmulator emu;
    sim::SimDevice& d = emu.AddDevice("Boiler", 0x26);
    d.properties.push_back({"Mode", 1, 3, 0, 7});
    d.properties.push_back({"Limit", 3, 4, 0x1234, 9});
    d.files.push_back({"Curve", 4, 8, 0x11, {5, -1}});
    struct Case {
        std::vector<int> request;  // dest, source, code, data...
        std::string reply;         // as the device writes it
    };
    auto req = [](const std::vector<int>& b) {
        return EncodeSerial(test::MakePacket({b[0], b[1], b[2]}, std::vector<int>(b.begin() + 3, b.end())));
    };
    const Case cases[] = {
        {{0x26, 0x6C, 0x89, 3}, "(x6Cx26x8Ax02x28x03x07)"},
        {{0x26, 0x6C, 0x89, 4}, "(x6Cx26x8Ax04x73x04x12x34x09)"},
        {{0x26, 0x6C, 0x89, 8, 0xFD}, "(x6Cx26x8Ax04x36x08x00x11xFD)"},
        {{0x26, 0x6C, 0x89, 8, 0xFE}, "(x6Cx26x8Ax04x28x08x00x02xFE)"},
        {{0x26, 0x6C, 0x89, 8, 0x01}, "(x6Cx26x8Ax04x27x08xFFxFFx01)"},
        {{0x26, 0x6C, 0x89, 8, 0x02}, "(x6Cx26x8Cx01x27x08)"},  // no element 2: refused
        {{0x26, 0x6C, 0x89, 99}, "(x6Cx26x8Cx01x82x63)"},        // unknown code: refused
        {{0x26, 0x6C, 0x79, 3, 0x2A}, "(x6Cx26x7Ax01x10x03)"},
        {{0x26, 0x6C, 0x79, 3, 1, 2}, "(x6Cx26x7Cx01x12x03)"},     // wrong length for a byte value
        {{0x26, 0x6C, 0xE8}, ""},                                  // boot loader: no answer
        {{0x27, 0x6C, 0x89, 3}, ""},                               // nobody there
    };
    for (const Case& c : cases) {
        emu.Feed(req(c.request));
        emu.Tick();
        const auto out = emu.TakeOutput();
        std::string joined;
        for (const auto& s : out) joined += s;
        EXPECT_EQ(joined, c.reply) << req(c.request);
    }
    EXPECT_EQ(d.properties[0].byte, 0x2A);
}

// A second master reads one property after the other; its request and the reply are both on the line.
TEST(BusEmulator, SecondMasterPollsInTurn) {
    sim::BusEmulator emu;
    sim::SimDevice& d = emu.AddDevice("Pump", 0x22);
    d.properties.push_back({"Speed", 0, 16, 0x1234, 0});
    d.properties.push_back({"Mode", 1, 17, 0, 5});
    std::vector<std::string> traced;
    emu.trace = [&](const std::string& line) { traced.push_back(line); };
    emu.SetSecondMaster(0x70, 10);
    std::string line;
    for (int i = 0; i < 21; ++i) {
        emu.Tick();
        for (const std::string& piece : emu.TakeOutput()) line += piece;
    }
    EXPECT_EQ(line,
              "(x22x70x89x01x2Cx10)(x70x22x8Ax03x75x10x12x34)"
              "(x22x70x89x01x2Dx11)(x70x22x8Ax02x34x11x05)"
              "(x22x70x89x01x2Cx10)(x70x22x8Ax03x75x10x12x34)");
    EXPECT_EQ(traced.front(), "rx (x22x70x89x01x2Cx10)");
    EXPECT_EQ(traced.size(), 6u);
}

}  // namespace
}  // namespace korva
