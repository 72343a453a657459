#include "results/PgStore.h"

#include <libpq-fe.h>

#include <charconv>
#include <iterator>

namespace korva::results {

namespace {

// The schema, one step per version, as in the SQLite file; steps keep their order by seq.
const char* const kMigrations[] = {
    // 1: runs and their steps.
    "CREATE TABLE runs ("
    "  id TEXT PRIMARY KEY, started TEXT NOT NULL, ended TEXT, station TEXT, operator TEXT,"
    "  dut TEXT NOT NULL, part TEXT, attempt INTEGER NOT NULL, tool_version TEXT,"
    "  configuration_hash TEXT, sequence_hash TEXT, verdict TEXT, reason TEXT,"
    "  incomplete INTEGER NOT NULL DEFAULT 1);"
    "CREATE INDEX runs_dut ON runs(dut, attempt);"
    "CREATE INDEX runs_started ON runs(started);"
    "CREATE TABLE steps ("
    "  seq BIGSERIAL PRIMARY KEY, run TEXT NOT NULL REFERENCES runs(id), node TEXT NOT NULL,"
    "  position INTEGER NOT NULL, action TEXT NOT NULL, device TEXT, address INTEGER, property TEXT,"
    "  element INTEGER, raw BIGINT, shown DOUBLE PRECISION, unit TEXT, low DOUBLE PRECISION,"
    "  high DOUBLE PRECISION, result TEXT NOT NULL, reason TEXT, started TEXT, seconds DOUBLE PRECISION);"
    "CREATE INDEX steps_run ON steps(run);",
};
static_assert(std::size(kMigrations) == PgStore::kSchemaVersion);

// The key of the lock that makes one station at a time bring the schema up to date.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7263540)";

using Param = std::optional<std::string>;

Param Text(const std::string& v) {
    return v;
}
template <class T>
Param Number(const std::optional<T>& v) {
    if (!v) return std::nullopt;
    char text[40];
    const auto r = std::to_chars(text, text + sizeof text, *v);
    return std::string(text, r.ptr);
}
Param Number(double v) {
    return Number(std::optional<double>(v));
}
Param Number(int v) {
    return Number(std::optional<int>(v));
}

// One answer of the server, cleared however the scope ends.
class Result {
  public:
    Result(pg_conn* db, const std::string& sql, const std::vector<Param>& params = {}) {
        std::vector<const char*> values;
        values.reserve(params.size());
        for (const Param& p : params) values.push_back(p ? p->c_str() : nullptr);
        res_ = PQexecParams(db, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                            nullptr, 0);
        const ExecStatusType status = PQresultStatus(res_);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const std::string why = res_ != nullptr ? PQresultErrorMessage(res_) : PQerrorMessage(db);
            PQclear(res_);
            throw StoreError("results server: " + Trimmed(why));
        }
    }
    ~Result() { PQclear(res_); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    int Rows() const { return PQntuples(res_); }
    int Changed() const { return std::atoi(PQcmdTuples(res_)); }
    bool Null(int row, int col) const { return PQgetisnull(res_, row, col) != 0; }
    std::string Str(int row, int col) const { return PQgetvalue(res_, row, col); }
    template <class T>
    T Num(int row, int col) const {
        T v{};
        const char* t = PQgetvalue(res_, row, col);
        std::from_chars(t, t + PQgetlength(res_, row, col), v);
        return v;
    }
    template <class T>
    std::optional<T> Maybe(int row, int col) const {
        return Null(row, col) ? std::nullopt : std::optional<T>(Num<T>(row, col));
    }

    static std::string Trimmed(std::string s) {
        while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
        return s;
    }

  private:
    PGresult* res_ = nullptr;
};

// Several statements at once, without parameters: the schema's steps.
void ExecScript(pg_conn* db, const char* sql) {
    PGresult* r = PQexec(db, sql);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    const std::string why = ok ? "" : r != nullptr ? PQresultErrorMessage(r) : PQerrorMessage(db);
    PQclear(r);
    if (!ok) throw StoreError("results server: " + Result::Trimmed(why));
}

class Transaction {
  public:
    explicit Transaction(pg_conn* db) : db_(db) { Result(db_, "BEGIN"); }
    ~Transaction() {
        if (!done_) PQclear(PQexec(db_, "ROLLBACK"));
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
        Result(db_, "COMMIT");
        done_ = true;
    }

