// The runner: one pass per communications tick, and one more for each run command.
#include "sequence/TestSequence.h"

#include "model/TextConvert.h"

#include <algorithm>

namespace korva {

namespace {
// Where the value was checked before the action was carried out, this only reads it again.
std::int32_t AsNumber(const std::optional<std::string>& value) {
    if (!value) return 0;
    return ParseDecimal(*value).value_or(0);
}

// ERROR outranks FAILED, which outranks PASSED, which outranks a node that tested nothing.
int Rank(std::uint8_t result) {
    switch (result) {
        case TestState::ERROR:
            return 3;
        case TestState::FAILED:
            return 2;
        case TestState::PASSED:
            return 1;
        default:
            return 0;
    }
}

std::string AsText(const std::optional<std::string>& value) {
    return value.value_or("");
}

// A reply keeps 16 bits zero-extended in the word, which is read whole. A file's value is the
// element the action asked for: a late reply for another element must not stand in for it.
std::int32_t ReadValue(const KRemoteLink& link, int index) {
    if (const KFileLink* file = link.AsFile()) {
        if (index == KFileLink::kSize) return file->size;
        if (index == KFileLink::kChecksum) return static_cast<std::int32_t>(file->checksum);
        // The status element's value is only kept as the reply's value.
        if (index == KFileLink::kStatus) return file->current.ReadAsNumber();
        return file->ElementValue(index);
    }
    // An engineering value says how its register reads: signed or not.
    if (!link.Engineering().Plain()) return link.RawValue();
    return link.current.kind == PropertyType::Byte ? link.current.byte : link.current.word;
}

// What a property can be set to: the wire's range, or an engineering value's own (its register read
// as it says, within its Min and Max).
WireRange SetRange(const KRemoteLink& link) {
    if (link.Engineering().Plain()) return WireRangeOf(link.type);
    return {link.Engineering().RawMin(), link.Engineering().RawMax()};
}

std::string LinkName(const TestAction& action) {
    const KRemoteLink* link = action.target;
    if (link == nullptr) return "";
    return (link->device != nullptr ? link->device->name + "." : "") + link->name;
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
    const bool runAll = command == kRunAll && nodes_.Count() > 0;
    const bool runNode = command == kRunNode && ctx_.currentNode != nullptr;
    if (runAll) {
        ctx_.runAll = true;
        ctx_.state = RunnerState::StartingNode;
        ctx_.nodeIndex = 0;
        ctx_.currentNode = NodeAt(0);
    } else if (runNode) {
        ctx_.nodeIndex = NodePosition(ctx_.currentNode->name);
        ctx_.runAll = false;
        ctx_.state = RunnerState::StartingNode;
    }
    // A run command starts a run: what it writes and the verdict are gathered afresh.
    if (runAll || runNode) {
        writes_.clear();
        BeginRequest(ctx_.currentNode);
    }

    if (ctx_.state == RunnerState::StartingNode) {
        ctx_.actionIndex = 0;
        // A node that starts again is judged by this visit: repeating a node until it passes passes.
        ForgetOutcomes(*ctx_.currentNode);
        // A node that starts again shows this run's outcome, not the last one's.
        for (const auto& a : ctx_.currentNode->actions)
            if (a != nullptr && a->result != TestState::UNTESTED) {
                a->reason.clear();
                SetActionResult(*a, TestState::UNTESTED);
            }
        if (ctx_.currentNode->actions.empty()) {
            ctx_.state = RunnerState::NodeFinished;
        } else {
            ctx_.currentAction = ctx_.currentNode->actions.front().get();
            SelectAction(ctx_.currentAction);
            SetNodeResult(*ctx_.currentNode, TestState::PASSED);
            ctx_.state = RunnerState::Executing;
        }
    }

    if (ctx_.state == RunnerState::Executing) Execute();

    if (ctx_.state == RunnerState::CountingDown && command != kEvent) {
        if (waitCount_ > kMaxWait) waitCount_ = kMaxWait;
        if (waitCount_ == 0) {
            ctx_.state = RunnerState::NextAction;
        } else {
            --waitCount_;
            // The time left is redrawn each tenth of a second, not on every tick.
            if (waitCount_ % 10 == 0 && ctx_.currentAction != nullptr) ShowAction(*ctx_.currentAction);
        }
    }

    if (ctx_.state == RunnerState::AwaitingTransfer) {
        const KFileLink* file = ctx_.currentAction->target ? ctx_.currentAction->target->AsFile() : nullptr;
        if (file == nullptr || file->Operation() == TransferOp::None) {
            // A transfer asks again until it is done, so one that ends has moved the whole file.
            SetActionResult(*ctx_.currentAction, TestState::PASSED);
            ctx_.state = RunnerState::NextAction;
        }
    }

    if (ctx_.state == RunnerState::AwaitingReply) AwaitReply();
    if (ctx_.state == RunnerState::NextAction) NextAction();
    if (ctx_.state == RunnerState::NodeFinished) NodeFinished();
    if (ctx_.state == RunnerState::Jumping) Jump();
    if (ctx_.state == RunnerState::Finishing) ctx_.state = RunnerState::Idle;
}

void TestSequence::Resume() {
    if (ctx_.state != RunnerState::AwaitingReply && ctx_.state != RunnerState::AwaitingTransfer) return;
    // Go on until the run waits again (for a reply, a transfer, a wait or the operator) or ends; a
    // node that loops without waiting is left to the ticks after a few passes.
    for (int pass = 0; pass < kEventPasses && ctx_.state != RunnerState::Idle; ++pass) {
        Step(kEvent);
        const RunnerState s = ctx_.state;
        if (s == RunnerState::AwaitingReply || s == RunnerState::AwaitingTransfer ||
            s == RunnerState::CountingDown)
            break;
    }
}

void TestSequence::Execute() {
    TestAction* action = ctx_.currentAction;
    if (action == nullptr || action->kind < 0 || action->kind > kResetNode || action->kind == kTestNode ||
        action->kind == kEndNode || action->kind == kDisplayTestNode) {
        BadAction();
        return;
    }
    // The boxes follow the run: the action about to be carried out is the one shown.
    view_.ShowRunning(action->item, kRunningText);
    ShowAction(*action);
    _TestNode& node = *ctx_.currentNode;
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
            if (ctx_.currentNode == nullptr || ctx_.state != RunnerState::Executing) return;
            if (ok)
                SetActionResult(*action, TestState::PASSED);
            else
                EndAction(*action, TestState::FAILED, "cancelled by the operator");
            ctx_.state = RunnerState::NextAction;
            return;
        }
        case kWait: {
            std::int32_t ticks = 0;
            if (!ReadNumber(*action, action->firstValue, ticks)) {
                ctx_.state = RunnerState::NextAction;
                return;
            }
            // A negative count waits as long as 0.
            waitCount_ = std::max<std::int32_t>(0, ticks);
            ctx_.state = RunnerState::CountingDown;
            ShowAction(*action);
            return;
        }
        case kCall:
            if (callStack_.size() >= kMaxCallDepth) {
                action->reason = "calls more than " + std::to_string(kMaxCallDepth) + " levels deep";
                SetActionResult(*action, TestState::ERROR);
                EndRun("Test node '" + node.name + "' " + action->reason + ": run stopped");
                return;
            }
            callStack_.push_back(ctx_);
            ctx_.jumpName = AsText(action->firstValue);
            ctx_.state = RunnerState::Jumping;
            return;
        case kUserMessage:
            MessageDialog(AsText(action->firstValue));
            if (ctx_.currentNode == nullptr || ctx_.state != RunnerState::Executing) return;
            ctx_.state = RunnerState::NextAction;
            return;
        case kIf:
            // Conditions are compared exactly, letter case included.
            if (ConditionHolds(AsText(action->firstValue), node.result)) {
                ctx_.jumpName = AsText(action->secondValue);
                ctx_.state = RunnerState::Jumping;
            } else {
                ctx_.state = RunnerState::NextAction;
            }
            return;
        case kOpenCom: {
            // A port number that is no decimal whole number opens nothing: the run would go on
            // against a port it never named.
            std::int32_t n = 0;
            if (ReadNumber(*action, action->firstValue, n)) {
                if (host_.OpenComPort(n) == 0)
                    EndAction(*action, TestState::ERROR, "cannot open COM" + std::to_string(n));
                else
                    SetActionResult(*action, TestState::PASSED);
            }
            ctx_.state = RunnerState::NextAction;
            return;
        }
        case kResetNode:
            ForgetOutcomes(node);
            SetNodeResult(node, TestState::PASSED);
            ctx_.state = RunnerState::NextAction;
            return;
        default:  // closecom
            ctx_.state = RunnerState::NextAction;
            return;
    }
}

