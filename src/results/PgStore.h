#pragma once
// The results store on a PostgreSQL server that the stations of a line share. The same tables as
// the SQLite file; attempts are counted under a lock per DUT, so two stations never count the same.

#include <string>

#include "results/ResultsStore.h"

struct pg_conn;

namespace korva::results {

class PgStore : public Store {
  public:
    static constexpr int kSchemaVersion = 1;

    // url: a postgresql:// URL as libpq takes it. Connects, creates or updates the schema; throws
    // StoreError when the server cannot be reached or refuses.
    explicit PgStore(const std::string& url, int connectSeconds = 5);
    ~PgStore() override;
    PgStore(const PgStore&) = delete;
    PgStore& operator=(const PgStore&) = delete;

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

  private:
    void Migrate();
    void InsertSteps(const std::string& runId, const std::vector<StepRow>& steps);

    pg_conn* db_ = nullptr;
};

}  // namespace korva::results
