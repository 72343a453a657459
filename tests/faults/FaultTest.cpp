// What a bad bench throws at the program: garbage on the line, random files. The queue's overflow
// is the router's test, huge configurations the loader's.
#include <gtest/gtest.h>

#include <random>

#include "sequence/Util.h"
#include "support/BusHarness.h"
#include "support/FakeHost.h"
#include "support/SequenceFakes.h"
#include "support/TempDir.h"

namespace korva {
namespace {

using test::BusHarness;
using test::TempDir;

TEST(Faults, TenMegabytesOfGarbageOnOneLine) {
    BusHarness h;
    KDevice& d = h.AddDevice("Pump", 0x22);
    KPropertyLink& speed = h.AddProperty(d, "Speed", 0, 5, 4321);
    std::mt19937 rng(42);
    std::string garbage(10 << 20, '\0');
    const std::string alphabet = "()x0123456789ABCDEF \r\n;.zq";
    for (char& c : garbage) c = alphabet[rng() % alphabet.size()];
    h.comms.Feed(garbage);
    h.comms.Feed(")");  // whatever packet the garbage left open is closed
    speed.RequestRead();
    ASSERT_TRUE(h.RunUntil([&] { return speed.state != LinkState::GET; }, 200));
    EXPECT_EQ(speed.state, LinkState::KNOWN);
    EXPECT_EQ(speed.current.ReadAsNumber(), 4321);
    // Traces of whatever the garbage formed stay within the pane's lines, one per packet.
    for (const std::string& line : h.log) EXPECT_LT(line.size(), 200u);
}

TEST(Faults, SequenceFileOfOneMegabyteOfRandomBytes) {
    for (unsigned seed : {1u, 2u, 3u}) {
        TempDir dir;
        std::mt19937 rng(seed);
        std::string bytes(1 << 20, '\0');
        for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
        // Sprinkle keywords so that statements, nodes and actions come out of the noise.
        for (const char* word : {"testnode ", "get ", "if ", "call ", "wait ", "test ", ";\n", "\""})
            for (int i = 0; i < 2000; ++i) bytes.replace(rng() % (bytes.size() - 16), std::string(word).size(), word);
        dir.Write("random.kts", bytes);
        BusHarness h;
        KDevice& d = h.AddDevice("Pump", 0x22);
        h.AddProperty(d, "Speed", 0, 5);
        test::FakeView view;
        test::FakeRunnerHost host;
        host.openResult = 0;
        TestSequence seq(h.comms.Model(), view, host);
        h.comms.runnerStep = [&] { seq.Step(kTick); };
        h.comms.runnerEvent = [&] { seq.Resume(); };
        seq.ResetStore();
        seq.LoadSequenceFile(dir.Path() + "/random.kts");
        EXPECT_GT(seq.NodeCount(), 0u) << seed;
        seq.RunAll();
        h.Run(500);  // bounded: whatever the nodes do, the program keeps ticking
        seq.ResetStore();
        EXPECT_EQ(seq.NodeCount(), 0u);
    }
}

}  // namespace
}  // namespace korva
