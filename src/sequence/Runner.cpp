// The runner: one pass per communications tick, and one more for each run command.
#include "sequence/TestSequence.h"

#include "model/TextConvert.h"

#include <algorithm>

namespace korva {

namespace {
// Text that is not a whole number, and an empty value, read as 0.
std::int32_t AsNumber(const std::optional<std::string>& value) {
    if (!value) return 0;
    return ParseInt(*value).value_or(0);
}

std::int8_t AsIndex(const std::optional<std::string>& value) {
    return static_cast<std::int8_t>(AsNumber(value));
}

std::string AsText(const std::optional<std::string>& value) {
    return value.value_or("");
}

// Only type 4 is run as a file handle.
KFileLink* AsFileHandle(KRemoteLink* link) {
    return link->type == 4 ? dynamic_cast<KFileLink*>(link) : nullptr;
}

// A reply keeps 16 bits zero-extended in the word, which is read whole.
std::int32_t ReadValue(const KRemoteLink& link) {
    return link.current.kind == 1 ? link.current.byte : link.current.word;
}

// An index that the file's elements do not hold never reaches their storage.
bool InFile(const KFileLink& file, int index) {
    return index >= 0 && index < file.size && file.HasElement(index);
}

bool ConditionHolds(const std::string& condition, std::uint8_t result) {
    if (condition == "nodenotfail") return result == TestState::PASSED || result == TestState::UNTESTED;
    if (condition == "nodeerror") return result == TestState::ERROR;
    if (condition == "nodefail") return result == TestState::FAILED || result == TestState::ERROR;
    if (condition == "nodepass") return result == TestState::PASSED;
    return false;
}
}  // namespace

void TestSequence::Step(RunnerCommand command) {
    // A block sees the state that the blocks before it in this pass left.
    if (command == kRunAll && nodes_.Count() > 0) {
        runAll_ = true;
        state_ = RunnerState::StartingNode;
        nodeIndex_ = 0;
        currentNode_ = NodeAt(0);
    } else if (command == kRunNode && currentNode_ != nullptr) {
        nodeIndex_ = NodePosition(currentNode_->name);
        runAll_ = false;
        state_ = RunnerState::StartingNode;
    }

    if (state_ == RunnerState::StartingNode) {
        actionIndex_ = 0;
        if (currentNode_->actions.empty()) {
            state_ = RunnerState::NodeFinished;
        } else {
            currentAction_ = currentNode_->actions.front().get();
            SelectAction(currentAction_);
            if (currentAction_ != nullptr) ShowAction(*currentAction_);
            currentNode_->result = TestState::PASSED;
            state_ = RunnerState::Executing;
        }
    }

    if (state_ == RunnerState::Executing) Execute();

    if (state_ == RunnerState::CountingDown) {
        if (waitCount_ > kMaxWait) waitCount_ = kMaxWait;
        if (waitCount_ == 0)
            state_ = RunnerState::NextAction;
        else
            --waitCount_;
    }

    if (state_ == RunnerState::AwaitingTransfer) {
        const auto* file = dynamic_cast<const KFileLink*>(currentAction_->target);
        if (file == nullptr || file->transferOp == KFileLink::kOpNone) state_ = RunnerState::NextAction;
    }

    if (state_ == RunnerState::AwaitingReply) AwaitReply();
    if (state_ == RunnerState::NextAction) NextAction();
    if (state_ == RunnerState::NodeFinished) NodeFinished();
    if (state_ == RunnerState::Jumping) Jump();
    if (state_ == RunnerState::Finishing) state_ = RunnerState::Idle;
}

void TestSequence::Execute() {
    TestAction* action = currentAction_;
    if (action == nullptr || action->kind < 0 || action->kind > kResetNode || action->kind == kTestNode ||
        action->kind == kEndNode || action->kind == kDisplayTestNode) {
        BadAction();
        return;
    }
    _TestNode& node = *currentNode_;
    switch (action->kind) {
        case kGet:
        case kSet:
        case kTest:
        case kSetLocal:
        case kLoadFile:
        case kSaveFile:
            ExecuteDeviceAction(*action);
            return;
        case kUserIntervention: {
            const bool ok = ConfirmDialog(AsText(action->firstValue));
            // A dialog runs the window's event loop; a store reset there leaves nothing to go on with.
            if (currentNode_ == nullptr) return;
            if (!ok) currentNode_->result = TestState::FAILED;
            state_ = RunnerState::NextAction;
            return;
        }
        case kWait:
            // A negative count waits as long as 0.
            waitCount_ = std::max<std::int32_t>(0, AsNumber(action->firstValue));
            state_ = RunnerState::CountingDown;
            return;
        case kCall:
            callStack_.push_back(SaveContext());
            jumpName_ = AsText(action->firstValue);
            state_ = RunnerState::Jumping;
            return;
        case kUserMessage:
            MessageDialog(AsText(action->firstValue));
            if (currentNode_ == nullptr) return;
            state_ = RunnerState::NextAction;
            return;
        case kIf:
            // Conditions are compared exactly, letter case included.
            if (ConditionHolds(AsText(action->firstValue), node.result)) {
                jumpName_ = AsText(action->secondValue);
                state_ = RunnerState::Jumping;
            } else {
                state_ = RunnerState::NextAction;
            }
            return;
        case kOpenCom:
            if (const auto n = action->firstValue ? ParseInt(*action->firstValue) : std::nullopt)
                if (host_.OpenComPort(*n) == 0) node.result = TestState::ERROR;
            state_ = RunnerState::NextAction;
            return;
        case kResetNode:
            node.result = TestState::PASSED;
            state_ = RunnerState::NextAction;
            return;
        default:  // closecom
            state_ = RunnerState::NextAction;
            return;
    }
}

void TestSequence::ExecuteDeviceAction(TestAction& action) {
    _TestNode& node = *currentNode_;
    KRemoteLink* link = action.target;
    // Device actions that cannot be carried out end at once with the node in ERROR.
    const auto fail = [&] {
        node.result = TestState::ERROR;
        state_ = RunnerState::NextAction;
    };
    if (link == nullptr) return fail();
    KFileLink* file = AsFileHandle(link);
    const std::int8_t index = AsIndex(action.firstValue);
    const bool badIndex = file != nullptr && !InFile(*file, index);

    switch (action.kind) {
        case kGet:
        case kSet:
        case kTest:
            if (badIndex) {
                action.result = TestState::ERROR;
                return fail();
            }
            if (action.kind == kGet && file != nullptr)
                file->RequestElement(index);
            else if (action.kind == kSet && file != nullptr)
                file->WriteElement(index, AsNumber(action.secondValue));
            else if (action.kind == kSet)
                link->SetNewNumber(AsNumber(action.firstValue));
            else {
                if (file != nullptr) file->position = index;
                link->state = LinkState::GET;
            }
            state_ = RunnerState::AwaitingReply;
            return;
        case kSetLocal:
            // Only an element of a file changes; its result stays UNTESTED.
            if (file != nullptr && !badIndex) {
                file->SetElement(index, AsNumber(action.secondValue), file->ElementState(index));
                file->state = LinkState::UNKNOWN;
            }
            state_ = RunnerState::NextAction;
            return;
        default:  // loadfile, savefile
            if (file == nullptr) return fail();
            file->transferStep = 0;
            file->transferOp = action.kind == kLoadFile ? KFileLink::kOpLoad : KFileLink::kOpSave;
            state_ = RunnerState::AwaitingTransfer;
            return;
    }
}

void TestSequence::AwaitReply() {
    TestAction& action = *currentAction_;
    _TestNode& node = *currentNode_;
    const KRemoteLink& link = *action.target;
    if (link.state == LinkState::KNOWN) {
        if (action.kind == kSet) {
            action.result = TestState::PASSED;
            action.actualValue = AsText(action.firstValue);
        } else {
            const std::int32_t value = ReadValue(link);
            action.actualValue = value;
            bool pass = true;
            if (action.kind == kTest) {
                const std::int32_t second = AsNumber(action.secondValue);
                if (AsFileHandle(action.target) != nullptr)
                    pass = (value & 0xFFFF) == (second & 0xFFFF);
                else
                    pass = AsNumber(action.firstValue) <= value && value <= second;
            }
            action.result = pass ? TestState::PASSED : TestState::FAILED;
            if (!pass) node.result = TestState::FAILED;
        }
        state_ = RunnerState::NextAction;
    } else if (link.state == LinkState::ERROR) {
        action.result = TestState::ERROR;
        node.result = TestState::ERROR;
        state_ = RunnerState::NextAction;
    }
}

void TestSequence::NextAction() {
    const auto& actions = currentNode_->actions;
    if (static_cast<std::size_t>(actionIndex_) + 1 < actions.size()) {
        ++actionIndex_;
        currentAction_ = actions[static_cast<std::size_t>(actionIndex_)].get();
        SelectAction(currentAction_);
        state_ = RunnerState::Executing;
    } else if (callStack_.empty()) {
        state_ = RunnerState::NodeFinished;
    } else {
        // The caller takes over the called node's result.
        const std::uint8_t result = currentNode_->result;
        RestoreContext(callStack_.back());
        callStack_.pop_back();
        currentNode_->result = result;
        state_ = RunnerState::NextAction;
    }
}

void TestSequence::NodeFinished() {
    ShowNode();
    if (runAll_ && static_cast<std::size_t>(nodeIndex_) + 1 < nodes_.Count()) {
        ++nodeIndex_;
        currentNode_ = NodeAt(nodeIndex_);
        state_ = RunnerState::StartingNode;
    } else {
        state_ = RunnerState::Finishing;
        view_.SelectItem(currentNode_->treeItem);
        view_.CollapseSelected();
    }
}

void TestSequence::Jump() {
    ShowNode();
    if (_TestNode* target = FindNode(jumpName_)) {
        currentNode_ = target;
        nodeIndex_ = NodePosition(target->name);
        state_ = RunnerState::StartingNode;
        return;
    }
    // No such node: the jump ends as a failed action and the node goes on.
    currentNode_->result = TestState::ERROR;
    if (currentAction_ != nullptr && currentAction_->kind == kCall && !callStack_.empty())
        callStack_.pop_back();
    state_ = RunnerState::NextAction;
}

void TestSequence::BadAction() {
    MessageDialog(kBadAction);
    state_ = RunnerState::Idle;
}

void TestSequence::SelectAction(const TestAction* action) {
    if (action != nullptr) view_.SelectItem(action->treeItem);
}

bool TestSequence::ConfirmDialog(const std::string& text) {
    host_.StopTimer();
    const bool ok = host_.Confirm(text);
    host_.StartTimer();
    return ok;
}

void TestSequence::MessageDialog(const std::string& text) {
    host_.StopTimer();
    host_.Message(text);
    host_.StartTimer();
}

TestSequenceContext TestSequence::SaveContext() const {
    return {state_, runAll_, nodeIndex_, currentNode_, jumpName_, currentAction_, actionIndex_};
}

void TestSequence::RestoreContext(const TestSequenceContext& c) {
    state_ = c.state;
    runAll_ = c.runAll;
    nodeIndex_ = c.nodeIndex;
    currentNode_ = c.currentNode;
    jumpName_ = c.jumpName;
    currentAction_ = c.currentAction;
    actionIndex_ = c.actionIndex;
}

}  // namespace korva
