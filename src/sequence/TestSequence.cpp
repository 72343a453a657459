#include "sequence/TestSequence.h"

#include "model/TextConvert.h"
#include "sequence/TokenReader.h"
#include "xml/SafeFile.h"

#include <algorithm>
#include <new>
#include <iterator>
#include <system_error>

namespace korva {

namespace fs = std::filesystem;

namespace {
// Ten entries: nine arguments and the closing ";".
constexpr std::size_t kMaxArguments = 9;

std::optional<std::string> Entry(const std::vector<std::string>& args, std::size_t i) {
    if (i < args.size()) return args[i];
    return std::nullopt;
}

std::string Keyword(int kind) {
    return std::string(kKeywords[static_cast<std::size_t>(kind)]);
}
}  // namespace

int KeywordKind(std::string_view token) {
    for (std::size_t i = 0; i < kKeywords.size(); ++i)
        if (SameIgnoringCase(token, kKeywords[i])) return static_cast<int>(i);
    return -1;
}

std::string ActualText(const ActualValue& v) {
    if (const auto* n = std::get_if<std::int32_t>(&v)) return std::to_string(*n);
    return std::get<std::string>(v);
}

std::string ActualText(const TestAction& action) {
    const std::string raw = ActualText(action.actualValue);
    const KRemoteLink* link = action.target;
    // An action in ERROR read nothing: a shown value would only mislead.
    if (link == nullptr || link->IsFileHandle() || link->Engineering().Plain() ||
        action.result == TestState::ERROR)
        return raw;
    const auto* n = std::get_if<std::int32_t>(&action.actualValue);
    const std::optional<std::int32_t> value = n != nullptr ? std::optional(*n) : ParseDecimal(raw);
    return value ? raw + " (" + link->Engineering().Text(*value) + ")" : raw;
}

TestSequence::TestSequence(const KModel& model, SequenceView& view, RunnerHost& host)
    : model_(model), view_(view), host_(host) {}

_TestNode* TestSequence::NodeAt(int position) const {
    if (position < 0 || static_cast<std::size_t>(position) >= nodes_.Count()) return nullptr;
    return nodes_.Object(static_cast<std::size_t>(position));
}

void TestSequence::ResetStore() {
    // The tree goes first: its items refer to the nodes and actions freed below.
    view_.ResetTree(kRootText);
    nodes_.Clear();
    ctx_ = TestSequenceContext{};
    waitCount_ = 0;
    callStack_.clear();
    ownedNodes_.clear();
    // The boxes would otherwise go on naming nodes that are gone.
    view_.ShowNode("", "");
    view_.ShowAction("", "", "");
}

std::vector<std::string> TestSequence::LoadSequenceFile(const fs::path& path) {
    std::string bytes;
    try {
        // Only a regular file of sane size: a pipe would block the window, /dev/zero never ends.
        bytes = ReadRegularFile(path.string());
    } catch (const FileError&) {
        return {};  // counts as a file that cannot be opened
    } catch (const std::bad_alloc&) {
        return {};
    }

    std::error_code ec;
    fs::path named = fs::weakly_canonical(path, ec);
    if (ec) named = path.lexically_normal();
    const std::string file = named.string();
    const bool loadedBefore = std::any_of(ownedNodes_.begin(), ownedNodes_.end(),
                                          [&](const auto& node) { return node->file == file; });
    if (loadedBefore) {
        // The nodes it replaces may be the ones running.
        if (!reloading_ && !ConfirmStop()) return {};
        ForgetFile(file);
    }
    TokenReader reader(bytes);
    std::vector<std::string> displayList;
    ReadStatements(reader, file, displayList);

    // The node list spans every file loaded so far, so each load starts such a node again.
    // Only the operator may end a run that a file loaded later would replace.
    if (_TestNode* autorun = FindNode("autorun");
        autorunOnLoad_ && autorun != nullptr && (reloading_ || ConfirmStop())) {
        ctx_.currentNode = autorun;
        RunNode();
    }
    return displayList;
}

SequenceMenus TestSequence::ReloadSequences(const fs::path& workDir) {
    ResetStore();
    struct Reloading {
        explicit Reloading(bool& flag) : f(flag) { f = true; }
        ~Reloading() { f = false; }
        bool& f;
    } reloading(reloading_);
    SequenceMenus menus;
    const std::array<std::pair<const char*, std::vector<std::string>*>, 3> folders = {
        {{"standard", &menus.standard}, {"custom", &menus.custom}, {"tools", &menus.tools}}};
    for (const auto& [folder, menu] : folders) {
        std::vector<fs::path> files;
        std::error_code ec;
        for (fs::directory_iterator it(workDir / "config" / folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            std::error_code typeEc;
            if (it->is_regular_file(typeEc)) files.push_back(it->path());
        }
        std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
            const std::string an = a.filename().string(), bn = b.filename().string();
            const std::string af = FoldCase(an), bf = FoldCase(bn);
            return af != bf ? af < bf : an < bn;
        });
        for (const fs::path& file : files) {
            std::vector<std::string> names = LoadSequenceFile(file);
            menu->insert(menu->end(), names.begin(), names.end());
        }
    }
    return menus;
}

