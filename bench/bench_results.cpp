// The results store at a line's scale: 100,000 runs of 10 steps each (1,000,000 step rows) of
// 60,000 units, a fifth of them tested again. What a line engineer asks: one unit's history with
// its steps (target: under 50 ms), the yield of every run (target: under 1 s), the failing steps.
#include <benchmark/benchmark.h>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>

#include "results/PgStore.h"
#include "results/ResultsStore.h"

namespace {

using namespace korva::results;

constexpr int kRuns = 100000, kSteps = 10, kUnits = 60000;

std::string Dut(int n) {
    return "SN-" + std::to_string(n % kUnits);
}

// The file is filled once, directly and in one transaction: how fast a fixture is made is not
// what is measured.
const std::string& Filled() {
    static const std::string path = [] {
        const auto p = std::filesystem::temp_directory_path() / "korva-bench-results.sqlite";
        std::filesystem::remove(p);
        { SqliteStore schema(p.string()); }
        sqlite3* db = nullptr;
        sqlite3_open(p.c_str(), &db);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* run = nullptr;
        sqlite3_stmt* step = nullptr;
        sqlite3_prepare_v2(
            db,
            "INSERT INTO runs (id, started, ended, station, dut, part, attempt, verdict, incomplete)"
            " VALUES (?, ?, ?, ?, ?, 'P-1', ?, ?, 0)",
            -1, &run, nullptr);
        sqlite3_prepare_v2(db,
                           "INSERT INTO steps (run, node, position, action, result) VALUES (?, ?, ?, ?, ?)",
                           -1, &step, nullptr);
        for (int r = 0; r < kRuns; ++r) {
            const std::string id = "run-" + std::to_string(r), dut = Dut(r);
            const std::string day = "2026-12-" + std::to_string(10 + r % 20) + "T08:00:00.000Z";
            const bool failed = r % 7 == 0;
            sqlite3_bind_text(run, 1, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(run, 2, day.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(run, 3, day.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(run, 4, r % 3 ? "s1" : "s2", -1, SQLITE_STATIC);
            sqlite3_bind_text(run, 5, dut.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(run, 6, r / kUnits + 1);
            sqlite3_bind_text(run, 7, failed ? "FAILED" : "PASSED", -1, SQLITE_STATIC);
            sqlite3_step(run);
            sqlite3_reset(run);
            for (int s = 0; s < kSteps; ++s) {
                const std::string node = "node" + std::to_string(s);
                sqlite3_bind_text(step, 1, id.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(step, 2, node.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_int(step, 3, s);
                sqlite3_bind_text(step, 4, "test Boiler FlowTemp 0 950", -1, SQLITE_STATIC);
                sqlite3_bind_text(step, 5, failed && s == r % kSteps ? "FAILED" : "PASSED", -1,
                                  SQLITE_STATIC);
                sqlite3_step(step);
                sqlite3_reset(step);
            }
        }
        sqlite3_finalize(run);
        sqlite3_finalize(step);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return p.string();
    }();
    return path;
}

// The same rows on the server of KORVA_BENCH_PG_URL (scripts/pg-cluster.sh starts one), made by
// the server itself from generate_series.
const std::string& FilledServer() {
    static const std::string url = [] {
        const char* u = std::getenv("KORVA_BENCH_PG_URL");
        if (u == nullptr) return std::string();
        PGconn* db = PQconnectdb(u);
        PQclear(PQexec(db, "DROP TABLE IF EXISTS steps, runs, korva_schema"));
        { PgStore schema(u); }
        const std::string runs =
            "INSERT INTO runs (id, started, ended, station, dut, part, attempt, verdict, incomplete)"
            " SELECT 'run-' || r, d, d, CASE WHEN r % 3 = 0 THEN 's2' ELSE 's1' END, 'SN-' || (r % " +
            std::to_string(kUnits) + "), 'P-1', r / " + std::to_string(kUnits) +
            " + 1, CASE WHEN r % 7 = 0 THEN 'FAILED' ELSE 'PASSED' END, 0 FROM (SELECT r, '2026-12-' || (10 "
            "+ r % "
            "20) || 'T08:00:00.000Z' AS d FROM generate_series(0, " +
            std::to_string(kRuns - 1) + ") r) g";
        const std::string steps =
            "INSERT INTO steps (run, node, position, action, result) SELECT 'run-' || r, 'node' || s, s,"
            " 'test Boiler FlowTemp 0 950', CASE WHEN r % 7 = 0 AND s = r % " +
            std::to_string(kSteps) + " THEN 'FAILED' ELSE 'PASSED' END FROM generate_series(0, " +
            std::to_string(kRuns - 1) + ") r, generate_series(0, " + std::to_string(kSteps - 1) + ") s";
        PQclear(PQexec(db, runs.c_str()));
        PQclear(PQexec(db, steps.c_str()));
        PQclear(PQexec(db, "VACUUM ANALYZE"));
        PQfinish(db);
        return std::string(u);
    }();
    return url;
}

template <class S>
std::unique_ptr<Store> Open(benchmark::State& state) {
    if constexpr (std::is_same_v<S, PgStore>) {
        if (FilledServer().empty()) {
            state.SkipWithError("KORVA_BENCH_PG_URL is not set");
            return nullptr;
        }
        return std::make_unique<PgStore>(FilledServer());
    } else {
        return std::make_unique<SqliteStore>(Filled());
    }
}

template <class S>
void BM_HistoryWithSteps(benchmark::State& state) {
    const auto opened = Open<S>(state);
    if (!opened) return;
    const Store& store = *opened;
    std::size_t rows = 0;
    int n = 0;
    for (auto _ : state) {
        rows = 0;
        for (const RunRow& r : store.History(Dut(n++ * 7919))) rows += 1 + store.Steps(r.id).size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_HistoryWithSteps<SqliteStore>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryWithSteps<PgStore>)->Unit(benchmark::kMillisecond);

template <class S>
void BM_Yield(benchmark::State& state) {
    const auto opened = Open<S>(state);
    if (!opened) return;
    const Store& store = *opened;
    const char* by = state.range(0) == 0 ? "" : "day";
    std::size_t units = 0;
    for (auto _ : state) {
        units = 0;
        for (const YieldRow& y : store.Yield("", by)) units += static_cast<std::size_t>(y.units);
    }
    state.counters["units"] = static_cast<double>(units);
}
BENCHMARK(BM_Yield<SqliteStore>)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Yield<PgStore>)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

template <class S>
void BM_Pareto(benchmark::State& state) {
    const auto opened = Open<S>(state);
    if (!opened) return;
    const Store& store = *opened;
    for (auto _ : state) benchmark::DoNotOptimize(store.Pareto("").size());
}
BENCHMARK(BM_Pareto<SqliteStore>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pareto<PgStore>)->Unit(benchmark::kMillisecond);

}  // namespace
