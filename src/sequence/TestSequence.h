#pragma once
// The test sequence store and its runner: nodes and actions loaded from sequence files,
// shown in the test tree, and carried out one action per communications tick.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <functional>
#include <vector>

#include "model/Enums.h"
#include "model/Kobjects.h"
#include "model/TStringMap.h"

namespace korva {

struct _TestNode;
struct TestAction;
class TokenReader;

// The store names every node and action to the view by a number of its own; 0 names nothing.
using ItemId = std::uint32_t;

// The test tree and the status boxes of the scripting page.
class SequenceView {
  public:
    virtual ~SequenceView() = default;
    // Empties the tree and adds the root item with this text.
    virtual void ResetTree(const std::string& rootText) = 0;
    virtual void AddNodeItem(ItemId id, const std::string& text) = 0;
    virtual void AddActionItem(ItemId nodeId, ItemId id, const std::string& label) = 0;
    virtual void SelectItem(ItemId id) = 0;
    virtual void CollapseSelected() = 0;
    virtual void ShowNode(const std::string& itemText, const std::string& status) = 0;
    virtual void ShowAction(const std::string& label, const std::string& status,
                            const std::string& actualValue) = 0;
    // The last result of a node or an action, drawn on its item.
    virtual void ShowResult(ItemId id, std::uint8_t result) = 0;
    // A node or action under way: its item says so ("RUNNING") instead of a result it has not got.
    virtual void ShowRunning(ItemId /*id*/, const std::string& /*text*/) {}
};

// What the boxes and the tree say of a node or action under way, and of a wait with its time left.
inline constexpr const char* kRunningText = "RUNNING";
std::string RunningText(std::int32_t waitTicksLeft);

// What the runner needs of the application.
class RunnerHost {
  public:
    virtual ~RunnerHost() = default;
    // Modal, OK and Cancel; true for OK.
    virtual bool Confirm(const std::string& text) = 0;
    // Modal, OK only.
    virtual void Message(const std::string& text) = 0;
    // Modal, Yes and No; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    // One line in the log pane.
    virtual void AddLogLine(const std::string& line) = 0;
    virtual void StopTimer() = 0;
    virtual void StartTimer() = 0;
    // Opens COMn; n on success, 0 on failure and for any n the host does not offer.
    virtual int OpenComPort(int n) = 0;
};

// The position of a keyword in the keyword table is the action kind.
enum ActionKind : int {
    kGet = 0,
    kSet = 1,
    kTest = 2,
    kSetLocal = 3,
    kLoadFile = 4,
    kSaveFile = 5,
    kUserIntervention = 6,
    kWait = 7,
    kTestNode = 8,
    kEndNode = 9,
    kDisplayTestNode = 10,
    kCall = 11,
    kUserMessage = 12,
    kIf = 13,
    kOpenCom = 14,
    kCloseCom = 15,
    kResetNode = 16,
};
inline constexpr std::array<std::string_view, 17> kKeywords = {
    "get",     "set",      "test",     "setlocal",        "loadfile", "savefile",    "userintervention",
    "wait",    "testnode", "endnode",  "displaytestnode", "call",     "usermessage", "if",
    "opencom", "closecom", "resetnode"};
// The kind of a keyword, letter case ignored; -1 for any other word.
int KeywordKind(std::string_view token);

enum class RunnerState : std::uint8_t {
    Idle = 0,
    StartingNode = 1,
    NodeFinished = 2,
    Executing = 3,
    CountingDown = 4,
    AwaitingReply = 5,
    AwaitingTransfer = 6,
    NextAction = 8,
    Finishing = 9,
    Jumping = 10,
};

// What step is asked to do besides its regular pass. kEvent: a pass between ticks, which counts no
// wait down.
enum RunnerCommand : int { kTick = 0, kEvent = 1, kRunAll = 21, kRunNode = 22 };

using ActualValue = std::variant<std::int32_t, std::string>;
std::string ActualText(const ActualValue& v);

struct TestAction {
    std::uint8_t result = TestState::UNTESTED;
    KRemoteLink* target = nullptr;  // device actions whose device and link were found
    _TestNode* node = nullptr;
    ItemId item = 0;
    int kind = 0;
    std::optional<std::string> firstValue;
    std::optional<std::string> secondValue;
    ActualValue actualValue = std::int32_t{0};
    std::string label;  // the tree item's text
    // Why the action last ended ERROR (or was refused by the operator); empty when it did not.
    std::string reason;
    // What loading could not find for a device action: "unknown device 'X'".
    std::string missing;
};
// The raw value, and beside it the shown value of an engineering property: "650 (65.0 °C)".
std::string ActualText(const TestAction& action);

struct _TestNode {
    std::string name;
    std::string file;  // the sequence file it was read from, as named when loaded
    ItemId item = 0;
    // The node owns its actions; an empty place is reported when the runner reaches it.
    std::vector<std::unique_ptr<TestAction>> actions;
    std::uint8_t result = TestState::UNTESTED;
};

// The members that "call" saves and the end of the called node restores.
struct TestSequenceContext {
    RunnerState state = RunnerState::Idle;
    bool runAll = false;
    std::int32_t nodeIndex = 0;
    _TestNode* currentNode = nullptr;
    std::string jumpName;
    TestAction* currentAction = nullptr;
    std::int32_t actionIndex = 0;
};

// Display lists of the three configuration folders, each in load order.
struct SequenceMenus {
    std::vector<std::string> standard;
    std::vector<std::string> custom;
    std::vector<std::string> tools;
};

class TestSequence {
  public:
    static constexpr const char* kRootText = "Test Sequence";
    static constexpr const char* kBadAction = "Bad action definition";
    static constexpr const char* kInvalidDevice = "Invalid Device Name";
    static constexpr const char* kInvalidProperty = "Invalid Property Name";
    static constexpr std::int32_t kMaxWait = 10000;
    // A node that calls itself would otherwise grow the call stack for as long as it runs.
    static constexpr std::size_t kMaxCallDepth = 1000;
    // Passes a reply may drive the run on between ticks.
    static constexpr int kEventPasses = 16;

