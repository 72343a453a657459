// The real korvaconfig, offscreen, against korvasim over a pseudo-terminal. An autorun sequence
// stands in for the operator: it opens COM1, writes a property and reads it back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/SimProcess.h"
#include "support/TempDir.h"

namespace korva {
namespace {

// The program in its working folder; killed and reaped when the test ends.
class Program {
public:
    Program(const std::string& workDir) {
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(workDir.c_str()) != 0) _exit(126);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            // The window keeps its geometry in the user's settings: not in the tester's own.
            setenv("XDG_CONFIG_HOME", workDir.c_str(), 1);
            execl(KORVACONFIG_PATH, KORVACONFIG_PATH, static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Program() {
        if (pid_ > 0 && Running()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Running() {
        int status = 0;
        if (exited_) return false;
        if (waitpid(pid_, &status, WNOHANG) == pid_) exited_ = true;
        return !exited_;
    }
    // Ends the program as the window manager's close would; true when it went.
    bool Terminate() {
        kill(pid_, SIGTERM);
        for (int i = 0; i < 500 && Running(); ++i) usleep(10000);
        return !Running();
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
};

TEST(Program, TalksToTheDemoPlantThroughTheSerialLine) {
    test::TempDir dir;
    std::filesystem::copy(std::string(KORVA_DEMO_DIR) + "/config", dir.Path() + "/config",
                          std::filesystem::copy_options::recursive);
    dir.Write("config/tools/zz_autorun.kts",
              "testnode autorun;\n"
              "opencom 1;\n"
              "set FeedPump.SpeedSetpoint 1234;\n"
              "test FeedPump.SpeedSetpoint 1234 1234;\n"
              "endnode;\n");
    test::SimProcess sim({"--config-dir", dir.Path() + "/config", "--trace"});
    ASSERT_TRUE(sim.WaitForOutput("serving")) << sim.err;
    Program program(dir.Path());
    // The write of 1234 (04 D2) to code 16 at address 0x22, then the read of the same code.
    EXPECT_TRUE(sim.WaitForOutput("rx (x22x6Cx79x03")) << sim.out;
    EXPECT_NE(sim.out.find("x04xD2"), std::string::npos) << sim.out;
    EXPECT_TRUE(sim.WaitForOutput("rx (x22x6Cx89x01")) << sim.out;
    EXPECT_TRUE(sim.WaitForOutput("tx (x6Cx22x8Ax03")) << sim.out;
    EXPECT_TRUE(program.Running());
    EXPECT_TRUE(program.Terminate());
}

}  // namespace
}  // namespace korva
