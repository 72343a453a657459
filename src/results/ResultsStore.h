#pragma once
// The results store: every run of a sequence and every step of it, kept in an SQLite file that
// several processes on one machine write at once. A node's steps are committed as the node ends, so
// a run that is killed stays in the store as an incomplete run with what it had done.

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

class SqliteStore {
  public:
    static constexpr int kSchemaVersion = 1;

    // Creates the file or brings an older schema up to date; throws StoreError.
    explicit SqliteStore(const std::string& path);
    ~SqliteStore();
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    int SchemaVersion() const;

    // A new run, incomplete until it ends; the attempt counts the DUT's runs before it. Returns its id.
    std::string BeginRun(const RunInfo& info);
    // The steps of one node, in one transaction.
    void AddSteps(const std::string& runId, const std::vector<StepRow>& steps);
    // incomplete: the run was cut short (a signal) and did not run all it was asked to.
    void EndRun(const std::string& runId, const std::string& ended, const std::string& verdict,
                const std::string& reason, bool incomplete = false);

    // A DUT's runs, oldest first.
    std::vector<RunRow> History(const std::string& dut) const;
    std::vector<StepRow> Steps(const std::string& runId) const;
    // by: "" (all), "day", "station" or "part"; since: an ISO date or time, "" for all.
    std::vector<YieldRow> Yield(const std::string& since, const std::string& by) const;
    // Failing steps by count, most first.
    std::vector<ParetoRow> Pareto(const std::string& since) const;

  private:
    void Exec(const char* sql) const;
    void Migrate();

    sqlite3* db_ = nullptr;
};

// A random (version 4) UUID in its usual text form.
std::string NewRunId();

}  // namespace korva::results
