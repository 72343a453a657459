// Every menu node of the demo plant's sequences runs green against korvasim.
#include <gtest/gtest.h>

#include <algorithm>

#include "sequence/Util.h"
#include "support/Plant.h"
#include "support/SequenceFakes.h"

namespace korva {
namespace {

TEST(DemoSequences, EveryMenuNodePasses) {
    test::LivePlant plant;
    ASSERT_TRUE(plant.ready) << plant.sim->err;
    test::FakeView view;
    test::FakeRunnerHost host;
    host.open = [&](int n) {
        plant.coms.OpenPort(n);
        return plant.coms.OpenPortNumber() == n ? n : 0;
    };
    TestSequence sequences(plant.comms.Model(), view, host);
    plant.comms.runnerStep = [&] { sequences.Step(kTick); };
    plant.comms.runnerEvent = [&] { sequences.Resume(); };
    const SequenceMenus menus = sequences.ReloadSequences(plant.dir.Path());
    std::vector<std::string> nodes = menus.standard;  // "Open COM1" comes first
    nodes.insert(nodes.end(), menus.custom.begin(), menus.custom.end());
    nodes.insert(nodes.end(), menus.tools.begin(), menus.tools.end());
    ASSERT_GE(nodes.size(), 6u);
    ASSERT_EQ(nodes.front(), "Open COM1");
    for (const std::string& name : nodes) {
        host.events.clear();
        host.log.clear();
        ASSERT_TRUE(sequences.RunNodeByName(name)) << name;
        // Three-millisecond ticks keep the waits short; replies still come well inside a slot's time.
        ASSERT_TRUE(plant.TickUntil([&] { return sequences.State() == RunnerState::Idle; }, 30000, 3))
            << name;
        EXPECT_EQ(sequences.FindNode(name)->result, TestState::PASSED) << name;
        std::vector<std::string> said = host.events;  // dialogs and their answers
        said.insert(said.end(), host.log.begin(), host.log.end());
        for (const std::string& m : said) {
            std::string lower = m;
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            EXPECT_EQ(lower.find("fail"), std::string::npos) << name << ": " << m;
        }
    }
    auto* recipe = dynamic_cast<KFileLink*>(plant.comms.Model().FindLink("Doser", "Recipe"));
    ASSERT_NE(recipe, nullptr);
    EXPECT_EQ(recipe->ElementValue(0), 120);
    // The 16-bit-index file went out, was written one element, and came back from the device.
    const KFileLink* curve = plant.comms.Model().FindLink("Boiler", "HeatingCurve")->AsFile();
    ASSERT_NE(curve, nullptr);
    EXPECT_EQ(curve->ElementValue(2), 68);
    EXPECT_EQ(curve->ElementState(9), LinkState::KNOWN);
}

}  // namespace
}  // namespace korva
