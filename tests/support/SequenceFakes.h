#pragma once
// The test tree, status boxes and dialogs as plain records, and a bus with one pump on it.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sequence/Util.h"
#include "support/BusHarness.h"
#include "support/TempDir.h"

namespace korva::test {

class FakeView : public SequenceView {
public:
    struct Item {
        std::string text;
        Item* parent;
        std::string result = "UNTESTED";  // drawn on the item
    };
    void ResetTree(const std::string& rootText) override {
        items.clear();
        items.push_back(std::make_unique<Item>(Item{rootText, nullptr}));
    }
    TreeItem AddNodeItem(const std::string& text, _TestNode&) override {
        return Add(text, items.front().get());
    }
    TreeItem AddActionItem(TreeItem nodeItem, const std::string& label, TestAction&) override {
        return Add(label, static_cast<Item*>(nodeItem));
    }
    void SelectItem(TreeItem item) override { selected = static_cast<Item*>(item); }
    void CollapseSelected() override { collapsed.push_back(selected ? selected->text : "(none)"); }
    void ShowNode(const std::string& text, const std::string& status) override {
        nodeBox = text + " " + status;
    }
    void ShowAction(const std::string& label, const std::string& status, const std::string& actual) override {
        actionBox = label + "|" + status + "|" + actual;
    }
    void ShowResult(TreeItem item, std::uint8_t result) override {
        static_cast<Item*>(item)->result = TestStateName(result);
    }

    // The tree below the root in creation order, action items indented.
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (std::size_t i = 1; i < items.size(); ++i)
            out.push_back((items[i]->parent == items.front().get() ? "" : "  ") + items[i]->text);
        return out;
    }
    TreeItem Nth(std::size_t i) const { return items.at(i).get(); }

    std::vector<std::unique_ptr<Item>> items;
    Item* selected = nullptr;
    std::vector<std::string> collapsed;
    std::string nodeBox, actionBox;

private:
    TreeItem Add(const std::string& text, Item* parent) {
        items.push_back(std::make_unique<Item>(Item{text, parent}));
        return items.back().get();
    }
};

class FakeRunnerHost : public RunnerHost {
public:
    bool Confirm(const std::string& text) override {
        events.push_back("confirm " + text);
        return answer;
    }
    void Message(const std::string& text) override {
        events.push_back("message " + text);
        messages.push_back(text);
        if (onMessage) onMessage();
    }
    bool AskYesNo(const std::string& text) override {
        events.push_back("ask " + text);
        return yes;
    }
    void AddLogLine(const std::string& line) override { log.push_back(line); }
    void StopTimer() override { events.push_back("stop"); }
    void StartTimer() override { events.push_back("start"); }
    int OpenComPort(int n) override {
        opened.push_back(n);
        return openResult;
    }
    std::function<void()> onMessage;  // what the window does while the dialog is open
    bool answer = true, yes = true;
    int openResult = 1;
    std::vector<std::string> events, messages, log;
    std::vector<int> opened;
};

// Pump (0x32): Speed (word, 0xFFFB), Mode (byte, 0xC3), Recipe (file of 10, -20, 30), Curve (file on
// a 16-bit index: 5, 6, 7).
// Dead (0x42): Level, never answers.
class SequenceFixture {
public:
    SequenceFixture() {
        KDevice& pump = h.AddDevice("Pump", 0x32);
        speed = &h.AddProperty(pump, "Speed", 0, 1, 0xFFFB);
        h.AddProperty(pump, "Mode", 1, 2, 0x1C3);
        recipe = &h.AddFile(pump, "Recipe", 4, 20, {10, -20, 30}, 3);
        h.AddFile(pump, "Curve", 5, 21, {5, 6, 7}, 3);
        KDevice& dead = h.AddDevice("Dead", 0x42);
        h.AddProperty(dead, "Level", 0, 1);
        h.emu.FindDevice(0x42)->silent = true;
        h.comms.runnerStep = [this] { seq.Step(kTick); };
        seq.ResetStore();
    }
    std::vector<std::string> Load(const std::string& text, const std::string& name = "t.kts") {
        dir.Write(name, text);
        return seq.LoadSequenceFile(dir.Path() + "/" + name);
    }
    bool RunToIdle(int limit = 2000) {
        return h.RunUntil([&] { return seq.State() == RunnerState::Idle; }, limit);
    }
    sim::SimProperty& EmuSpeed() { return h.emu.FindDevice(0x32)->properties[0]; }
    std::vector<std::int16_t>& EmuFile(std::size_t i) { return h.emu.FindDevice(0x32)->files[i].elements; }

    BusHarness h;
    FakeView view;
    FakeRunnerHost host;
    TestSequence seq{h.comms.Model(), view, host};
    TempDir dir;
    KPropertyLink* speed = nullptr;
    KFileLink* recipe = nullptr;
};

}  // namespace korva::test