  private:
    pg_conn* db_;
    bool done_ = false;
};

// Two stations counting the attempts of one DUT wait for each other.
void LockDut(pg_conn* db, const std::string& dut) {
    Result(db, "SELECT pg_advisory_xact_lock(hashtext($1))", {Text(dut)});
}

const char* const kRunColumns =
    "SELECT id, started, ended, station, operator, dut, part, attempt, verdict, reason, incomplete FROM "
    "runs ";

std::vector<RunRow> ReadRuns(const Result& r) {
    std::vector<RunRow> out;
    for (int i = 0; i < r.Rows(); ++i)
        out.push_back({r.Str(i, 0), r.Str(i, 1), r.Str(i, 2), r.Str(i, 3), r.Str(i, 4), r.Str(i, 5),
                       r.Str(i, 6), r.Num<int>(i, 7), r.Str(i, 8), r.Str(i, 9), r.Num<int>(i, 10) != 0});
    return out;
}

}  // namespace

PgStore::PgStore(const std::string& url, int connectSeconds) {
    // The URL's own connect_timeout, if it has one, overrides this one.
    const std::string timeout = std::to_string(connectSeconds);
    const char* keys[] = {"connect_timeout", "dbname", nullptr};
    const char* values[] = {timeout.c_str(), url.c_str(), nullptr};
    db_ = PQconnectdbParams(keys, values, 1);
    if (PQstatus(db_) != CONNECTION_OK) {
        const std::string why = db_ != nullptr ? Result::Trimmed(PQerrorMessage(db_)) : "out of memory";
        PQfinish(db_);
        throw StoreError("results server: " + why);
    }
    try {
        // A server that stops answering must not hold a station forever.
        Result(db_, "SET statement_timeout = '30s'");
        Result(db_, "SET client_min_messages = warning");
        Migrate();
    } catch (...) {
        PQfinish(db_);
        throw;
    }
}

PgStore::~PgStore() {
    PQfinish(db_);
}

int PgStore::SchemaVersion() const {
    const Result r(db_, "SELECT version FROM korva_schema");
    return r.Rows() == 1 ? r.Num<int>(0, 0) : 0;
}

void PgStore::Migrate() {
    Transaction t(db_);
    Result(db_, kSchemaLock);
    Result(db_, "CREATE TABLE IF NOT EXISTS korva_schema (version INTEGER NOT NULL)");
    const int from = SchemaVersion();
    if (from > kSchemaVersion)
        throw StoreError("results server: schema " + std::to_string(from) +
                         " is newer than this program's (" + std::to_string(kSchemaVersion) + ")");
    for (int v = from; v < kSchemaVersion; ++v) ExecScript(db_, kMigrations[v]);
    if (from != kSchemaVersion) {
        Result(db_, "DELETE FROM korva_schema");
        Result(db_, "INSERT INTO korva_schema VALUES ($1)", {Number(kSchemaVersion)});
    }
    t.Commit();
}

std::string PgStore::BeginRun(const RunInfo& info) {
    const std::string id = NewRunId();
    Transaction t(db_);
    LockDut(db_, info.dut);
    const Result count(db_, "SELECT COUNT(*) FROM runs WHERE dut = $1", {Text(info.dut)});
    const int attempt = count.Num<int>(0, 0) + 1;
    Result(db_,
           "INSERT INTO runs (id, started, station, operator, dut, part, attempt, tool_version,"
           " configuration_hash, sequence_hash) VALUES ($1,$2,$3,$4,$5,$6,$7,$8,$9,$10)",
           {Text(id), Text(info.started), Text(info.station), Text(info.operatorName), Text(info.dut),
            Text(info.part), Number(attempt), Text(info.toolVersion), Text(info.configurationHash),
            Text(info.sequenceHash)});
    t.Commit();
    return id;
}

void PgStore::InsertSteps(const std::string& runId, const std::vector<StepRow>& steps) {
    // Many rows to a statement: a node of a thousand steps is one round trip, not a thousand.
    constexpr std::size_t kColumns = 17, kRowsPerStatement = 1000;
    for (std::size_t first = 0; first < steps.size(); first += kRowsPerStatement) {
        std::string sql =
            "INSERT INTO steps (run, node, position, action, device, address, property, element, raw, shown,"
            " unit, low, high, result, reason, started, seconds) VALUES ";
        std::vector<Param> params;
        const std::size_t last = std::min(steps.size(), first + kRowsPerStatement);
        for (std::size_t i = first; i < last; ++i) {
            const StepRow& s = steps[i];
            sql += i == first ? "(" : ",(";
            for (std::size_t c = 0; c < kColumns; ++c)
                sql += (c == 0 ? "$" : ",$") + std::to_string(params.size() + c + 1);
            sql += ")";
            for (Param p : {Text(runId), Text(s.node), Number(s.position), Text(s.action), Text(s.device),
                            Number(s.address), Text(s.property), Number(s.element), Number(s.raw),
                            Number(s.shown), Text(s.unit), Number(s.low), Number(s.high), Text(s.result),
                            Text(s.reason), Text(s.started), Number(s.seconds)})
                params.push_back(std::move(p));
        }
        Result(db_, sql, params);
    }
}

void PgStore::AddSteps(const std::string& runId, const std::vector<StepRow>& steps) {
    Transaction t(db_);
    InsertSteps(runId, steps);
    t.Commit();
}

void PgStore::EndRun(const std::string& runId, const std::string& ended, const std::string& verdict,
                     const std::string& reason, bool incomplete) {
    const Result r(db_,
                   "UPDATE runs SET ended = $1, verdict = $2, reason = $3, incomplete = $4 WHERE id = $5",
                   {Text(ended), Text(verdict), Text(reason), Number(incomplete ? 1 : 0), Text(runId)});
    if (r.Changed() != 1) throw StoreError("results server: no run " + runId);
}

void PgStore::PutRun(const StoredRun& run) {
    Transaction t(db_);
    LockDut(db_, run.info.dut);
    const Result old(db_, "SELECT attempt FROM runs WHERE id = $1", {Text(run.id)});
    int attempt = 0;
    if (old.Rows() == 1) {
        attempt = old.Num<int>(0, 0);
    } else {
        const Result count(db_, "SELECT COUNT(*) FROM runs WHERE dut = $1 AND started < $2",
                           {Text(run.info.dut), Text(run.info.started)});
        attempt = count.Num<int>(0, 0) + 1;
    }
    Result(db_, "DELETE FROM steps WHERE run = $1", {Text(run.id)});
    Result(db_, "DELETE FROM runs WHERE id = $1", {Text(run.id)});
    const RunInfo& i = run.info;
    Result(db_,
           "INSERT INTO runs (id, started, ended, station, operator, dut, part, attempt, tool_version,"
           " configuration_hash, sequence_hash, verdict, reason, incomplete)"
           " VALUES ($1,$2,$3,$4,$5,$6,$7,$8,$9,$10,$11,$12,$13,$14)",
           {Text(run.id), Text(i.started), Text(run.ended), Text(i.station), Text(i.operatorName),
            Text(i.dut), Text(i.part), Number(attempt), Text(i.toolVersion), Text(i.configurationHash),
            Text(i.sequenceHash), Text(run.verdict), Text(run.reason), Number(run.incomplete ? 1 : 0)});
    InsertSteps(run.id, run.steps);
    t.Commit();
}

std::vector<RunRow> PgStore::History(const std::string& dut) const {
    return ReadRuns(
        Result(db_, std::string(kRunColumns) + "WHERE dut = $1 ORDER BY started, attempt", {Text(dut)}));
}

std::vector<RunRow> PgStore::Runs(const RunFilter& f) const {
    return ReadRuns(
        Result(db_,
               std::string(kRunColumns) +
                   "WHERE ($1 = '' OR strpos(dut, $1) > 0) AND ($2 = '' OR started >= $2)"
                   " AND ($3 = '' OR started < $3) AND ($4 = '' OR ($4 = 'INCOMPLETE' AND incomplete = 1)"
                   " OR (incomplete = 0 AND verdict = $4)) ORDER BY started DESC LIMIT $5::integer",
               {Text(f.dut), Text(f.from), Text(f.until), Text(f.verdict), Number(f.limit)}));
}

std::vector<StepRow> PgStore::Steps(const std::string& runId) const {
    const Result r(db_,
                   "SELECT node, position, action, device, address, property, element, raw, shown, unit, low,"
                   " high, result, reason, started, seconds FROM steps WHERE run = $1 ORDER BY seq",
                   {Text(runId)});
    std::vector<StepRow> out;
    for (int i = 0; i < r.Rows(); ++i) {
        StepRow s;
        s.node = r.Str(i, 0);
        s.position = r.Num<int>(i, 1);
        s.action = r.Str(i, 2);
        s.device = r.Str(i, 3);
        s.address = r.Maybe<int>(i, 4);
        s.property = r.Str(i, 5);
        s.element = r.Maybe<int>(i, 6);
        s.raw = r.Maybe<std::int64_t>(i, 7);
        s.shown = r.Maybe<double>(i, 8);
        s.unit = r.Str(i, 9);
        s.low = r.Maybe<double>(i, 10);
        s.high = r.Maybe<double>(i, 11);
        s.result = r.Str(i, 12);
        s.reason = r.Str(i, 13);
        s.started = r.Str(i, 14);
        s.seconds = r.Num<double>(i, 15);
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<YieldRow> PgStore::Yield(const std::string& since, const std::string& by) const {
    std::string group = "''";
    if (by == "day") group = "substr(f.started, 1, 10)";
    if (by == "station") group = "f.station";
    if (by == "part") group = "f.part";
    if (group == "''" && !by.empty()) throw StoreError("results store: no yield by '" + by + "'");
    // Each DUT once, with its first and its last finished run in the span.
    const Result r(
        db_,
        "WITH f AS (SELECT DISTINCT ON (dut) dut, attempt, verdict, started, station, part FROM runs"
        "   WHERE incomplete = 0 AND started >= $1 ORDER BY dut, attempt),"
        " l AS (SELECT DISTINCT ON (dut) dut, verdict FROM runs"
        "   WHERE incomplete = 0 AND started >= $1 ORDER BY dut, attempt DESC)"
        " SELECT COALESCE(" +
            group +
            ", ''), COUNT(*), SUM(CASE WHEN f.attempt = 1 AND f.verdict = 'PASSED' THEN 1 ELSE 0 END),"
            " SUM(CASE WHEN l.verdict = 'PASSED' THEN 1 ELSE 0 END) FROM f JOIN l ON l.dut = f.dut"
            " GROUP BY 1 ORDER BY 1",
        {Text(since)});
    std::vector<YieldRow> out;
    for (int i = 0; i < r.Rows(); ++i)
        out.push_back({r.Str(i, 0), r.Num<int>(i, 1), r.Num<int>(i, 2), r.Num<int>(i, 3)});
    return out;
}

std::vector<ParetoRow> PgStore::Pareto(const std::string& since) const {
    const Result r(db_,
                   "SELECT s.node, s.action, COUNT(*) FROM steps s JOIN runs r ON r.id = s.run"
                   " WHERE s.result IN ('FAILED', 'ERROR') AND r.started >= $1"
                   " GROUP BY s.node, s.action ORDER BY 3 DESC, 1, 2",
                   {Text(since)});
    std::vector<ParetoRow> out;
    for (int i = 0; i < r.Rows(); ++i) out.push_back({r.Str(i, 0), r.Str(i, 1), r.Num<int>(i, 2)});
    return out;
}

bool IsServerLocation(const std::string& location) {
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Store> OpenStore(const std::string& location) {
    if (IsServerLocation(location)) return std::make_unique<PgStore>(location);
    return std::make_unique<SqliteStore>(location);
}

}  // namespace korva::results