void TestSequence::ForgetFile(const std::string& file) {
    const auto ofFile = [&](const _TestNode* node) { return node != nullptr && node->file == file; };
    if (ofFile(ctx_.currentNode)) ctx_ = TestSequenceContext{};
    reached_.clear();
    worst_.clear();
    std::vector<std::unique_ptr<_TestNode>> kept;
    for (auto& node : ownedNodes_)
        if (!ofFile(node.get())) kept.push_back(std::move(node));
    ownedNodes_ = std::move(kept);
    // Names that two files share go back to the one that is left.
    nodes_.Clear();
    for (const auto& node : ownedNodes_) nodes_.Add(node->name, node.get());
    view_.ResetTree(kRootText);
    for (const auto& node : ownedNodes_) {
        view_.AddNodeItem(node->item, node->name);
        if (node->result != TestState::UNTESTED) view_.ShowResult(node->item, node->result);
        for (const auto& action : node->actions) {
            view_.AddActionItem(node->item, action->item, action->label);
            if (action->result != TestState::UNTESTED) view_.ShowResult(action->item, action->result);
        }
    }
    if (ctx_.currentNode == nullptr) {
        view_.ShowNode("", "");
        view_.ShowAction("", "", "");
    }
}

void TestSequence::ReadStatements(TokenReader& reader, const std::string& file,
                                  std::vector<std::string>& displayList) {
    _TestNode* current = nullptr;  // none at the start of every file
    while (!reader.AtEnd()) {
        const int kind = KeywordKind(reader.Next());
        if (kind < 0) continue;  // free text between statements

        std::vector<std::string> args;
        for (;;) {
            std::string token = reader.Next();
            if (token == ";") {
                args.push_back(std::move(token));
                break;
            }
            // Arguments beyond the ninth are read and ignored.
            if (args.size() < kMaxArguments) args.push_back(std::move(token));
        }

        if (kind == kTestNode || kind == kDisplayTestNode) {
            auto node = std::make_unique<_TestNode>();
            node->name = args.front();
            node->file = file;
            nodes_.Add(node->name, node.get());
            node->item = ++lastId_;
            view_.AddNodeItem(node->item, node->name);
            if (kind == kDisplayTestNode) displayList.push_back(node->name);
            current = node.get();
            ownedNodes_.push_back(std::move(node));
        } else if (kind == kEndNode) {
            current = nullptr;
        } else if (current != nullptr) {
            AddAction(*current, kind, args);
        }
    }
}

void TestSequence::AddAction(_TestNode& node, int kind, const std::vector<std::string>& args) {
    auto action = std::make_unique<TestAction>();
    action->node = &node;
    action->kind = kind;
    if (kind <= kSaveFile) {
        BuildDeviceAction(*action, args);
    } else if (kind == kResetNode) {
        action->label = Keyword(kind);
    } else {
        // With no arguments the first argument is the closing ";" itself.
        action->firstValue = args.front();
        if (kind == kIf) action->secondValue = Entry(args, 1);
        action->label = Keyword(kind) + " " + args.front();
    }
    action->item = ++lastId_;
    view_.AddActionItem(node.item, action->item, action->label);
    node.actions.push_back(std::move(action));
}

