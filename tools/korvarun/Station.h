#pragma once
// One unit under test: its own engine (the configuration loaded as the window loads it), sequence
// store, serial port and record. A station runs its nodes one 10 ms step at a time, so that several
// stations share one event loop.

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "EventLoop.h"
#include "Options.h"
#include "Recorder.h"
#include "RunRecord.h"
#include "compose/Composition.h"

namespace korva::korvarun {

enum ExitStatus : int { kPassed = 0, kFailed = 1, kError = 2, kInterrupted = 130 };

class Station : public LoaderHost, public RunnerHost, public SequenceView {
  public:
    // unit: the port and DUT of this station; writeReports: writes the reports of every station.
    Station(const Options& options, Unit unit, EventLoop& loop, std::function<bool()> writeReports);
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Configuration, sequence, nodes and port; false with the reason printed when the run cannot
    // start. listOnly: the file is loaded to be listed, nothing more.
    bool Prepare(bool listOnly);
    // The two steps of Prepare that a poll without a sequence takes: the configuration, then the port.
    bool LoadConfiguration();
    bool OpenPort();
    Composition& Core() { return core_; }
    // Called each time the bus has changed links, before the tick or the reply goes on.
    std::function<void()> onLinksChanged;
    void ListNodes() const;
    // Every report input, for the check that no report overwrites one.
    std::vector<std::string> Inputs() const;

    // One 10 ms step: the next node starts, the running one is ticked or timed out, an ended one is
    // recorded.
    void Step();
    // A signal came: the running node stops, the nodes left are skipped, the clean-up node runs; a
    // signal during the clean-up ends it.
    void Interrupt(int signal);
    bool Done() const { return phase_ == Phase::Done; }
    // The station's exit status once done.
    int Status() const;
    void ClosePort() { port_.SetActive(false); }

    RunRecord& Record() { return run_; }
    // The run in the results store: begun once the station is ready, ended with its status.
    // --dut-from: the DUT's identity read from the unit; false when it did not answer.
    bool ReadDut();
    void BeginResults();
    void EndResults();
    const RunRecord& Record() const { return run_; }

    // LoaderHost
    void ShowMessage(const std::string& text) override;
    void RequestEnd() override { configFailed_ = true; }
    // RunnerHost
    bool Confirm(const std::string& text) override;
    void Message(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void AddLogLine(const std::string& line) override;
    void StopTimer() override {}
    void StartTimer() override {}
    int OpenComPort(int n) override;
    // SequenceView: the tree and the boxes are not drawn; selections and results are recorded.
    void ResetTree(const std::string&) override {}
    void AddNodeItem(ItemId, const std::string&) override {}
    void AddActionItem(ItemId, ItemId, const std::string&) override {}
    void SelectItem(ItemId id) override;
    void CollapseSelected() override {}
    void ShowNode(const std::string&, const std::string&) override {}
    void ShowAction(const std::string&, const std::string&, const std::string&) override {}
    void ShowResult(ItemId id, std::uint8_t result) override;

  private:
    // The port's and the router's lines; a packet trace would drown the run's own lines.
    class BusLog : public CommsHost {
      public:
        explicit BusLog(Station& station) : station_(station) {}
        void AddLogLine(const std::string& line) override;
        void RefreshDeviceTree() override {
            if (station_.onLinksChanged) station_.onLinksChanged();
        }
        void RequestClose() override {}

      private:
        Station& station_;
    };
    enum class Phase { Nodes, Cleanup, Done };

    bool LoadSequence();
    bool ChooseNodes();
    // The next node to run in this phase, or nullptr.
    NodeRecord* NextNode();
    void StartNode(NodeRecord& record);
    void EndNode();
    void StopNode(const std::string& why);
    void CloseAction(bool stopped);
    // The answer to a prompt of the sequence; nullopt when none can be had (the node is then stopped).
    std::optional<bool> Ask(const std::string& kind, const std::string& text, bool withCancel);
    void Output(const std::string& line);
    // The station's lines go to standard output, named by the DUT when several stations run.
    void Print(const std::string& line) const;
    // "[DUT] " when several stations run, so that their lines can be told apart.
    std::string Prefix() const;
    std::string Paint(const std::string& result) const;
    void Fail(const std::string& why) const;

    const Options& options_;
    Unit unit_;
    EventLoop& loop_;
    std::function<bool()> writeReports_;
    BusLog busLog_{*this};
    Composition core_;
    // The parts a station uses, named once.
    Engine& engine_ = core_.engine();
    ConfigLoader& loader_ = core_.loader();
    TSerialPortNG& port_ = *core_.ports().First().serial;
    ComPortCommands& coms_ = *core_.ports().First().coms;
    TestSequence& sequences_ = core_.sequences();

    RunRecord run_;
    Recorder recorder_;
    std::vector<std::string> nodeNames_;
    std::vector<std::string> displayNames_;
    std::map<ItemId, const TestAction*> actions_;
    Phase phase_ = Phase::Nodes;
    std::size_t next_ = 0;              // the next node of run_.nodes to start
    NodeRecord* current_ = nullptr;     // the node running now
    std::optional<ActionRecord> open_;  // the action carried out now
    const TestAction* openAction_ = nullptr;
    std::string firstConfigMessage_;
    bool configFailed_ = false;
    bool stoppedInside_ = false;  // the running node was stopped, not ended by the runner
    bool interrupted_ = false;
    bool colour_ = false;
    EventLoop::Clock::time_point deadline_ = EventLoop::Clock::time_point::max();  // the node's --timeout
    std::string timeoutText_;
    EventLoop::Clock::time_point lastReport_{};  // reports are written at most once a second mid-node
};

// The whole run: every station in one event loop; the exit status.
int RunStations(const Options& options);

}  // namespace korva::korvarun
