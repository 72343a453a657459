#include "sim/BusEmulator.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/Packets.h"

namespace korva {
namespace {

// How the program copes with drops, refusals, damage and split replies is the protocol's tests'
// (retries, refusals) and the faulty line over a pty; here, what the devices put on the line.
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
        {{0x26, 0x6C, 0x89, 99}, "(x6Cx26x8Cx01x82x63)"},       // unknown code: refused
        {{0x26, 0x6C, 0x79, 3, 0x2A}, "(x6Cx26x7Ax01x10x03)"},
        {{0x26, 0x6C, 0x79, 8, 0x00, 0x07, 0x01}, "(x6Cx26x7Ax04x20x08x00x07x01)"},  // names the element
        {{0x26, 0x6C, 0x79, 3, 1, 2}, "(x6Cx26x7Cx01x12x03)"},  // wrong length for a byte value
        {{0x26, 0x6C, 0xE8}, ""},                               // boot loader: no answer
        {{0x27, 0x6C, 0x89, 3}, ""},                            // nobody there
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
    EXPECT_EQ(d.files[0].elements[1], 7);
    // Faults change the answer itself: a refusal, or the decimal form of the same reply.
    sim::FaultOptions refuse, decimal;
    refuse.refuseRate = 1.0;
    decimal.decimal = true;
    for (const auto& [faults, reply] :
         {std::pair{refuse, "(x6Cx26x8Cx01x22x03)"}, {decimal, "(108038138002040003007)"}}) {
        sim::BusEmulator faulty(faults);
        faulty.AddDevice("Boiler", 0x26).properties.push_back({"Mode", 1, 3, 0, 7});
        faulty.Feed(req({0x26, 0x6C, 0x89, 3}));
        faulty.Tick();
        const auto out = faulty.TakeOutput();
        EXPECT_EQ(out, std::vector<std::string>{reply});
    }
    // A request lost on the line is never heard; a doubled reply's copy leaves a cluster later.
    for (const bool lose : {true, false}) {
        sim::FaultOptions faults;
        (lose ? faults.loseRate : faults.doubleRate) = 1.0;
        sim::BusEmulator faulty(faults);
        faulty.AddDevice("Boiler", 0x26).properties.push_back({"Mode", 1, 3, 0, 7});
        faulty.Feed(req({0x26, 0x6C, 0x89, 3}));
        std::string line;  // each piece after the tick it left on
        for (int t = 0; t <= sim::BusEmulator::kDoubleGapTicks + 1; ++t, faulty.Tick())
            for (const std::string& piece : faulty.TakeOutput()) line += std::to_string(t) + piece;
        const std::string reply = "(x6Cx26x8Ax02x28x03x07)";
        EXPECT_EQ(line,
                  lose ? "" : "1" + reply + std::to_string(sim::BusEmulator::kDoubleGapTicks + 1) + reply);
    }
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
