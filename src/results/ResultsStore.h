#pragma once
// The results store: every run of a sequence and every step of it, kept in an SQLite file that
// several processes on one machine write at once, or on a PostgreSQL server that a line's stations
// share. A node's steps are committed as the node ends, so a run that is killed stays in the store
// as an incomplete run with what it had done.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace korva::results {

class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// What identifies a run; the store gives it its id and its attempt number.
struct RunInfo {
    std::string started;  // UTC, ISO 8601 with milliseconds
    std::string station;
    std::string operatorName;
    std::string dut;
    std::string part;
    std::string toolVersion;
    std::string configurationHash;
    std::string sequenceHash;
};

struct StepRow {
    std::string node;
    int position = 0;  // the action's place in its node
    std::string action;
    std::string device;
    std::optional<int> address;
    std::string property;
    std::optional<int> element;
    std::optional<std::int64_t> raw;
    std::optional<double> shown;
    std::string unit;
    std::optional<double> low, high;
    std::string result;  // PASSED, FAILED, ERROR, DONE
    std::string reason;
    std::string started;
    double seconds = 0;
};

struct RunRow {
    std::string id;
    std::string started, ended;
    std::string station, operatorName, dut, part;
    int attempt = 0;
    std::string verdict;  // PASSED, FAILED, ERROR; empty while incomplete
    std::string reason;
    bool incomplete = true;
};

struct YieldRow {
    std::string group;  // the day, station or part; empty for the whole
    int units = 0;      // DUTs with a finished run
    int firstPass = 0;  // DUTs whose first attempt passed
    int finalPass = 0;  // DUTs whose last finished run passed
};

struct ParetoRow {
    std::string node;
    std::string action;
    int failures = 0;  // FAILED or ERROR
};

// Which runs a list shows; an empty field does not filter.
struct RunFilter {
    std::string dut;      // a part of the DUT id
    std::string from;     // started on or after this ISO date or time
    std::string until;    // started before this ISO date or time
    std::string verdict;  // PASSED, FAILED, ERROR or INCOMPLETE
    int limit = 500;      // the newest this many
};

// A whole run as it is sent from the spool to the server.
struct StoredRun {
    std::string id;
    RunInfo info;
    std::string ended, verdict, reason;
    bool incomplete = true;
    std::vector<StepRow> steps;
};

// What both engines answer. Every call throws StoreError when the store cannot be reached.
class Store {
  public:
    virtual ~Store() = default;

    // A new run, incomplete until it ends; the attempt counts the DUT's runs before it. Returns its id.
    virtual std::string BeginRun(const RunInfo& info) = 0;
    // The steps of one node, in one transaction.
    virtual void AddSteps(const std::string& runId, const std::vector<StepRow>& steps) = 0;
    // incomplete: the run was cut short (a signal) and did not run all it was asked to.
    virtual void EndRun(const std::string& runId, const std::string& ended, const std::string& verdict,
                        const std::string& reason, bool incomplete = false) = 0;
    // A run and its steps as a whole, in place of what the store had under its id: sending a run
    // twice leaves it once. A run new to the store gets its attempt from the runs started before it.
    virtual void PutRun(const StoredRun& run) = 0;

    // A DUT's runs, oldest first.
    virtual std::vector<RunRow> History(const std::string& dut) const = 0;
    // The newest runs that pass the filter, newest first.
    virtual std::vector<RunRow> Runs(const RunFilter& filter) const = 0;
    virtual std::vector<StepRow> Steps(const std::string& runId) const = 0;
    // by: "" (all), "day", "station" or "part"; since: an ISO date or time, "" for all.
    virtual std::vector<YieldRow> Yield(const std::string& since, const std::string& by) const = 0;
    // Failing steps by count, most first.
    virtual std::vector<ParetoRow> Pareto(const std::string& since) const = 0;
};

class SqliteStore : public Store {
  public:
    static constexpr int kSchemaVersion = 2;

    // Creates the file or brings an older schema up to date; throws StoreError.
    explicit SqliteStore(const std::string& path);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    int SchemaVersion() const;

    std::string BeginRun(const RunInfo& info) override;
    void AddSteps(const std::string& runId, const std::vector<StepRow>& steps) override;
    void EndRun(const std::string& runId, const std::string& ended, const std::string& verdict,
                const std::string& reason, bool incomplete = false) override;
    void PutRun(const StoredRun& run) override;

    std::vector<RunRow> History(const std::string& dut) const override;
    std::vector<RunRow> Runs(const RunFilter& filter) const override;
    std::vector<StepRow> Steps(const std::string& runId) const override;
    std::vector<YieldRow> Yield(const std::string& since, const std::string& by) const override;
    std::vector<ParetoRow> Pareto(const std::string& since) const override;

    // The spool: runs kept here for a server that could not be reached, to be sent later.
    void MarkForServer(const std::string& runId, const std::string& server);
    // The ids waiting for this server, oldest first.
    std::vector<std::string> Waiting(const std::string& server) const;
    StoredRun Load(const std::string& runId) const;
    // Sent: the run stays here as a copy but no longer waits.
    void MarkSent(const std::string& runId);

  private:
    void Exec(const char* sql) const;
    void Migrate();
    void PutRunLocked(const StoredRun& run);

    sqlite3* db_ = nullptr;
};

// A store by its location: a postgresql:// or postgres:// URL, or else an SQLite file's path.
std::unique_ptr<Store> OpenStore(const std::string& location);
bool IsServerLocation(const std::string& location);

// A random (version 4) UUID in its usual text form.
std::string NewRunId();

}  // namespace korva::results