bool TestSequence::ReadNumber(TestAction& action, const std::optional<std::string>& value,
                              std::int32_t& out) {
    out = 0;
    if (!value) return true;
    const auto n = ParseDecimal(*value);
    // A text read as 0 would write or compare a value the sequence never named; "0x10" is no
    // decimal number either, and must not be taken as 16.
    if (!n) {
        EndAction(action, TestState::ERROR, "'" + *value + "' is not a whole number");
        return false;
    }
    out = *n;
    return true;
}

void TestSequence::ExecuteDeviceAction(TestAction& action) {
    KRemoteLink* link = action.target;
    // Device actions that cannot be carried out end at once with the node in ERROR.
    const auto fail = [&](const std::string& why) {
        if (!why.empty()) EndAction(action, TestState::ERROR, why);
        ctx_.state = RunnerState::NextAction;
    };
    if (link == nullptr)
        return fail(action.missing.empty() ? "no device or property to act on" : action.missing);
    KFileLink* file = link->AsFile();
    if (action.kind == kLoadFile || action.kind == kSaveFile) {
        if (file == nullptr) return fail(LinkName(action) + " is not a file");
        if (action.kind == kSaveFile) writes_.push_back(LinkName(action) + " (the whole file)");
        file->StartTransfer(action.kind == kLoadFile ? TransferOp::Load : TransferOp::Save);
        ctx_.state = RunnerState::AwaitingTransfer;
        return;
    }

    // Every number the action needs is checked before anything changes: a file's index and value,
    // a property's new value, the limits of a test.
    const bool needsFirst = file != nullptr || action.kind == kSet || action.kind == kTest;
    const bool needsSecond = (file != nullptr && action.kind != kGet) || action.kind == kTest;
    std::int32_t first = 0, second = 0;
    if ((needsFirst && !ReadNumber(action, action.firstValue, first)) ||
        (needsSecond && !ReadNumber(action, action.secondValue, second)))
        return fail({});

    const auto outside = [&](bool write) {
        fail("element " + std::to_string(first) + " is outside the file (" +
             (write ? "0" : std::to_string(KFileLink::kStatus)) + " to " + std::to_string(file->size - 1) +
             ")");
    };
    const auto range = [](WireRange r) {
        return " (" + std::to_string(r.min) + " to " + std::to_string(r.max) + ")";
    };
    askedIndex_ = first;
    switch (action.kind) {
        case kGet:
        case kTest:
            if (file == nullptr)
                link->RequestRead();
            else if (!file->ReadElement(first))
                return outside(false);
            ctx_.state = RunnerState::AwaitingReply;
            return;
        case kSet:
            if (file == nullptr) {
                // Cut to its low bits, the number would reach the device as another one.
                if (!SetRange(*link).Holds(first))
                    return fail(std::to_string(first) + " is outside what the property can carry" +
                                range(SetRange(*link)));
                link->SetNewNumber(first);
                writes_.push_back(LinkName(action) + " = " + std::to_string(first));
            } else if (const ElementFault fault = file->WriteElement(first, second);
                       fault != ElementFault::None) {
                if (fault == ElementFault::OutsideFile) return outside(true);
                return fail(std::to_string(second) + " does not fit an element of this file" +
                            range(file->ElementRange()));
            } else {
                writes_.push_back(LinkName(action) + "[" + std::to_string(first) +
                                  "] = " + std::to_string(second));
            }
            ctx_.state = RunnerState::AwaitingReply;
            return;
        default:  // setlocal: only an element of a file changes
            if (file != nullptr && !file->StoreElement(first, second)) return outside(true);
            ctx_.state = RunnerState::NextAction;
            return;
    }
}