    TestSequence(const KModel& model, SequenceView& view, RunnerHost& host);
    TestSequence(const TestSequence&) = delete;
    TestSequence& operator=(const TestSequence&) = delete;

    // Empties the tree and the node list and stops the runner; every node is freed.
    void ResetStore();
    // Reads one file into the store; returns the names declared with "displaytestnode", in
    // file order. A path that cannot be opened as a file loads nothing.
    std::vector<std::string> LoadSequenceFile(const std::filesystem::path& path);
    // Resets the store and loads config/standard, config/custom and config/tools below workDir.
    SequenceMenus ReloadSequences(const std::filesystem::path& workDir);
    // A console run chooses its nodes itself: loading a file then starts no "autorun" node.
    void SetAutorunOnLoad(bool on) { autorunOnLoad_ = on; }

    _TestNode* FindNode(const std::string& name) const { return nodes_.Find(name); }
    int NodePosition(const std::string& name) const { return nodes_.IndexOf(name); }
    _TestNode* NodeAt(int position) const;
    std::size_t NodeCount() const { return nodes_.Count(); }

    // The runner.
    void Step(RunnerCommand command);
    void RunNode() { Step(kRunNode); }
    // A reply or the end of a transfer may have come between ticks: what waited for it ends now,
    // and the next action is carried out at once.
    void Resume();
    void RunAll() { Step(kRunAll); }
    // False, and nothing happens, when no node has that name.
    bool RunNodeByName(const std::string& name);
    // The selected item of the test tree; refused while a run is in progress.
    void tvTestClick(ItemId selected);

    bool Running() const { return ctx_.state != RunnerState::Idle; }
    // The node the operator started: the caller at the bottom of the call stack.
    const _TestNode* RunningNode() const;
    // Ends the run at once: the running node ends ERROR, the log pane names it and what it wrote.
    // why: the reason the action under way is given.
    void Stop(const std::string& why = kStoppedByOperator);
    static constexpr const char* kStoppedByOperator = "stopped by the operator";
    // Nothing runs, or the operator agreed to stop what does; false leaves the run going.
    bool ConfirmStop();

