#include "results/ResultsStore.h"

#include <sqlite3.h>

#include <cstdio>
#include <iterator>
#include <random>
#include <type_traits>

namespace korva::results {

namespace {

// The schema, one step per version: a file of version n gets steps n+1 onwards.
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
    "  run TEXT NOT NULL REFERENCES runs(id), node TEXT NOT NULL, position INTEGER NOT NULL,"
    "  action TEXT NOT NULL, device TEXT, address INTEGER, property TEXT, element INTEGER,"
    "  raw INTEGER, shown REAL, unit TEXT, low REAL, high REAL, result TEXT NOT NULL, reason TEXT,"
    "  started TEXT, seconds REAL);"
    "CREATE INDEX steps_run ON steps(run);",
    // 2: the spool, runs kept for a server that could not be reached.
    "ALTER TABLE runs ADD COLUMN server TEXT;"
    "CREATE INDEX runs_waiting ON runs(server) WHERE server IS NOT NULL;",
};
static_assert(std::size(kMigrations) == SqliteStore::kSchemaVersion);

// One prepared statement, finalized however the scope ends.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) Fail();
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int i, const std::string& v) {
        Check(sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
        return *this;
    }
    template <class T>
    Statement& Bind(int i, const std::optional<T>& v) {
        if (!v) {
            Check(sqlite3_bind_null(stmt_, i));
        } else if constexpr (std::is_floating_point_v<T>) {
            Check(sqlite3_bind_double(stmt_, i, *v));
        } else {
            Check(sqlite3_bind_int64(stmt_, i, static_cast<sqlite3_int64>(*v)));
        }
        return *this;
    }
    Statement& Bind(int i, double v) { return Bind(i, std::optional<double>(v)); }
    Statement& Bind(int i, int v) { return Bind(i, std::optional<int>(v)); }

    // True while there is a row; false when done.
    bool Step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) Fail();
        return false;
    }
    void Run() {
        while (Step()) {
        }
    }
    // For the next row of the same statement.
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    std::string Text(int col) const {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return t != nullptr ? std::string(t, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : "";
    }
    bool Null(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
    double Real(int col) const { return sqlite3_column_double(stmt_, col); }

  private:
    void Check(int rc) const {
        if (rc != SQLITE_OK) Fail();
    }
    [[noreturn]] void Fail() const { throw StoreError(std::string("results store: ") + sqlite3_errmsg(db_)); }

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// A write transaction that takes the file's write lock at once, so that two processes counting
// attempts never count the same one; rolled back unless committed.
class Transaction {
  public:
    explicit Transaction(sqlite3* db) : db_(db) { Exec("BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
        Exec("COMMIT");
        done_ = true;
    }

  private:
    void Exec(const char* sql) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw StoreError(std::string("results store: ") + sqlite3_errmsg(db_));
    }
    sqlite3* db_;
    bool done_ = false;
};

void InsertSteps(sqlite3* db, const std::string& runId, const std::vector<StepRow>& steps) {
    Statement insert(db,
                     "INSERT INTO steps (run, node, position, action, device, address, property, element,"
                     " raw, shown, unit, low, high, result, reason, started, seconds)"
                     " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    for (const StepRow& s : steps) {
        insert.Bind(1, runId).Bind(2, s.node).Bind(3, s.position).Bind(4, s.action).Bind(5, s.device);
        insert.Bind(6, s.address).Bind(7, s.property).Bind(8, s.element).Bind(9, s.raw).Bind(10, s.shown);
        insert.Bind(11, s.unit).Bind(12, s.low).Bind(13, s.high).Bind(14, s.result).Bind(15, s.reason);
        insert.Bind(16, s.started).Bind(17, s.seconds);
        insert.Run();
        insert.Reset();
    }
}

const char* const kRunColumns =
    "id, started, ended, station, operator, dut, part, attempt, verdict, reason, incomplete";

RunRow ReadRun(const Statement& q) {
    return {q.Text(0), q.Text(1), q.Text(2),     q.Text(3),
            q.Text(4), q.Text(5), q.Text(6),     static_cast<int>(q.Int(7)),
            q.Text(8), q.Text(9), q.Int(10) != 0};
}

}  // namespace

std::string NewRunId() {
    std::random_device device;
    unsigned char b[16];
    for (unsigned char& c : b) c = static_cast<unsigned char>(device() & 0xFF);
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

SqliteStore::SqliteStore(const std::string& path) {
    const int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw StoreError("results store '" + path + "': " + why);
    }
    try {
        // Another process may hold the write lock for a moment: wait for it rather than fail.
        sqlite3_busy_timeout(db_, 10000);
        Exec("PRAGMA journal_mode=WAL");
        Exec("PRAGMA foreign_keys=ON");
        Migrate();
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

SqliteStore::~SqliteStore() {
    sqlite3_close(db_);
}

void SqliteStore::Exec(const char* sql) const {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string why = message != nullptr ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw StoreError("results store: " + why);
    }
}

int SqliteStore::SchemaVersion() const {
    Statement s(db_, "PRAGMA user_version");
    return s.Step() ? static_cast<int>(s.Int(0)) : 0;
}

void SqliteStore::Migrate() {
    Transaction t(db_);
    const int from = SchemaVersion();
    if (from > kSchemaVersion)
        throw StoreError("results store: schema " + std::to_string(from) + " is newer than this program's (" +
                         std::to_string(kSchemaVersion) + ")");
    for (int v = from; v < kSchemaVersion; ++v) Exec(kMigrations[v]);
    Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
    t.Commit();
}

std::string SqliteStore::BeginRun(const RunInfo& info) {
    const std::string id = NewRunId();
    Transaction t(db_);
    Statement count(db_, "SELECT COUNT(*) FROM runs WHERE dut = ?");
    count.Bind(1, info.dut);
    const int attempt = count.Step() ? static_cast<int>(count.Int(0)) + 1 : 1;
    Statement insert(db_,
                     "INSERT INTO runs (id, started, station, operator, dut, part, attempt, tool_version,"
                     " configuration_hash, sequence_hash) VALUES (?,?,?,?,?,?,?,?,?,?)");
    insert.Bind(1, id).Bind(2, info.started).Bind(3, info.station).Bind(4, info.operatorName);
    insert.Bind(5, info.dut).Bind(6, info.part).Bind(7, attempt).Bind(8, info.toolVersion);
    insert.Bind(9, info.configurationHash).Bind(10, info.sequenceHash);
    insert.Run();
    t.Commit();
    return id;
}

void SqliteStore::AddSteps(const std::string& runId, const std::vector<StepRow>& steps) {
    Transaction t(db_);
    InsertSteps(db_, runId, steps);
    t.Commit();
}

void SqliteStore::EndRun(const std::string& runId, const std::string& ended, const std::string& verdict,
                         const std::string& reason, bool incomplete) {
    Transaction t(db_);
    Statement update(db_, "UPDATE runs SET ended = ?, verdict = ?, reason = ?, incomplete = ? WHERE id = ?");
    update.Bind(1, ended).Bind(2, verdict).Bind(3, reason).Bind(4, incomplete ? 1 : 0).Bind(5, runId);
    update.Run();
    if (sqlite3_changes(db_) != 1) throw StoreError("results store: no run " + runId);
    t.Commit();
}

std::vector<RunRow> SqliteStore::History(const std::string& dut) const {
    Statement q(db_,
                (std::string("SELECT ") + kRunColumns + " FROM runs WHERE dut = ? ORDER BY started, attempt")
                    .c_str());
    q.Bind(1, dut);
    std::vector<RunRow> out;
    while (q.Step()) out.push_back(ReadRun(q));
    return out;
}

std::vector<RunRow> SqliteStore::Runs(const RunFilter& f) const {
    Statement q(db_, (std::string("SELECT ") + kRunColumns +
                      " FROM runs WHERE (?1 = '' OR instr(dut, ?1) > 0) AND (?2 = '' OR started >= ?2)"
                      " AND (?3 = '' OR started < ?3) AND (?4 = '' OR (?4 = 'INCOMPLETE' AND incomplete = 1)"
                      " OR (incomplete = 0 AND verdict = ?4)) ORDER BY started DESC LIMIT ?5")
                         .c_str());
    q.Bind(1, f.dut).Bind(2, f.from).Bind(3, f.until).Bind(4, f.verdict).Bind(5, f.limit);
    std::vector<RunRow> out;
    while (q.Step()) out.push_back(ReadRun(q));
    return out;
}

std::vector<StepRow> SqliteStore::Steps(const std::string& runId) const {
    Statement q(db_,
                "SELECT node, position, action, device, address, property, element, raw, shown, unit, low,"
                " high, result, reason, started, seconds FROM steps WHERE run = ? ORDER BY rowid");
    q.Bind(1, runId);
    std::vector<StepRow> out;
    const auto integer = [&q](int c) {
        return q.Null(c) ? std::nullopt : std::optional<int>(static_cast<int>(q.Int(c)));
    };
    const auto real = [&q](int c) { return q.Null(c) ? std::nullopt : std::optional<double>(q.Real(c)); };
    while (q.Step()) {
        StepRow s;
        s.node = q.Text(0);
        s.position = static_cast<int>(q.Int(1));
        s.action = q.Text(2);
        s.device = q.Text(3);
        s.address = integer(4);
        s.property = q.Text(5);
        s.element = integer(6);
        if (!q.Null(7)) s.raw = q.Int(7);
        s.shown = real(8);
        s.unit = q.Text(9);
        s.low = real(10);
        s.high = real(11);
        s.result = q.Text(12);
        s.reason = q.Text(13);
        s.started = q.Text(14);
        s.seconds = q.Real(15);
        out.push_back(std::move(s));
    }
    return out;
}

void SqliteStore::PutRun(const StoredRun& run) {
    Transaction t(db_);
    PutRunLocked(run);
    t.Commit();
}

void SqliteStore::PutRunLocked(const StoredRun& run) {
    std::optional<int> attempt;
    {
        Statement old(db_, "SELECT attempt FROM runs WHERE id = ?");
        old.Bind(1, run.id);
        if (old.Step()) attempt = static_cast<int>(old.Int(0));
    }
    if (!attempt) {
        Statement count(db_, "SELECT COUNT(*) FROM runs WHERE dut = ? AND started < ?");
        count.Bind(1, run.info.dut).Bind(2, run.info.started);
        attempt = count.Step() ? static_cast<int>(count.Int(0)) + 1 : 1;
    }
    Statement(db_, "DELETE FROM steps WHERE run = ?").Bind(1, run.id).Run();
    Statement(db_, "DELETE FROM runs WHERE id = ?").Bind(1, run.id).Run();
    Statement insert(
        db_,
        "INSERT INTO runs (id, started, ended, station, operator, dut, part, attempt, tool_version,"
        " configuration_hash, sequence_hash, verdict, reason, incomplete)"
        " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    const RunInfo& i = run.info;
    insert.Bind(1, run.id).Bind(2, i.started).Bind(3, run.ended).Bind(4, i.station).Bind(5, i.operatorName);
    insert.Bind(6, i.dut)
        .Bind(7, i.part)
        .Bind(8, *attempt)
        .Bind(9, i.toolVersion)
        .Bind(10, i.configurationHash);
    insert.Bind(11, i.sequenceHash)
        .Bind(12, run.verdict)
        .Bind(13, run.reason)
        .Bind(14, run.incomplete ? 1 : 0);
    insert.Run();
    InsertSteps(db_, run.id, run.steps);
}

void SqliteStore::MarkForServer(const std::string& runId, const std::string& server) {
    Statement(db_, "UPDATE runs SET server = ? WHERE id = ?").Bind(1, server).Bind(2, runId).Run();
}

void SqliteStore::MarkSent(const std::string& runId) {
    Statement(db_, "UPDATE runs SET server = NULL WHERE id = ?").Bind(1, runId).Run();
}

std::vector<std::string> SqliteStore::Waiting(const std::string& server) const {
    Statement q(db_, "SELECT id FROM runs WHERE server = ? ORDER BY started");
    q.Bind(1, server);
    std::vector<std::string> out;
    while (q.Step()) out.push_back(q.Text(0));
    return out;
}

StoredRun SqliteStore::Load(const std::string& runId) const {
    Statement q(db_,
                "SELECT started, station, operator, dut, part, tool_version, configuration_hash,"
                " sequence_hash, ended, verdict, reason, incomplete FROM runs WHERE id = ?");
    q.Bind(1, runId);
    if (!q.Step()) throw StoreError("results store: no run " + runId);
    StoredRun r;
    r.id = runId;
    r.info = {q.Text(0), q.Text(1), q.Text(2), q.Text(3), q.Text(4), q.Text(5), q.Text(6), q.Text(7)};
    r.ended = q.Text(8);
    r.verdict = q.Text(9);
    r.reason = q.Text(10);
    r.incomplete = q.Int(11) != 0;
    r.steps = Steps(runId);
    return r;
}

std::vector<YieldRow> SqliteStore::Yield(const std::string& since, const std::string& by) const {
    // The group of a DUT is that of its first finished run: a unit counts once.
    std::string group = "''";
    if (by == "day") group = "substr(f.started, 1, 10)";
    if (by == "station") group = "f.station";
    if (by == "part") group = "f.part";
    if (group == "''" && !by.empty()) throw StoreError("results store: no yield by '" + by + "'");
    // Each DUT's first and last finished run in the span: with one MIN() or MAX() in a grouped
    // query, SQLite takes the other columns from the row that holds it.
    const std::string sql =
        "WITH f AS (SELECT dut, MIN(attempt) AS attempt, verdict, started, station, part FROM runs"
        "   WHERE incomplete = 0 AND started >= ?1 GROUP BY dut),"
        " l AS (SELECT dut, MAX(attempt) AS attempt, verdict FROM runs"
        "   WHERE incomplete = 0 AND started >= ?1 GROUP BY dut)"
        " SELECT " +
        group +
        ", COUNT(*), SUM(f.attempt = 1 AND f.verdict = 'PASSED'),"
        " SUM(l.verdict = 'PASSED') FROM f JOIN l ON l.dut = f.dut GROUP BY 1 ORDER BY 1";
    Statement q(db_, sql.c_str());
    q.Bind(1, since);
    std::vector<YieldRow> out;
    while (q.Step())
        out.push_back(
            {q.Text(0), static_cast<int>(q.Int(1)), static_cast<int>(q.Int(2)), static_cast<int>(q.Int(3))});
    return out;
}

std::vector<ParetoRow> SqliteStore::Pareto(const std::string& since) const {
    Statement q(db_,
                "SELECT s.node, s.action, COUNT(*) FROM steps s JOIN runs r ON r.id = s.run"
                " WHERE s.result IN ('FAILED', 'ERROR') AND r.started >= ?"
                " GROUP BY s.node, s.action ORDER BY 3 DESC, 1, 2");
    q.Bind(1, since);
    std::vector<ParetoRow> out;
    while (q.Step()) out.push_back({q.Text(0), q.Text(1), static_cast<int>(q.Int(2))});
    return out;
}

}  // namespace korva::results
