#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/Deadline.h"
#include "support/SequenceFakes.h"

namespace korva {
namespace {

class Loading : public ::testing::Test, public test::SequenceFixture {};

TEST_F(Loading, ActionsGetTheirLabelsValuesAndTargets) {
    const std::string twelve = "usermessage a b c d e f g h i j k l m n o p q r s t u v w x y z";
    const struct {
        std::string statement;
        std::string label;
        int kind;
        std::optional<std::string> first, second;
        std::string target;  // "" for none
    } cases[] = {
        {"get Pump Speed", "get Pump Speed", kGet, {}, {}, "Speed"},
        {"SET pump.SPEED 1500", "set pump SPEED 1500", kSet, "1500", {}, "Speed"},
        {"test Pump Speed 10 20 30 40", "test Pump Speed 10 20", kTest, "10", "20", "Speed"},
        {"setlocal Pump Recipe 2 \"-7\"", "setlocal Pump Recipe 2 -7", kSetLocal, "2", "-7", "Recipe"},
        {"get Pump", "Invalid Property Name", kGet, {}, {}, ""},
        {"loadfile", "Invalid Device Name", kLoadFile, {}, {}, ""},
        {"get Pumpe Speed 1", "Invalid Device Name", kGet, {}, {}, ""},
        {"usermessage", "usermessage ;", kUserMessage, ";", {}, ""},
        {"usermessage \"Hello, world.\"", "usermessage Hello, world.", kUserMessage, "Hello, world.", {}, ""},
        {"wait 12.5", "wait 12", kWait, "12", {}, ""},
        {"if nodefail other x", "if nodefail", kIf, "nodefail", "other", ""},
        {"if nodepass", "if nodepass", kIf, "nodepass", ";", ""},
        {"resetnode now", "resetnode", kResetNode, {}, {}, ""},
        {"opencom 3", "opencom 3", kOpenCom, "3", {}, ""},
        {twelve, "usermessage a", kUserMessage, "a", {}, ""},
    };
    for (const auto& c : cases) {
        seq.ResetStore();
        Load("testnode n;\n" + c.statement + ";\nwait 9;\n");
        const _TestNode* n = seq.FindNode("n");
        ASSERT_NE(n, nullptr) << c.statement;
        // The statement after it is read as a statement of its own.
        ASSERT_EQ(n->actions.size(), 2u) << c.statement;
        const TestAction& a = *n->actions[0];
        EXPECT_EQ(view.Lines(), (std::vector<std::string>{"n", "  " + c.label, "  wait 9"})) << c.statement;
        EXPECT_EQ(a.kind, c.kind) << c.statement;
        EXPECT_EQ(a.firstValue, c.first) << c.statement;
        EXPECT_EQ(a.secondValue, c.second) << c.statement;
        EXPECT_EQ(a.target ? a.target->name : "", c.target) << c.statement;
    }
}

TEST_F(Loading, NodesCollectActionsAndRedefinitionsKeepTheirPlace) {
    const auto display = Load(
        "get Pump Speed;\n"
        "testnode first;\nwait 1;\nendnode;\nwait 2;\n"
        "displaytestnode second; a comment\nusermessage hi;\n"
        "testnode;\nwait 3;\n"
        "displaytestnode FIRST;\nwait 4");  // neither ";" nor a line end after the last statement
    EXPECT_EQ(display, (std::vector<std::string>{"second", "FIRST"}));
    EXPECT_EQ(view.Lines(), (std::vector<std::string>{"first", "  wait 1", "second", "  usermessage hi", ";",
                                                      "  wait 3", "FIRST", "  wait 4"}));
    ASSERT_EQ(seq.NodeCount(), 3u);
    EXPECT_EQ(seq.NodeAt(0)->name, "FIRST");
    EXPECT_EQ(seq.NodeAt(0)->actions.at(0)->label, "wait 4");
    EXPECT_EQ(seq.NodePosition("First"), 0);
    EXPECT_EQ(seq.NodePosition("second"), 1);
    EXPECT_EQ(seq.NodePosition(";"), 2);
    EXPECT_EQ(seq.NodeAt(3), nullptr);

    // The replaced node's item still leads to the replaced node.
    seq.tvTestClick(view.Nth(1));
    EXPECT_EQ(seq.CurrentNode()->actions.at(0)->label, "wait 1");
    EXPECT_EQ(view.nodeBox, "first UNTESTED");

    // A later file starts without a current node.
    Load("wait 5;\ntestnode second;\n", "later.kts");
    EXPECT_EQ(seq.FindNode("second")->actions.size(), 0u);
    EXPECT_EQ(seq.NodeCount(), 3u);

    // The first file loaded again replaces its nodes, and a name it shared goes back to the other file.
    Load("testnode first;\nwait 6;\n");
    EXPECT_EQ(view.Lines(), (std::vector<std::string>{"second", "first", "  wait 6"}));
    ASSERT_EQ(seq.NodeCount(), 2u);
    EXPECT_EQ(seq.FindNode("second")->actions.size(), 0u);
    EXPECT_EQ(seq.FindNode("first")->actions.at(0)->label, "wait 6");
    EXPECT_EQ(seq.CurrentNode(), nullptr);
}

// A name that is no file, a folder, a pipe or a device loads nothing, at once.
TEST_F(Loading, PathsThatAreNoFilesLoadNothing) {
    dir.Write("sub/x.kts", "displaytestnode autorun;\nusermessage x;\n");
    const std::string pipe = dir.Path() + "/pipe.kts";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : {dir.Path() + "/missing.kts", dir.Path() + "/sub", std::string(".kts"),
                                    pipe, std::string("/dev/zero")}) {
        // Files, nodes, tree lines and messages, counted in the child that did the loading.
        EXPECT_EQ(
            test::InChild([&] {
                const std::size_t files = seq.LoadSequenceFile(path).size();
                return std::to_string(files + seq.NodeCount() + view.Lines().size() + host.messages.size());
            }),
            "0")
            << path;
    }
}

TEST_F(Loading, AutorunStartsOnEveryLoad) {
    Load("testnode AutoRun;\nusermessage started;\nwait 3;\n");
    EXPECT_EQ(host.messages, (std::vector<std::string>{"started"}));
    EXPECT_EQ(seq.State(), RunnerState::Executing);  // the wait comes on the next tick
    ASSERT_TRUE(RunToIdle(10));
    Load("testnode other;", "u.kts");
    EXPECT_EQ(host.messages, (std::vector<std::string>{"started", "started"}));
}

TEST_F(Loading, ReloadSortsEachFolderIgnoringCase) {
    Load("displaytestnode early;\n");
    dir.Write("config/standard/b.kts", "displaytestnode fromB;\n");
    dir.Write("config/standard/A.kts", "displaytestnode fromA1;\ndisplaytestnode fromA2;\ntestnode plain;\n");
    dir.Write("config/standard/a0.kts", "displaytestnode froma0;\n");
    dir.Write("config/standard/C.kts", "displaytestnode fromC;\n");
    dir.Write("config/tools/t.kts", "displaytestnode tool;\n");
    dir.Write("config/tools/sub/hidden.kts", "displaytestnode hidden;\n");
    const SequenceMenus m = seq.ReloadSequences(dir.Path());
    EXPECT_EQ(m.standard, (std::vector<std::string>{"fromA1", "fromA2", "froma0", "fromB", "fromC"}));
    EXPECT_TRUE(m.custom.empty());
    EXPECT_EQ(m.tools, (std::vector<std::string>{"tool"}));
    EXPECT_EQ(seq.FindNode("early"), nullptr);
    EXPECT_EQ(seq.NodeCount(), 7u);
    EXPECT_EQ(view.root, "Test Sequence");
    EXPECT_EQ(view.Lines().front(), "fromA1");

    const SequenceMenus none = seq.ReloadSequences(dir.Path() + "/nowhere");
    EXPECT_TRUE(none.standard.empty() && none.custom.empty() && none.tools.empty());
    EXPECT_EQ(seq.NodeCount(), 0u);
}

}  // namespace
}  // namespace korva
