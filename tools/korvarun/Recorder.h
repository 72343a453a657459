#pragma once
// A station's run in the results store: the run when it starts, each node's steps as the node ends,
// the verdict at the end. A store that cannot be written is said once; the run goes on without it,
// or, when the store is a line's server, in the local spool file.

#include <functional>
#include <string>

#include "RunRecord.h"
#include "results/ResultsConfig.h"
#include "results/RunWriter.h"

namespace korva::korvarun {

class Recorder {
  public:
    // place.location empty records nothing; say tells the user what became of the results.
    Recorder(results::ResultsPlace place, std::string operatorName, std::string part,
             std::function<void(const std::string&)> say);
    ~Recorder();

    // Why the working folder's results configuration cannot be used; empty when it can.
    const std::string& Problem() const { return place_.error; }

    void Begin(const RunRecord& run, const std::string& toolVersion);
    void NodeEnded(const NodeRecord& node);
    // exitStatus as the station's; an interrupted run stays marked incomplete.
    void End(const RunRecord& run, bool interrupted);

    const std::string& RunId() const { return writer_.RunId(); }

  private:
    results::ResultsPlace place_;
    std::string operator_, part_;
    results::RunWriter writer_;
};

// When the action ran, as the store keeps times.
std::string StoreTime(WallClock::time_point t);

}  // namespace korva::korvarun