    RunnerState State() const { return ctx_.state; }
    _TestNode* CurrentNode() const { return ctx_.currentNode; }
    TestAction* CurrentAction() const { return ctx_.currentAction; }
    std::int32_t WaitCount() const { return waitCount_; }
    std::size_t CallDepth() const { return callStack_.size(); }

    // The verdict of the node a run command started: the worst result of every node the run went
    // through on its behalf (by "if" or "call"), so that a jump away from a failure never reads as
    // a pass. Each node counts with the worst it met since it last started. Set when the run ends.
    std::uint8_t Verdict() const { return verdict_; }
    // The nodes the run went through for the node it started, that one first, each once.
    const std::vector<const _TestNode*>& ReachedNodes() const { return reached_; }
    // The writes the run has carried out since it started, as "Device.Property = value".
    const std::vector<std::string>& WritesMade() const { return writes_; }

    // Told when a node a run command started begins, and when it ends with its verdict: the
    // window keeps each such run in the results store.
    std::function<void(const _TestNode&)> onRequestBegan;
    std::function<void(const _TestNode&, std::uint8_t verdict)> onRequestEnded;

  private:
    void ReadStatements(TokenReader& reader, const std::string& file, std::vector<std::string>& displayList);
    // A file loaded again replaces its nodes: the old ones go, and the tree is drawn again.
    void ForgetFile(const std::string& file);
    void AddAction(_TestNode& node, int kind, const std::vector<std::string>& args);
    void BuildDeviceAction(TestAction& action, const std::vector<std::string>& args);

    // Runner blocks.
    void Execute();
    void ExecuteDeviceAction(TestAction& action);
    void AwaitReply();
    void NextAction();
    void NodeFinished();
    void Jump();
    void BadAction();
    // Ends the current action with a result, and the node with it unless it passed. A reason is
    // kept on the action and written to the log pane.
    void EndAction(TestAction& action, std::uint8_t result, const std::string& reason = {});
    // The run command's node: what its verdict is gathered for.
    void BeginRequest(_TestNode* node);
    // The verdict becomes the requested node's result and is shown.
    void EndRequest();
    // The node starts afresh: what it met before no longer counts against the verdict.
    void ForgetOutcomes(const _TestNode& node);
    void SetActionResult(TestAction& action, std::uint8_t result);
    void SetNodeResult(_TestNode& node, std::uint8_t result);
    // A value the action needs as a whole number; a missing one reads as 0, other text is refused
    // with a line in the log pane.
    bool ReadNumber(TestAction& action, const std::optional<std::string>& value, std::int32_t& out);
    void EndRun(const std::string& logLine);
    void ShowNode();
    void ShowAction(const TestAction& action);
    // The node is under way: the one running or one that called it.
    bool Active(const _TestNode& node) const;
    // The node's item: "RUNNING" while it is under way, its result otherwise.
    void ShowNodeItem(const _TestNode& node);
    // An action that ends without a result of its own no longer says it runs.
    void SettleAction(const TestAction* action);
    void SelectAction(const TestAction* action);
    // The communications timer is stopped while a dialog is open.
    bool ConfirmDialog(const std::string& text);
    void MessageDialog(const std::string& text);

    const KModel& model_;
    SequenceView& view_;
    RunnerHost& host_;

    TStringMap<_TestNode> nodes_;
    std::vector<std::unique_ptr<_TestNode>> ownedNodes_;  // every node loaded since the reset
    ItemId lastId_ = 0;  // never reused, so a stale number from the view finds nothing

    TestSequenceContext ctx_;  // what "call" saves and the end of the called node restores
    std::int32_t waitCount_ = 0;
    std::vector<TestSequenceContext> callStack_;
    _TestNode* requested_ = nullptr;
    std::uint8_t verdict_ = TestState::UNTESTED;
    std::vector<const _TestNode*> reached_;
    std::vector<std::uint8_t> worst_;  // of each reached node, since it last started
    std::vector<std::string> writes_;
    std::int32_t askedIndex_ = 0;  // the element a file action asked for
    // While the configuration folders load, each autorun restarts the last without asking.
    bool reloading_ = false;
    bool autorunOnLoad_ = true;
};

}  // namespace korva