void TestSequence::AwaitReply() {
    TestAction& action = *ctx_.currentAction;
    const KRemoteLink& link = *action.target;
    if (link.state == LinkState::KNOWN) {
        const bool isFile = link.IsFileHandle();
        if (action.kind == kSet) {
            // The value written: a file's element value stands after its index.
            action.actualValue = AsText(isFile ? action.secondValue : action.firstValue);
            SetActionResult(action, TestState::PASSED);
        } else {
            const std::int32_t value = ReadValue(link, askedIndex_);
            action.actualValue = value;
            bool pass = true;
            if (action.kind == kTest) {
                const std::int32_t second = AsNumber(action.secondValue);
                if (isFile)
                    pass = (value & 0xFFFF) == (second & 0xFFFF);
                else
                    pass = AsNumber(action.firstValue) <= value && value <= second;
            }
            if (pass)
                SetActionResult(action, TestState::PASSED);
            else
                EndAction(action, TestState::FAILED);
        }
        ctx_.state = RunnerState::NextAction;
    } else if (link.state == LinkState::ERROR) {
        const std::string why = LinkFaultText(link);
        EndAction(action, TestState::ERROR, why.empty() ? "the device did not answer as asked" : why);
        ctx_.state = RunnerState::NextAction;
    }
}

void TestSequence::NextAction() {
    SettleAction(ctx_.currentAction);
    const auto& actions = ctx_.currentNode->actions;
    if (static_cast<std::size_t>(ctx_.actionIndex) + 1 < actions.size()) {
        ++ctx_.actionIndex;
        ctx_.currentAction = actions[static_cast<std::size_t>(ctx_.actionIndex)].get();
        SelectAction(ctx_.currentAction);
        ctx_.state = RunnerState::Executing;
    } else if (callStack_.empty()) {
        ctx_.state = RunnerState::NodeFinished;
    } else {
        // The caller takes over the called node's result.
        const std::uint8_t result = ctx_.currentNode->result;
        const _TestNode* called = ctx_.currentNode;
        ctx_ = callStack_.back();
        callStack_.pop_back();
        ShowNodeItem(*called);
        SetNodeResult(*ctx_.currentNode, result);
        ctx_.state = RunnerState::NextAction;
    }
}