void TestSequence::BuildDeviceAction(TestAction& action, const std::vector<std::string>& args) {
    const std::size_t count = args.size() - 1;  // the ";" is not counted
    const std::string& deviceName = args.front();
    KDevice* device = model_.devices.Find(deviceName);
    if (device == nullptr) {
        action.label = kInvalidDevice;
        action.missing = "unknown device '" + deviceName + "'";
        return;
    }
    const std::string linkName = Entry(args, 1).value_or("");
    KRemoteLink* link = device->links.Find(linkName);
    if (link == nullptr) {
        action.label = kInvalidProperty;
        action.missing = "unknown property '" + linkName + "' of device '" + device->name + "'";
        return;
    }
    action.target = link;
    action.label = Keyword(action.kind) + " " + deviceName + " " + linkName;
    if (count >= 3) {
        action.firstValue = args[2];
        action.label += " " + args[2];
    }
    if (count >= 4) {
        action.secondValue = args[3];
        action.label += " " + args[3];
    }
}

void TestSequence::tvTestClick(ItemId selected) {
    // A click would change the node and action under a running sequence.
    if (ctx_.state != RunnerState::Idle || selected == 0) return;
    for (const auto& node : ownedNodes_) {
        if (node->item == selected) {
            ctx_.currentNode = node.get();
            ctx_.nodeIndex = NodePosition(node->name);
            ShowNode();
            return;
        }
        for (const auto& action : node->actions) {
            if (action == nullptr || action->item != selected) continue;
            ctx_.currentNode = node.get();
            ctx_.nodeIndex = NodePosition(node->name);
            ShowNode();
            ctx_.currentAction = action.get();
            ShowAction(*action);
            return;
        }
    }
}

bool TestSequence::RunNodeByName(const std::string& name) {
    _TestNode* node = FindNode(name);
    if (node == nullptr) return false;
    ctx_.currentNode = node;
    RunNode();
    return true;
}

void TestSequence::ShowNode() {
    if (ctx_.currentNode == nullptr) return;
    // A node under way has no result yet: what it holds is only what it met so far.
    view_.ShowNode(ctx_.currentNode->name,
                   Active(*ctx_.currentNode) ? kRunningText : TestStateName(ctx_.currentNode->result));
}

void TestSequence::ShowAction(const TestAction& action) {
    std::string status = TestStateName(action.result);
    if (Running() && &action == ctx_.currentAction && action.result == TestState::UNTESTED)
        status = ctx_.state == RunnerState::CountingDown ? RunningText(waitCount_) : kRunningText;
    view_.ShowAction(action.label, status, ActualText(action));
}

bool TestSequence::Active(const _TestNode& node) const {
    if (!Running()) return false;
    if (ctx_.currentNode == &node) return true;
    return std::any_of(callStack_.begin(), callStack_.end(),
                       [&](const TestSequenceContext& c) { return c.currentNode == &node; });
}

void TestSequence::ShowNodeItem(const _TestNode& node) {
    if (Active(node))
        view_.ShowRunning(node.item, kRunningText);
    else
        view_.ShowResult(node.item, node.result);
}

void TestSequence::SettleAction(const TestAction* action) {
    if (action == nullptr || action->result != TestState::UNTESTED) return;
    view_.ShowResult(action->item, TestState::UNTESTED);
    if (action == ctx_.currentAction)
        view_.ShowAction(action->label, TestStateName(action->result), ActualText(*action));
}

std::string RunningText(std::int32_t waitTicksLeft) {
    // A tick is 10 ms; the time left is shown to a tenth of a second.
    const std::int32_t tenths = (std::max<std::int32_t>(0, waitTicksLeft) + 9) / 10;
    return std::string(kRunningText) + ", " + std::to_string(tenths / 10) + "." +
           std::to_string(tenths % 10) + " s left";
}

}  // namespace korva
