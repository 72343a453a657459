#pragma once
// A station's run in the results store: the run when it starts, each node's steps as the node ends,
// the verdict at the end. A store that cannot be written is said once; the run goes on without it.

#include <memory>
#include <string>

#include "RunRecord.h"
#include "results/ResultsStore.h"

namespace korva::korvarun {

class Recorder {
  public:
    // path: the SQLite file; empty records nothing.
    Recorder(std::string path, std::string operatorName, std::string part);
    ~Recorder();

    void Begin(const RunRecord& run, const std::string& toolVersion);
    void NodeEnded(const NodeRecord& node);
    // exitStatus as the station's; an interrupted run stays marked incomplete.
    void End(const RunRecord& run, bool interrupted);

    const std::string& RunId() const { return runId_; }

  private:
    // A failed write loses the store for the rest of the run: one message, not one per node.
    template <class F>
    void Guard(F f);

    std::string path_, operator_, part_;
    std::unique_ptr<results::SqliteStore> store_;
    std::string runId_;
};

// When the action ran, as the store keeps times.
std::string StoreTime(WallClock::time_point t);

}  // namespace korva::korvarun