void TestSequence::NodeFinished() {
    ShowNode();
    EndRequest();
    if (ctx_.runAll && static_cast<std::size_t>(ctx_.nodeIndex) + 1 < nodes_.Count()) {
        ++ctx_.nodeIndex;
        ctx_.currentNode = NodeAt(ctx_.nodeIndex);
        BeginRequest(ctx_.currentNode);
        ctx_.state = RunnerState::StartingNode;
    } else {
        ctx_.state = RunnerState::Finishing;
        view_.SelectItem(ctx_.currentNode->item);
        view_.CollapseSelected();
    }
}

void TestSequence::BeginRequest(_TestNode* node) {
    requested_ = node;
    verdict_ = TestState::UNTESTED;
    reached_.clear();
    worst_.clear();
    if (node != nullptr && onRequestBegan) onRequestBegan(*node);
}

void TestSequence::EndRequest() {
    if (requested_ == nullptr) return;
    _TestNode& node = *requested_;
    requested_ = nullptr;
    // Each node counts with the worst it met since it last started: a call that returns PASSED
    // overwrites a caller's FAILED, but does not undo it.
    verdict_ = TestState::UNTESTED;
    for (const std::uint8_t worst : worst_)
        if (Rank(worst) > Rank(verdict_)) verdict_ = worst;
    // The nodes it went through say their results again; the requested one gives the verdict,
    // whichever node the run ended in.
    for (const _TestNode* reached : reached_)
        if (reached != &node) view_.ShowResult(reached->item, reached->result);
    node.result = verdict_;
    view_.ShowResult(node.item, verdict_);
    view_.ShowNode(node.name, TestStateName(verdict_));
    if (onRequestEnded) onRequestEnded(node, verdict_);
}

void TestSequence::ForgetOutcomes(const _TestNode& node) {
    const auto at = std::find(reached_.begin(), reached_.end(), &node);
    if (at == reached_.end()) {
        reached_.push_back(&node);
        worst_.push_back(TestState::UNTESTED);
    } else {
        worst_[static_cast<std::size_t>(at - reached_.begin())] = TestState::UNTESTED;
    }
}

void TestSequence::Jump() {
    ShowNode();
    if (_TestNode* target = FindNode(ctx_.jumpName)) {
        _TestNode* left = ctx_.currentNode;
        // A call's action runs on until the called node returns; an "if" is done.
        if (ctx_.currentAction != nullptr && ctx_.currentAction->kind != kCall)
            SettleAction(ctx_.currentAction);
        ctx_.currentNode = target;
        ctx_.nodeIndex = NodePosition(target->name);
        ctx_.state = RunnerState::StartingNode;
        if (left != nullptr && left != target) ShowNodeItem(*left);
        return;
    }
    // No such node: the jump ends as a failed action and the node goes on.
    if (ctx_.currentAction != nullptr) {
        EndAction(*ctx_.currentAction, TestState::ERROR, "no test node '" + ctx_.jumpName + "'");
    } else {
        SetNodeResult(*ctx_.currentNode, TestState::ERROR);
    }
    if (ctx_.currentAction != nullptr && ctx_.currentAction->kind == kCall && !callStack_.empty())
        callStack_.pop_back();
    ctx_.state = RunnerState::NextAction;
}

