#pragma once
// One console run: the configuration loaded as the window loads it, one sequence file, the serial
// port, and the runner ticked every 10 ms; every action and node recorded for the reports.

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "EventLoop.h"
#include "Options.h"
#include "RunRecord.h"
#include "model/ConfigLoader.h"
#include "protocol/Comms.h"
#include "sequence/TestSequence.h"
#include "transport/ComPortCommands.h"
#include "transport/Serialng.h"

namespace korva::korvarun {

enum ExitStatus : int { kPassed = 0, kFailed = 1, kError = 2, kInterrupted = 130 };

class Station : public LoaderHost, public RunnerHost, public SequenceView {
  public:
    explicit Station(Options options);
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // The whole run; the exit status.
    int Run();

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
        void RefreshDeviceTree() override {}
        void RequestClose() override {}

      private:
        Station& station_;
    };

    // Each step returns false with the reason printed when the run cannot go on.
    bool LoadConfiguration();
    bool LoadSequence();
    bool ChooseNodes();
    bool OpenPort();
    void ListNodes() const;
    void RunNode(NodeRecord& record);
    // The clean-up node, after the others however they ended; a second signal ends it.
    void RunCleanup();
    void CloseAction(bool stopped);
    // The answer to a prompt of the sequence; nullopt when none can be had (the node is then stopped).
    std::optional<bool> Ask(const std::string& kind, const std::string& text, bool withCancel);
    void Output(const std::string& line);
    int Finish(int status);
    bool WriteReports();
    std::string Paint(const std::string& result) const;
    void Fail(const std::string& why) const;

    Options options_;
    EventLoop loop_;
    BusLog busLog_{*this};
    Engine engine_{busLog_};
    ConfigLoader loader_;
    TSerialPortNG port_;
    ComPortCommands coms_;
    std::unique_ptr<TestSequence> sequences_;

    RunRecord run_;
    std::vector<std::string> nodeNames_;
    std::vector<std::string> displayNames_;
    std::map<ItemId, const TestAction*> actions_;
    NodeRecord* current_ = nullptr;     // the node running now
    std::optional<ActionRecord> open_;  // the action carried out now
    const TestAction* openAction_ = nullptr;
    std::string firstConfigMessage_;
    bool configFailed_ = false;
    bool stoppedInside_ = false;  // the running node was stopped, not ended by the runner
    bool colour_ = false;
    EventLoop::Clock::time_point deadline_ = EventLoop::Clock::time_point::max();  // the node's --timeout
    std::string timeoutText_;
    EventLoop::Clock::time_point lastReport_{};  // reports are written at most once a second mid-node
};

}  // namespace korva::korvarun
