#include <gtest/gtest.h>

#include <algorithm>

#include "support/Packets.h"
#include "support/SequenceFakes.h"

namespace korva {
namespace {

using test::SequenceFixture;
using V = std::vector<std::string>;
constexpr std::uint8_t UNTESTED = TestState::UNTESTED, FAILED = TestState::FAILED, ERROR = TestState::ERROR,
                       PASSED = TestState::PASSED;

class Running : public ::testing::Test, public SequenceFixture {};

TEST(Runner, DeviceActionsEndWithTheirResults) {
    const struct {
        std::string statement;
        std::uint8_t result;
        std::string actual;
        std::uint8_t node;
        bool atOnce;           // idle right after the run command
        std::string log = "";  // the refused text, when the action names one
        int speedAfter = 0xFFFB;
        std::vector<std::int16_t> curveAfter = {5, 6, 7};
    } cases[] = {
        {"get Pump Speed", PASSED, "65531", PASSED, false},
        {"get Pump Mode", PASSED, "195", PASSED, false},
        {"get Pump Speed x", PASSED, "65531", PASSED, false},  // a plain property's get takes no value
        {"test Pump Speed 65531 65531", PASSED, "65531", PASSED, false},
        {"test Pump Speed -5 -5", FAILED, "65531", FAILED, false},
        {"set Pump Speed 1500", PASSED, "1500", PASSED, false, "", 1500},
        {"set Pump Speed", PASSED, "", PASSED, false, "", 0},
        // Text that is not a whole number is refused, never sent as 0.
        {"set Pump Speed 1k5", ERROR, "0", ERROR, true, "set Pump Speed 1k5: '1k5' is not a whole number"},
        {"set Pump Speed \"2 900\"", ERROR, "0", ERROR, true,
         "set Pump Speed 2 900: '2 900' is not a whole number"},
        {"test Pump Speed 0 max", ERROR, "0", ERROR, true,
         "test Pump Speed 0 max: 'max' is not a whole number"},
        {"get Pump Recipe 1", PASSED, "-20", PASSED, false},
        {"get Pump Recipe -2", PASSED, "3", PASSED, false},  // the size element
        {"get Pump Recipe x", ERROR, "0", ERROR, true, "get Pump Recipe x: 'x' is not a whole number"},
        {"set Pump Recipe 1 5", PASSED, "5", PASSED, false},  // the value written, not the index
        {"test Pump Recipe 1 65516", PASSED, "-20", PASSED, false},
        {"test Pump Recipe 2 31", FAILED, "30", FAILED, false},
        {"get Dead Level", ERROR, "0", ERROR, false, "get Dead Level: no reply after 5 sendings"},
        {"get Pump Recipe 3", ERROR, "0", ERROR, true,
         "get Pump Recipe 3: element 3 is outside the file (-3 to 2)"},
        {"get Pump Recipe -4", ERROR, "0", ERROR, true},
        {"test Pump Recipe 200 0", ERROR, "0", ERROR, true},
        {"set Pump Recipe 7 1", ERROR, "0", ERROR, true,
         "set Pump Recipe 7 1: element 7 is outside the file (0 to 2)"},
        {"setlocal Pump Recipe 1 x", ERROR, "0", ERROR, true},
        // A file on a 16-bit index is a file everywhere; a write carries one byte.
        {"set Pump Curve 1 77", PASSED, "77", PASSED, false, "", 0xFFFB, {5, 77, 7}},
        {"get Pump Curve 2", PASSED, "7", PASSED, false},
        {"test Pump Curve 0 5", PASSED, "5", PASSED, false},
        {"test Pump Curve 2 5", FAILED, "7", FAILED, false},
        {"set Pump Curve 1 300", ERROR, "0", ERROR, true,
         "set Pump Curve 1 300: 300 does not fit an element of this file (-128 to 255)"},
        {"set Pump Curve 3 1", ERROR, "0", ERROR, true},
        {"savefile Pump Curve", PASSED, "0", PASSED, false, "", 0xFFFB, {0, 0, 0}},
        {"loadfile Pump Speed", ERROR, "0", ERROR, true},
        {"savefile Pump Speed", ERROR, "0", ERROR, true},
        {"setlocal Pump Speed 1 2", UNTESTED, "0", PASSED, true},
        // Numbers are decimal, and a value the wire cannot carry is never sent cut to its low bits.
        {"set Pump Speed 0x10", ERROR, "0", ERROR, true, "set Pump Speed 0x10: '0x10' is not a whole number"},
        {"test Pump Speed $10 99", ERROR, "0", ERROR, true,
         "test Pump Speed $10 99: '$10' is not a whole number"},
        {"get Pump Recipe 0x1", ERROR, "0", ERROR, true, "get Pump Recipe 0x1: '0x1' is not a whole number"},
        {"set Pump Speed 70000", ERROR, "0", ERROR, true,
         "set Pump Speed 70000: 70000 is outside what the property can carry (-32768 to 65535)"},
        {"set Pump Speed -32769", ERROR, "0", ERROR, true,
         "set Pump Speed -32769: -32769 is outside what the property can carry (-32768 to 65535)"},
        {"set Pump Speed 65535", PASSED, "65535", PASSED, false, "", 65535},
        {"set Pump Mode 300", ERROR, "0", ERROR, true,
         "set Pump Mode 300: 300 is outside what the property can carry (-128 to 255)"},
        {"set Pump Recipe 1 70000", ERROR, "0", ERROR, true,
         "set Pump Recipe 1 70000: 70000 does not fit an element of this file (-32768 to 65535)"},
        {"get Nobody Speed", ERROR, "0", ERROR, true, "Invalid Device Name: unknown device 'Nobody'"},
        {"set Pump Missing 1", ERROR, "0", ERROR, true,
         "Invalid Property Name: unknown property 'Missing' of device 'Pump'"},
    };
    for (const auto& c : cases) {
        SequenceFixture f;
        f.Load("testnode n;\n" + c.statement + ";\n");
        ASSERT_TRUE(f.seq.RunNodeByName("n"));
        EXPECT_EQ(f.seq.State() == RunnerState::Idle, c.atOnce) << c.statement;
        ASSERT_TRUE(f.RunToIdle(400)) << c.statement;
        const TestAction& a = *f.seq.FindNode("n")->actions.at(0);
        EXPECT_EQ(a.result, c.result) << c.statement;
        EXPECT_EQ(ActualText(a.actualValue), c.actual) << c.statement;
        EXPECT_EQ(f.seq.FindNode("n")->result, c.node) << c.statement;
        EXPECT_EQ(f.EmuSpeed().word, c.speedAfter) << c.statement;
        EXPECT_EQ(f.EmuFile(1), c.curveAfter) << c.statement;
        EXPECT_EQ(f.view.nodeBox, "n " + TestStateName(c.node)) << c.statement;
        // The item shows the action's last result; the boxes follow the run.
        EXPECT_EQ(f.view.At(2).result, TestStateName(c.result)) << c.statement;
        EXPECT_EQ(f.view.actionBox, a.label + "|" + TestStateName(c.result) + "|" + c.actual) << c.statement;
        if (!c.log.empty()) EXPECT_EQ(f.host.log, V{c.log}) << c.statement;
    }
}

// A sequence's numbers are raw, read as the property's configuration says (a signed register reads
// negative); the shown value stands beside the raw one, and a set outside its range is never sent.
TEST(Runner, EngineeringPropertiesKeepRawNumbersAndShowTheValueBeside) {
    const struct {
        std::string statement;
        std::uint8_t result;
        std::string box;  // the action's box after the run
        std::string log = "";
    } cases[] = {
        {"test Pump Offset -30 -20", PASSED, "-25 (-2.5 °C)"},
        {"test Pump Offset 65511 65511", FAILED, "-25 (-2.5 °C)"},
        {"set Pump Offset -50", PASSED, "-50 (-5.0 °C)"},
        {"set Pump Offset -51", ERROR, "0",
         "set Pump Offset -51: -51 is outside what the property can carry (-50 to 50)"},
    };
    ValueFormat offset;
    offset.given = offset.isSigned = true;
    offset.unit = "°C";
    offset.scale = 0.1;
    offset.min = -5;
    offset.max = 5;
    for (const auto& c : cases) {
        SequenceFixture f;
        f.h.AddProperty(*f.h.comms.Model().devices.Find("Pump"), "Offset", 2, 3, 0xFFE7, offset);
        f.Load("testnode n;\n" + c.statement + ";\n");
        ASSERT_TRUE(f.seq.RunNodeByName("n"));
        ASSERT_TRUE(f.RunToIdle(400)) << c.statement;
        const TestAction& a = *f.seq.FindNode("n")->actions.at(0);
        EXPECT_EQ(a.result, c.result) << c.statement;
        EXPECT_EQ(f.view.actionBox, a.label + "|" + TestStateName(c.result) + "|" + c.box) << c.statement;
        EXPECT_EQ(f.host.log, c.log.empty() ? V{} : V{c.log}) << c.statement;
    }
}

// A run's verdict is the worst that every node it reached met since that node last started: a jump or a
// call away from a failure never turns it into a pass, a node that repeats itself until it passes passes.
TEST(Runner, TheVerdictCoversEveryNodeTheRunReached) {
    const struct {
        std::string name;
        std::string file;
        std::uint8_t verdict;
        V reached;
    } cases[] = {
        {"jump from a pass to a node in error",
         "testnode n;\nget Pump Speed;\nif nodepass o;\ntestnode o;\nget Nobody Speed;\n", ERROR,
         V{"n", "o"}},
        {"failure handled by a node that passes",
         "testnode n;\ntest Pump Speed -5 -5;\nif nodefail o;\ntestnode o;\nget Pump Speed;\n", FAILED,
         V{"n", "o"}},
        {"call of a passing node after a failure",
         "testnode n;\ntest Pump Speed -5 -5;\ncall o;\ntestnode o;\nget Pump Speed;\n", FAILED, V{"n", "o"}},
        {"call of a failing node",
         "testnode n;\ncall o;\nget Pump Speed;\ntestnode o;\ntest Pump Speed -5 -5;\n", FAILED, V{"n", "o"}},
        {"jump to an empty node", "testnode n;\nget Pump Speed;\nif nodepass o;\ntestnode o;\n", PASSED,
         V{"n", "o"}},
        {"plain pass", "testnode n;\nget Pump Speed;\ntestnode o;\nget Nobody Speed;\n", PASSED, V{"n"}},
    };
    for (const auto& c : cases) {
        SequenceFixture f;
        f.Load(c.file);
        f.seq.RunNodeByName("n");
        ASSERT_TRUE(f.RunToIdle(400)) << c.name;
        EXPECT_EQ(f.seq.Verdict(), c.verdict) << c.name;
        EXPECT_EQ(f.seq.FindNode("n")->result, c.verdict) << c.name;
        EXPECT_EQ(f.view.nodeBox, "n " + TestStateName(c.verdict)) << c.name;
        EXPECT_EQ(f.view.At(1).result, TestStateName(c.verdict)) << c.name;
        V reached;
        for (const _TestNode* node : f.seq.ReachedNodes()) reached.push_back(node->name);
        EXPECT_EQ(reached, c.reached) << c.name;
    }
}

// A late reply for another element, handled in the same batch as the answer, never decides the test.
TEST_F(Running, ATestComparesTheElementItAskedFor) {
    Load("testnode n;\ntest Pump Recipe 1 65516;\n");
    h.emu.FindDevice(0x32)->silent = true;  // the replies below are the only ones
    seq.RunNodeByName("n");
    h.Run(2);
    h.comms.Line().Route(test::MakePacket({0x6C, 0x32, 0x8A}, {20, 0xFF, 0xEC, 1}));     // element 1: -20
    h.comms.Line().Route(test::MakePacket({0x6C, 0x32, 0x8A}, {20, 0x00, 0x08, 0xFE}));  // the size, late
    h.comms.Respond();
    ASSERT_EQ(seq.State(), RunnerState::Idle);
    EXPECT_EQ(ActualText(seq.FindNode("n")->actions[0]->actualValue), "-20");
    EXPECT_EQ(seq.FindNode("n")->result, PASSED);
}

TEST(Runner, WaitLetsTheNextActionRunCountPlusOneTicksLater) {
    const struct {
        std::string count;
        int ticks;
    } cases[] = {{"0", 1},         {"5", 6},  {"2.9", 3}, {"10000", 10001},
                 {"20000", 10001}, {"-3", 1}, {"x", 1},   {"0x10", 1}};
    for (const auto& c : cases) {
        SequenceFixture f;
        f.Load("testnode n;\nwait " + c.count + ";\nusermessage done;\n");
        f.seq.RunNodeByName("n");
        int ticks = 0;
        while (f.host.messages.empty() && ticks < 20000) {
            f.h.Step();
            ++ticks;
        }
        EXPECT_EQ(ticks, c.ticks) << c.count;
    }
}

TEST(Runner, IfComparesItsConditionExactly) {
    const struct {
        std::string before;
        std::string condition;
        bool jumps;
    } cases[] = {
        {"test Pump Speed -5 -5", "nodefail", true},   {"test Pump Speed -5 -5", "NodeFail", false},
        {"test Pump Speed -5 -5", "nodeerror", false}, {"test Pump Speed -5 -5", "nodenotfail", false},
        {"get Nobody Speed", "nodeerror", true},       {"get Nobody Speed", "nodefail", true},
        {"get Pump Speed", "nodepass", true},          {"get Pump Speed", "nodenotfail", true},
        {"get Pump Speed", "nodefail", false},         {"get Pump Speed", "always", false},
    };
    for (const auto& c : cases) {
        SequenceFixture f;
        f.Load("testnode n;\n" + c.before + ";\nif " + c.condition +
               " other;\nusermessage stayed;\ntestnode other;\nusermessage jumped;\n");
        f.seq.RunNodeByName("n");
        ASSERT_TRUE(f.RunToIdle(400));
        EXPECT_EQ(f.host.messages, V{c.jumps ? "jumped" : "stayed"}) << c.before << " / " << c.condition;
    }
}

TEST_F(Running, CallReturnsTheCalledNodesResultAndGoesOn) {
    Load(
        "testnode caller;\nget Pump Speed;\ncall callee;\nusermessage back;\n"
        "testnode callee;\ntest Pump Speed 0 1;\n");
    seq.RunNodeByName("caller");
    h.RunUntil([&] { return seq.CallDepth() == 1; }, 50);
    EXPECT_EQ(seq.CurrentNode()->name, "callee");
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(host.messages, V{"back"});
    EXPECT_EQ(seq.FindNode("caller")->result, FAILED);
    EXPECT_EQ(seq.CallDepth(), 0u);
    EXPECT_EQ(view.nodeBox, "caller FAILED");
    EXPECT_EQ(view.collapsed, V{"caller"});
}

TEST(Runner, UserInterventionStopsTheTimerAroundItsDialog) {
    for (const bool ok : {false, true}) {
        SequenceFixture f;
        f.host.answer = ok;
        f.Load("testnode n;\nuserintervention \"Check the valve.\";\nusermessage next;\n");
        f.seq.RunNodeByName("n");
        ASSERT_TRUE(f.RunToIdle(10));
        EXPECT_EQ(f.host.events,
                  (V{"stop", "confirm Check the valve.", "start", "stop", "message next", "start"}));
        EXPECT_EQ(f.seq.FindNode("n")->result, ok ? PASSED : FAILED);
    }
}

TEST_F(Running, ClicksChooseTheNodeOnlyWhileIdleAndRunStartsAtTheFirstAction) {
    Load("testnode a;\nusermessage one;\nusermessage two;\ntestnode b;\nwait 50;\nusermessage b-done;\n");
    seq.RunNode();  // no current node yet
    EXPECT_EQ(seq.State(), RunnerState::Idle);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_FALSE(seq.RunNodeByName("c"));

    seq.tvTestClick(view.Nth(3));  // "usermessage two"
    EXPECT_EQ(seq.CurrentNode(), seq.FindNode("a"));
    EXPECT_EQ(seq.CurrentAction()->label, "usermessage two");
    EXPECT_EQ(view.nodeBox, "a UNTESTED");
    EXPECT_EQ(view.actionBox, "usermessage two|UNTESTED|0");
    seq.tvTestClick(view.Nth(0));  // the root
    seq.tvTestClick(0);
    EXPECT_EQ(seq.CurrentAction()->label, "usermessage two");
    seq.RunNode();
    EXPECT_EQ(host.messages, V{"one"});
    ASSERT_TRUE(RunToIdle(10));
    EXPECT_EQ(host.messages, (V{"one", "two"}));

    seq.RunNodeByName("b");
    h.Run(10);
    seq.tvTestClick(view.Nth(1));
    EXPECT_EQ(seq.CurrentNode(), seq.FindNode("b"));
    EXPECT_LT(seq.WaitCount(), 45);
    seq.RunNode();  // restarts the node
    EXPECT_EQ(seq.WaitCount(), 49);
    ASSERT_TRUE(RunToIdle(100));
    EXPECT_EQ(host.messages, (V{"one", "two", "b-done"}));
}

TEST_F(Running, ANodeRepeatsItselfThroughIf) {
    Load("testnode loop;\nwait 2;\ntest Pump Speed 100 100;\nif nodefail loop;\nusermessage done;\n");
    const auto reads = [&] {
        return std::count_if(h.emu.Requests().begin(), h.emu.Requests().end(), [](const auto& s) {
            return s.packet.dest == 0x32 && s.packet.code == code::kRead && s.packet.data[0] == 1;
        });
    };
    seq.RunNodeByName("loop");
    ASSERT_TRUE(h.RunUntil(
        [&] {
            if (reads() == 3) EmuSpeed().word = 100;
            return seq.State() == RunnerState::Idle;
        },
        1000));
    EXPECT_EQ(reads(), 4);
    EXPECT_EQ(host.messages, V{"done"});
    EXPECT_EQ(seq.FindNode("loop")->result, PASSED);
}

TEST_F(Running, LoadFileAndSaveFileMoveTheWholeFile) {
    Load("testnode load;\nloadfile Pump Recipe;\nusermessage loaded;\n");
    seq.RunNodeByName("load");
    EXPECT_EQ(seq.State(), RunnerState::AwaitingTransfer);
    ASSERT_TRUE(h.RunUntil([&] { return !host.messages.empty(); }, 500));
    EXPECT_EQ(recipe->Operation(), TransferOp::None);
    EXPECT_EQ((std::vector<int>{recipe->ElementValue(0), recipe->ElementValue(1), recipe->ElementValue(2)}),
              (std::vector<int>{10, -20, 30}));

    Load(
        "testnode save;\nsetlocal Pump Recipe 1 77;\nsetlocal Pump Recipe 9 5;\nsetlocal Pump Recipe -1 5;\n"
        "savefile Pump Recipe;\nusermessage saved;\n");
    seq.RunNodeByName("save");
    ASSERT_TRUE(RunToIdle(500));
    EXPECT_EQ(host.messages, (V{"loaded", "saved"}));
    EXPECT_EQ(h.emu.FindDevice(0x32)->files[0].elements, (std::vector<std::int16_t>{10, 77, 30}));
    EXPECT_EQ(recipe->ElementValue(-1), 0);
    EXPECT_EQ(seq.FindNode("save")->actions[0]->result, UNTESTED);
}

TEST(Runner, OpenComReportsAFailedPort) {
    const struct {
        std::string arg;
        int hostResult;
        std::uint8_t node;
        std::vector<int> opened;
    } cases[] = {{"3", 3, PASSED, {3}},
                 {"3", 0, ERROR, {3}},
                 {"9", 0, ERROR, {9}},
                 {"COM3", 1, ERROR, {}},
                 {"0x3", 3, ERROR, {}}};
    for (const auto& c : cases) {
        SequenceFixture f;
        f.host.openResult = c.hostResult;
        f.Load("testnode n;\nopencom " + c.arg + ";\nclosecom " + c.arg + ";\n");
        f.seq.RunNodeByName("n");
        ASSERT_TRUE(f.RunToIdle(5));
        EXPECT_EQ(f.host.opened, c.opened) << c.arg;
        EXPECT_EQ(f.seq.FindNode("n")->result, c.node) << c.arg;
    }
}

TEST_F(Running, JumpsToMissingNodesFailTheNodeAndGoOn) {
    Load(
        "testnode n;\ncall nowhere;\nusermessage after-call;\nif nodeerror nowhere;\nusermessage after-if;\n"
        "resetnode;\n");
    seq.RunNodeByName("n");
    ASSERT_TRUE(RunToIdle(20));
    EXPECT_EQ(host.messages, (V{"after-call", "after-if"}));
    EXPECT_EQ(seq.CallDepth(), 0u);
    EXPECT_EQ(seq.FindNode("n")->result, PASSED);  // set back by resetnode
    EXPECT_EQ(view.nodeBox, "n PASSED");
}

TEST_F(Running, AStoreResetDuringADialogEndsTheRun) {
    Load("testnode n;\nusermessage first;\nusermessage second;\n");
    host.onMessage = [&] { seq.ResetStore(); };
    seq.RunNodeByName("n");
    EXPECT_EQ(seq.State(), RunnerState::Idle);
    h.Run(3);
    EXPECT_EQ(host.messages, V{"first"});
}

TEST_F(Running, RunAllRunsEveryNodeInOrder) {
    Load("testnode a;\nusermessage A;\ntestnode b;\ntestnode c;\nwait 1;\nusermessage C;\n");
    seq.RunAll();
    EXPECT_EQ(host.messages, V{"A"});
    ASSERT_TRUE(RunToIdle(10));
    EXPECT_EQ(host.messages, (V{"A", "C"}));
    EXPECT_EQ(view.collapsed, V{"c"});

    seq.RunNodeByName("b");  // no actions: done within the command
    EXPECT_EQ(seq.State(), RunnerState::Idle);
    EXPECT_EQ(view.nodeBox, "b UNTESTED");
    EXPECT_EQ(view.collapsed, (V{"c", "b"}));
}

TEST_F(Running, ARefusedElementReadFreesItsSlotForTheNext) {
    EmuFile(0).resize(1);  // the device holds element 0 only
    Load("testnode n;\nget Pump Recipe 1;\nget Pump Recipe 0;\n");
    seq.RunNodeByName("n");
    ASSERT_TRUE(RunToIdle(400));
    const auto& actions = seq.FindNode("n")->actions;
    EXPECT_EQ(actions[0]->result, ERROR);
    EXPECT_EQ(actions[1]->result, PASSED);
    EXPECT_EQ(ActualText(actions[1]->actualValue), "10");
}

// A running node ends only when the operator says so, and then with ERROR and its name in the log.
TEST_F(Running, ARunningNodeIsStoppedOnlyWhenTheOperatorAgrees) {
    Load("testnode run-in;\nset Pump Speed 900;\ncall hold;\nset Pump Speed 0;\ntestnode hold;\nwait 500;\n");
    EXPECT_TRUE(seq.ConfirmStop());  // nothing runs: nothing to ask
    EXPECT_TRUE(host.events.empty());
    seq.RunNodeByName("run-in");
    h.Run(20);
    ASSERT_EQ(seq.CurrentNode()->name, "hold");
    const std::string question = "ask 'run-in' is running. Stop it?\nIt has written Pump.Speed = 900.";
    host.yes = false;
    EXPECT_FALSE(seq.ConfirmStop());
    EXPECT_TRUE(seq.Running());
    EXPECT_EQ(host.events, (V{"stop", question, "start"}));
    // A file that defines autorun asks too, except while the configuration folders load.
    Load("testnode autorun;\nusermessage auto;\n", "auto.kts");
    EXPECT_EQ(host.events.at(4), question);
    EXPECT_EQ(seq.CurrentNode()->name, "hold");
    host.yes = true;
    EXPECT_TRUE(seq.ConfirmStop());
    EXPECT_FALSE(seq.Running());
    EXPECT_EQ(host.log, V{"Test node 'run-in' stopped; it wrote Pump.Speed = 900"});
    EXPECT_EQ(seq.FindNode("run-in")->result, ERROR);
    EXPECT_EQ(seq.FindNode("hold")->result, ERROR);
    EXPECT_EQ(seq.CallDepth(), 0u);
    h.Run(600);
    EXPECT_EQ(EmuSpeed().word, 900);  // nothing after the stop was carried out
    EXPECT_TRUE(host.messages.empty());
    // Without autorun on load, a file with such a node neither asks nor starts anything.
    seq.SetAutorunOnLoad(false);
    seq.RunNodeByName("hold");
    Load("testnode autorun;\nusermessage auto;\n", "auto2.kts");
    EXPECT_EQ(seq.CurrentNode()->name, "hold");
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(Running, ANodeThatCallsItselfEndsAtTheDepthLimit) {
    Load("testnode again;\ncall again;\n");
    seq.RunNodeByName("again");
    ASSERT_TRUE(RunToIdle(3 * static_cast<int>(TestSequence::kMaxCallDepth)));
    EXPECT_EQ(seq.CallDepth(), 0u);
    EXPECT_EQ(seq.FindNode("again")->result, ERROR);
    EXPECT_EQ(host.log, V{"Test node 'again' calls more than 1000 levels deep: run stopped"});
}

}  // namespace
}  // namespace korva

namespace korva {
namespace {

// While a node runs its item and the boxes say RUNNING; however the run ends, nothing goes on
// saying so: a called node returns, an operator stops, a bad action ends the run.
TEST(Runner, NothingSaysRunningOnceItsRunEnds) {
    const struct {
        const char* name;
        const char* text;
        std::function<void(SequenceFixture&)> end;
        const char* node;  // its result after the run
    } cases[] = {
        {"call", "testnode n;\ncall m;\nendnode;\ntestnode m;\nwait 2;\nendnode;\n",
         [](SequenceFixture& f) { ASSERT_TRUE(f.RunToIdle()); }, "PASSED"},
        {"stopped", "testnode n;\nwait 500;\nendnode;\n", [](SequenceFixture& f) { f.seq.Stop(); }, "ERROR"},
        {"bad action", "testnode n;\nwait 500;\nendnode;\n",
         [](SequenceFixture& f) {
             f.seq.FindNode("n")->actions.at(0)->kind = kEndNode;  // no action a file can hold
             f.seq.RunNodeByName("n");
             EXPECT_EQ(f.host.messages, std::vector<std::string>{TestSequence::kBadAction});
         },
         "PASSED"},
    };
    const auto running = [](const SequenceFixture& f) {
        std::vector<std::string> out;
        for (const auto& [id, item] : f.view.items)
            if (item.result.rfind("RUNNING", 0) == 0) out.push_back(item.text);
        for (const std::string& box : {f.view.nodeBox, f.view.actionBox})
            if (box.find("RUNNING") != std::string::npos) out.push_back(box);
        return out;
    };
    for (const auto& c : cases) {
        SequenceFixture f;
        f.Load(c.text);
        ASSERT_TRUE(f.seq.RunNodeByName("n")) << c.name;
        if (std::string(c.name) == "call") {
            ASSERT_TRUE(f.h.RunUntil([&] { return f.view.At(3).result == "RUNNING"; }, 50));
            EXPECT_EQ(f.view.At(1).result, "RUNNING");
            EXPECT_EQ(f.view.At(2).result, "RUNNING");  // the call runs until m returns
        } else {
            EXPECT_EQ(f.view.nodeBox, "n RUNNING") << c.name;
        }
        c.end(f);
        EXPECT_EQ(running(f), std::vector<std::string>{}) << c.name;
        EXPECT_EQ(f.view.At(1).result, c.node) << c.name;
    }
}

}  // namespace
}  // namespace korva