void TestSequence::BadAction() {
    MessageDialog(kBadAction);
    ctx_.state = RunnerState::Idle;
    // Nothing is under way any more.
    SettleAction(ctx_.currentAction);
    for (const TestSequenceContext& c : callStack_)
        if (c.currentNode != nullptr) ShowNodeItem(*c.currentNode);
    if (ctx_.currentNode != nullptr) ShowNodeItem(*ctx_.currentNode);
    ShowNode();
}

void TestSequence::EndAction(TestAction& action, std::uint8_t result, const std::string& reason) {
    action.reason = reason;
    if (!reason.empty()) host_.AddLogLine(action.label + ": " + reason);
    SetActionResult(action, result);
    if (ctx_.currentNode != nullptr) SetNodeResult(*ctx_.currentNode, result);
}

void TestSequence::SetActionResult(TestAction& action, std::uint8_t result) {
    action.result = result;
    view_.ShowResult(action.item, result);
    if (&action == ctx_.currentAction) ShowAction(action);
}

void TestSequence::SetNodeResult(_TestNode& node, std::uint8_t result) {
    node.result = result;
    if (requested_ != nullptr) {
        const auto at = std::find(reached_.begin(), reached_.end(), &node);
        if (at != reached_.end()) {
            std::uint8_t& worst = worst_[static_cast<std::size_t>(at - reached_.begin())];
            if (Rank(result) > Rank(worst)) worst = result;
        }
    }
    ShowNodeItem(node);
    if (&node == ctx_.currentNode) ShowNode();
}

const _TestNode* TestSequence::RunningNode() const {
    if (!Running()) return nullptr;
    return callStack_.empty() ? ctx_.currentNode : callStack_.front().currentNode;
}

void TestSequence::EndRun(const std::string& logLine) {
    host_.AddLogLine(logLine);
    // Every node on the way down is left unfinished.
    for (const TestSequenceContext& c : callStack_)
        if (c.currentNode != nullptr) SetNodeResult(*c.currentNode, TestState::ERROR);
    callStack_.clear();
    if (ctx_.currentNode != nullptr) SetNodeResult(*ctx_.currentNode, TestState::ERROR);
    EndRequest();
    ctx_.state = RunnerState::Idle;
}

namespace {
std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}
}  // namespace

void TestSequence::Stop(const std::string& why) {
    const _TestNode* running = RunningNode();
    if (running == nullptr) return;
    // A transfer that the node started ends with it.
    if (ctx_.state == RunnerState::AwaitingTransfer && ctx_.currentAction != nullptr &&
        ctx_.currentAction->target != nullptr)
        if (KFileLink* file = ctx_.currentAction->target->AsFile()) file->CancelTransfer();
    // The action under way never got its outcome: it ends ERROR with the reason.
    if (ctx_.currentAction != nullptr &&
        (ctx_.state == RunnerState::AwaitingReply || ctx_.state == RunnerState::AwaitingTransfer ||
         ctx_.state == RunnerState::CountingDown || ctx_.state == RunnerState::Executing)) {
        ctx_.currentAction->reason = why;
        SetActionResult(*ctx_.currentAction, TestState::ERROR);
    }
    // What the node changed on the devices stays changed: the operator must know what.
    EndRun("Test node '" + running->name + "' stopped" +
           (writes_.empty() ? "" : "; it wrote " + Joined(writes_)));
}

bool TestSequence::ConfirmStop() {
    const _TestNode* running = RunningNode();
    if (running == nullptr) return true;
    host_.StopTimer();
    const std::string wrote = writes_.empty() ? "" : "\nIt has written " + Joined(writes_) + ".";
    const bool yes = host_.AskYesNo("'" + running->name + "' is running. Stop it?" + wrote);
    host_.StartTimer();
    // The dialog ran the event loop: the run may have ended meanwhile.
    if (yes) Stop();
    return yes;
}

void TestSequence::SelectAction(const TestAction* action) {
    if (action != nullptr) view_.SelectItem(action->item);
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

}  // namespace korva
