#pragma once
// The test tree, status boxes and dialogs as plain records, and a bus with one pump on it.

#include <functional>
#include <map>
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
        ItemId parent;                    // 0 for the root's children
        std::string result = "UNTESTED";  // drawn on the item
    };
    void ResetTree(const std::string& rootText) override {
        root = rootText;
        items.clear();
        order.clear();
    }
    void AddNodeItem(ItemId id, const std::string& text) override { Add(id, text, 0); }
    void AddActionItem(ItemId nodeId, ItemId id, const std::string& label) override {
        Add(id, label, nodeId);
    }
    void SelectItem(ItemId id) override { selected = id; }
    void CollapseSelected() override { collapsed.push_back(selected ? items.at(selected).text : "(none)"); }
    void ShowNode(const std::string& text, const std::string& status) override {
        nodeBox = text + " " + status;
    }
    void ShowAction(const std::string& label, const std::string& status, const std::string& actual) override {
        actionBox = label + "|" + status + "|" + actual;
    }
    void ShowResult(ItemId id, std::uint8_t result) override { items.at(id).result = TestStateName(result); }
    void ShowRunning(ItemId id, const std::string& text) override { items.at(id).result = text; }

    // The tree below the root in creation order, action items indented.
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (ItemId id : order) out.push_back((items.at(id).parent == 0 ? "" : "  ") + items.at(id).text);
        return out;
    }
    // The i-th item below the root, counting from 1 in creation order; 0 is the root itself.
    ItemId Nth(std::size_t i) const { return i == 0 ? 0 : order.at(i - 1); }
    const Item& At(std::size_t i) const { return items.at(Nth(i)); }

    std::string root;
    std::map<ItemId, Item> items;
    std::vector<ItemId> order;
    ItemId selected = 0;
    std::vector<std::string> collapsed;
    std::string nodeBox, actionBox;

  private:
    void Add(ItemId id, const std::string& text, ItemId parent) {
        items[id] = Item{text, parent};
        order.push_back(id);
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
        return open ? open(n) : openResult;
    }
    std::function<void()> onMessage;  // what the window does while the dialog is open
    std::function<int(int)> open;     // opens a real port instead of answering openResult
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
        h.comms.runnerEvent = [this] { seq.Resume(); };
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
