// The real korvaconfig, offscreen, against korvasim over a pseudo-terminal. An autorun sequence
// stands in for the operator: it opens COM1, writes a property and reads it back.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include "support/SimProcess.h"

namespace korva {
namespace {

TEST(Program, TalksToTheDemoPlantThroughTheSerialLine) {
    test::DemoSim plant;
    plant.dir.Write("config/tools/zz_autorun.kts",
                    "testnode autorun;\n"
                    "opencom 1;\n"
                    "set FeedPump.SpeedSetpoint 1234;\n"
                    "test FeedPump.SpeedSetpoint 1234 1234;\n"
                    "endnode;\n");
    ASSERT_TRUE(plant.Start({"--trace"})) << plant.sim->err;
    test::SimProcess& sim = *plant.sim;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_CONFIG_HOME", plant.dir.Path().c_str(),
           1);  // the window keeps its geometry there, not in the tester's
    test::SimProcess program({}, KORVACONFIG_PATH, plant.dir.Path().c_str());
    // The write of 1234 (04 D2) to code 16 at address 0x22, then the pump's answer to the read of it.
    EXPECT_TRUE(sim.WaitForOutput("rx (x22x6Cx79x03")) << sim.out;
    EXPECT_NE(sim.out.find("x04xD2"), std::string::npos) << sim.out;
    EXPECT_TRUE(sim.WaitForOutput("tx (x6Cx22x8Ax03")) << sim.out;
    program.Signal(SIGTERM);  // as the session's end would; still running until then
    EXPECT_EQ(program.Wait(), 128 + SIGTERM) << program.err;
}

}  // namespace
}  // namespace korva
