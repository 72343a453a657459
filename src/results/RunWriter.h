#pragma once
// One run on its way into the results store. A line's server that cannot be reached, when the run
// begins or later, does not lose the run: it goes on in the local spool file, marked for the
// server, and `SendWaiting` sends it when the server is back.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "results/ResultsStore.h"

namespace korva::results {

class RunWriter {
  public:
    // location: an SQLite file or a server URL; spool: the local file for a server's runs that wait;
    // say: what the user is told (a store lost, a run spooled), once per event.
    RunWriter(std::string location, std::string spool, std::function<void(const std::string&)> say);
    ~RunWriter();
    RunWriter(const RunWriter&) = delete;
    RunWriter& operator=(const RunWriter&) = delete;

    void Begin(const RunInfo& info);
    void AddSteps(std::vector<StepRow> steps);
    void End(const std::string& ended, const std::string& verdict, const std::string& reason,
             bool incomplete);

    const std::string& RunId() const { return run_.id; }
    // The run is kept in the spool, waiting for the server.
    bool Spooled() const { return spooled_; }
    // Nothing is being kept: no store, or it failed.
    bool Lost() const { return store_ == nullptr; }

  private:
    // Runs one write; a failed one moves a server's run to the spool, or loses a file's.
    template <class F>
    void Write(F f);
    void Spool(const std::string& why);

    std::string location_, spool_;
    std::function<void(const std::string&)> say_;
    std::unique_ptr<Store> store_;
    SqliteStore* spoolStore_ = nullptr;  // store_ while the run is spooled
    StoredRun run_;
    bool spooled_ = false;
};

struct SyncResult {
    int sent = 0;
    int waiting = 0;    // still in the spool
    std::string error;  // why the rest was not sent
};

// Sends the spool's runs that wait for the server, each in one transaction; a run sent twice is
// kept once. A run stays waiting until the server has it whole.
SyncResult SendWaiting(SqliteStore& spool, Store& server, const std::string& serverLocation);

}  // namespace korva::results
