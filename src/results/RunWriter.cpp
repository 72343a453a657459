#include "results/RunWriter.h"

namespace korva::results {

RunWriter::RunWriter(std::string location, std::string spool, std::function<void(const std::string&)> say)
    : location_(std::move(location)), spool_(std::move(spool)), say_(std::move(say)) {}

RunWriter::~RunWriter() = default;

void RunWriter::Begin(const RunInfo& info) {
    run_ = StoredRun{};
    run_.info = info;
    spooled_ = false;
    try {
        store_ = OpenStore(location_);
        run_.id = store_->BeginRun(info);
        return;
    } catch (const StoreError& e) {
        store_.reset();
        if (!IsServerLocation(location_)) {
            say_("results are not kept: " + std::string(e.what()));
            return;
        }
        run_.id = NewRunId();
        Spool(e.what());
    }
}

void RunWriter::Spool(const std::string& why) {
    try {
        auto spool = std::make_unique<SqliteStore>(spool_);
        spool->PutRun(run_);
        spool->MarkForServer(run_.id, location_);
        spoolStore_ = spool.get();
        store_ = std::move(spool);
        spooled_ = true;
        say_("the results server cannot be reached (" + why + "); this run is kept in " + spool_ +
             " and sent by 'korvarun results sync'");
    } catch (const StoreError& e) {
        store_.reset();
        say_("results are not kept: " + why + "; and the spool: " + e.what());
    }
}

template <class F>
void RunWriter::Write(F f) {
    if (!store_) return;
    try {
        f();
        // A sync may have sent the run while it was still going: it waits again for the rest.
        if (spooled_) spoolStore_->MarkForServer(run_.id, location_);
    } catch (const StoreError& e) {
        store_.reset();
        spoolStore_ = nullptr;
        if (!spooled_ && IsServerLocation(location_)) {
            Spool(e.what());
        } else {
            say_("results are not kept in " + (spooled_ ? spool_ : location_) + " from here on: " + e.what());
        }
    }
}

void RunWriter::AddSteps(std::vector<StepRow> steps) {
    if (run_.id.empty()) return;
    run_.steps.insert(run_.steps.end(), steps.begin(), steps.end());
    // A run moved to the spool by this write takes every step it had, these among them.
    Write([&] { store_->AddSteps(run_.id, steps); });
}

void RunWriter::End(const std::string& ended, const std::string& verdict, const std::string& reason,
                    bool incomplete) {
    if (run_.id.empty()) return;
    run_.ended = ended;
    run_.verdict = verdict;
    run_.reason = reason;
    run_.incomplete = incomplete;
    Write([&] { store_->EndRun(run_.id, ended, verdict, reason, incomplete); });
}

SyncResult SendWaiting(SqliteStore& spool, Store& server, const std::string& serverLocation) {
    SyncResult r;
    const std::vector<std::string> ids = spool.Waiting(serverLocation);
    for (const std::string& id : ids) {
        try {
            server.PutRun(spool.Load(id));
        } catch (const StoreError& e) {
            r.error = e.what();
            break;
        }
        spool.MarkSent(id);
        ++r.sent;
    }
    r.waiting = static_cast<int>(ids.size()) - r.sent;
    return r;
}

}  // namespace korva::results
