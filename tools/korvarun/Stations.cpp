// The run of every station: one event loop, one 10 ms step of each station in turn, and the reports
// of all of them written together.
#include <algorithm>
#include <iostream>
#include <memory>
#include <vector>

#include "Reports.h"
#include "Station.h"

namespace korva::korvarun {

namespace {
constexpr auto kTickPeriod = std::chrono::milliseconds(10);

// ERROR outranks FAILED outranks PASSED; an interruption outranks them all.
int Worse(int a, int b) {
    const auto rank = [](int s) { return s == kInterrupted ? 3 : s == kError ? 2 : s == kFailed ? 1 : 0; };
    return rank(a) >= rank(b) ? a : b;
}

class Run {
  public:
    explicit Run(const Options& options) : options_(options) {}

    int Go() {
        for (const Unit& unit : options_.Units())
            stations_.push_back(
                std::make_unique<Station>(options_, unit, loop_, [this] { return WriteReports(); }));
        // Every station is made ready before any starts: a refusal leaves nothing half run.
        for (auto& s : stations_) {
            if (!s->Prepare(options_.list)) return kError;
            if (options_.list) {
                s->ListNodes();
                return kPassed;
            }
            if (!CheckInputs(*s)) return kError;
        }
        for (auto& s : stations_)
            if (!s->ReadDut()) return kError;
        if (!WriteReports()) return kError;
        for (auto& s : stations_) s->BeginResults();
        auto next = EventLoop::Clock::now();
        const auto running = [&] {
            return std::any_of(stations_.begin(), stations_.end(), [](const auto& s) { return !s->Done(); });
        };
        while (running()) {
            // Time lost in a prompt is not made up with a burst of ticks.
            next = std::max(next + kTickPeriod, EventLoop::Clock::now());
            if (!loop_.RunUntil(next)) {
                // Each station stops its node and goes on to its clean-up; only a further signal ends that.
                for (auto& s : stations_) s->Interrupt(loop_.Signal());
                loop_.Rearm();
            }
            for (auto& s : stations_) s->Step();
        }
        for (auto& s : stations_) s->ClosePort();
        return Finish();
    }

  private:
    bool CheckInputs(const Station& s) const {
        for (const std::string& report : {options_.junitFile, options_.jsonFile})
            if (const std::string problem = ReportOverwritesInput(report, s.Inputs()); !problem.empty()) {
                std::cerr << "korvarun: " << problem << std::endl;
                return false;
            }
        return true;
    }

    std::vector<const RunRecord*> Records() const {
        std::vector<const RunRecord*> records;
        for (const auto& s : stations_) records.push_back(&s->Record());
        return records;
    }

    bool WriteReports() {
        bool ok = true;
        std::string why;
        for (auto& s : stations_) s->Record().ended = std::max(s->Record().ended, s->Record().started);
        if (!options_.junitFile.empty() && !WriteReport(options_.junitFile, JunitText(Records()), why)) {
            std::cerr << "korvarun: cannot write " << options_.junitFile << ": " << why << std::endl;
            ok = false;
        }
        if (!options_.jsonFile.empty() && !WriteReport(options_.jsonFile, JsonText(Records()), why)) {
            std::cerr << "korvarun: cannot write " << options_.jsonFile << ": " << why << std::endl;
            ok = false;
        }
        return ok;
    }

    int Finish() {
        int status = kPassed;
        for (auto& s : stations_) {
            RunRecord& run = s->Record();
            run.ended = WallClock::now();
            run.exitStatus = s->Status();
            run.status = run.exitStatus == kInterrupted ? "aborted" : "complete";
            status = Worse(status, run.exitStatus);
        }
        for (auto& s : stations_) s->EndResults();
        if (!WriteReports() && status != kInterrupted) {
            status = kError;
            for (auto& s : stations_) s->Record().exitStatus = kError;
        }
        for (const auto& s : stations_) {
            const RunRecord& run = s->Record();
            int counts[4] = {0, 0, 0, 0};  // passed, failed, error, other
            for (const NodeRecord& n : run.nodes)
                ++counts[n.result == "PASSED" ? 0 : n.result == "FAILED" ? 1 : n.result == "ERROR" ? 2 : 3];
            std::cout << "korvarun: " << (stations_.size() > 1 ? "[" + run.dut + "] " : "")
                      << run.nodes.size() << " node(s): " << counts[0] << " passed, " << counts[1]
                      << " failed, " << counts[2] << " error, " << counts[3] << " not run or empty"
                      << (run.exitStatus == kInterrupted ? "; interrupted" : "");
            if (stations_.size() == 1) std::cout << "; exit " << status;
            std::cout << std::endl;
        }
        if (stations_.size() > 1)
            std::cout << "korvarun: " << stations_.size() << " stations; exit " << status << std::endl;
        return status;
    }

    const Options& options_;
    EventLoop loop_;
    std::vector<std::unique_ptr<Station>> stations_;
};
}  // namespace

int RunStations(const Options& options) {
    return Run(options).Go();
}

}  // namespace korva::korvarun
