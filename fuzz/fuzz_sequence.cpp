// Any bytes as a test sequence file: tokens, statements, and a short run of what was loaded.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "FuzzHost.h"
#include "sequence/Util.h"

namespace {
class NullView : public korva::SequenceView {
  public:
    void ResetTree(const std::string&) override {}
    void AddNodeItem(korva::ItemId, const std::string&) override {}
    void AddActionItem(korva::ItemId, korva::ItemId, const std::string&) override {}
    void SelectItem(korva::ItemId) override {}
    void CollapseSelected() override {}
    void ShowNode(const std::string&, const std::string&) override {}
    void ShowAction(const std::string&, const std::string&, const std::string&) override {}
    void ShowResult(korva::ItemId, std::uint8_t) override {}
};
class NullHost : public korva::RunnerHost {
  public:
    bool Confirm(const std::string& t) override { return t.size() % 2 == 0; }
    void Message(const std::string&) override {}
    bool AskYesNo(const std::string& t) override { return t.size() % 2 == 1; }
    void AddLogLine(const std::string&) override {}
    void StopTimer() override {}
    void StartTimer() override {}
    int OpenComPort(int n) override { return n == 1 ? 1 : 0; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korva;
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("korva-fuzz-" + std::to_string(getpid()) + ".kts"))
            .string();
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    fuzz::QuietHost host;
    Engine comms(host);
    fuzz::BuildPlant(comms);
    NullView view;
    NullHost runnerHost;
    TestSequence sequences(comms.Model(), view, runnerHost);
    comms.runnerStep = [&] { sequences.Step(kTick); };
    comms.runnerEvent = [&] { sequences.Resume(); };
    sequences.ResetStore();
    sequences.LoadSequenceFile(path);
    sequences.LoadSequenceFile(path);  // a second load replaces nodes of the same names
    sequences.RunAll();
    for (int t = 0; t < 300 && sequences.State() != RunnerState::Idle; ++t) comms.Tick();
    return 0;
}
