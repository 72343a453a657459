// The results store at a line's scale: 100,000 runs of 10 steps each (1,000,000 step rows) of
// 60,000 units, a fifth of them tested again. What a line engineer asks: one unit's history with
// its steps (target: under 50 ms), the yield of every run (target: under 1 s), the failing steps.
#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <filesystem>
#include <string>

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

void BM_HistoryWithSteps(benchmark::State& state) {
    const SqliteStore store(Filled());
    std::size_t rows = 0;
    int n = 0;
    for (auto _ : state) {
        rows = 0;
        for (const RunRow& r : store.History(Dut(n++ * 7919))) rows += 1 + store.Steps(r.id).size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_HistoryWithSteps)->Unit(benchmark::kMillisecond);

void BM_Yield(benchmark::State& state) {
    const SqliteStore store(Filled());
    const char* by = state.range(0) == 0 ? "" : "day";
    std::size_t units = 0;
    for (auto _ : state) {
        units = 0;
        for (const YieldRow& y : store.Yield("", by)) units += static_cast<std::size_t>(y.units);
    }
    state.counters["units"] = static_cast<double>(units);
}
BENCHMARK(BM_Yield)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Pareto(benchmark::State& state) {
    const SqliteStore store(Filled());
    for (auto _ : state) benchmark::DoNotOptimize(store.Pareto("").size());
}
BENCHMARK(BM_Pareto)->Unit(benchmark::kMillisecond);

}  // namespace
