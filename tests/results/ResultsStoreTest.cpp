#include "results/ResultsStore.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>

#include "support/TempDir.h"

namespace korva::results {
namespace {

RunInfo Unit(const std::string& dut, const std::string& started, const std::string& station = "bench-1") {
    return {started, station, "ann", dut, "P-100", "1.0", "c0ffee", "5eed"};
}

StepRow Step(const std::string& node, int position, const std::string& result) {
    StepRow s;
    s.node = node;
    s.position = position;
    s.action = "test Boiler FlowTemp 0 950";
    s.result = result;
    return s;
}

// Runs body in a child process, which ends without any clean-up of its own, as a killed run does.
void InChild(const std::function<void()>& body) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(ResultsStore, KeepsEveryStepOfARunWithItsValueAndUnit) {
    test::TempDir dir;
    const std::string path = dir.Path() + "/results.sqlite";
    std::string id;
    {
        SqliteStore store(path);
        EXPECT_EQ(store.SchemaVersion(), SqliteStore::kSchemaVersion);
        id = store.BeginRun(Unit("SN-1", "2026-12-07T10:00:00.000Z"));
        StepRow measured = Step("heat", 1, "FAILED");
        measured.device = "Boiler";
        measured.address = 35;
        measured.property = "FlowTemp";
        measured.raw = 650;
        measured.shown = 65.0;
        measured.unit = "°C";
        measured.low = 0;
        measured.high = 95;
        StepRow element = Step("curve", 1, "ERROR");
        element.element = -2;
        element.reason = "no reply after 5 sendings";
        store.AddSteps(id, {Step("heat", 0, "PASSED"), measured});
        store.AddSteps(id, {element, Step("curve", 2, "DONE")});
        store.EndRun(id, "2026-12-07T10:00:05.000Z", "ERROR", "curve: no reply");
    }
    const SqliteStore store(path);  // what a later process finds
    const auto runs = store.History("SN-1");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].id, id);
    EXPECT_EQ(runs[0].attempt, 1);
    EXPECT_EQ(runs[0].verdict, "ERROR");
    EXPECT_FALSE(runs[0].incomplete);
    const auto steps = store.Steps(id);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[1].raw, 650);
    EXPECT_EQ(steps[1].shown, 65.0);
    EXPECT_EQ(steps[1].unit, "°C");
    EXPECT_EQ(steps[1].high, 95.0);
    EXPECT_EQ(steps[1].address, 35);
    EXPECT_EQ(steps[2].element, -2);
    EXPECT_EQ(steps[2].reason, "no reply after 5 sendings");
    EXPECT_EQ(steps[3].raw, std::nullopt);
    EXPECT_THROW(SqliteStore(dir.Path() + "/no/such/folder/r.sqlite"), StoreError);
}

TEST(ResultsStore, AKilledRunStaysIncompleteWithTheNodesItFinished) {
    test::TempDir dir;
    const std::string path = dir.Path() + "/results.sqlite";
    InChild([&] {
        SqliteStore store(path);
        store.AddSteps(store.BeginRun(Unit("SN-2", "2026-12-07T11:00:00.000Z")),
                       {Step("first", 0, "PASSED")});
    });
    const SqliteStore store(path);
    const auto runs = store.History("SN-2");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].incomplete);
    EXPECT_EQ(runs[0].verdict, "");
    EXPECT_EQ(store.Steps(runs[0].id).size(), 1u);
}

TEST(ResultsStore, TwoProcessesWritingAtOnceCountEveryAttemptOnce) {
    test::TempDir dir;
    const std::string path = dir.Path() + "/results.sqlite";
    { const SqliteStore schema(path); }  // the schema, before two writers race for it
    constexpr int kRuns = 40;
    std::vector<pid_t> children;
    for (int c = 0; c < 2; ++c) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            SqliteStore store(path);
            for (int i = 0; i < kRuns; ++i) {
                const std::string id = store.BeginRun(Unit("SN-3", "2026-12-07T12:00:00.000Z"));
                store.AddSteps(id, {Step("n", 0, "PASSED"), Step("n", 1, "PASSED")});
                store.EndRun(id, "2026-12-07T12:00:01.000Z", "PASSED", "");
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto runs = SqliteStore(path).History("SN-3");
    ASSERT_EQ(runs.size(), 2u * kRuns);
    std::set<int> attempts;
    for (const RunRow& r : runs) attempts.insert(r.attempt);
    EXPECT_EQ(attempts.size(), 2u * kRuns);
    EXPECT_EQ(*attempts.rbegin(), 2 * kRuns);
}

// First-pass yield counts the units whose first attempt passed, final yield those whose last run
// passed; a unit counts once, in the group of its first run.
TEST(ResultsStore, YieldAndTheFailingStepsByCount) {
    test::TempDir dir;
    SqliteStore store(dir.Path() + "/results.sqlite");
    const struct {
        const char *dut, *started, *station, *verdict, *failingNode;
    } runs[] = {
        {"A", "2026-12-06T09:00:00Z", "s1", "PASSED", ""},
        {"B", "2026-12-06T09:10:00Z", "s1", "FAILED", "leak"},
        {"B", "2026-12-07T09:20:00Z", "s2", "PASSED", ""},
        {"C", "2026-12-07T09:30:00Z", "s2", "FAILED", "leak"},
        {"D", "2026-12-07T09:40:00Z", "s2", "ERROR", "power"},
        {"E", "2026-12-07T09:50:00Z", "s2", "", "power"},  // killed: not counted in the yield
    };
    for (const auto& r : runs) {
        const std::string id = store.BeginRun(Unit(r.dut, r.started, r.station));
        if (*r.failingNode) store.AddSteps(id, {Step(r.failingNode, 0, "FAILED")});
        if (*r.verdict) store.EndRun(id, r.started, r.verdict, "");
    }
    const auto all = store.Yield("", "");
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].units, 4);
    EXPECT_EQ(all[0].firstPass, 1);
    EXPECT_EQ(all[0].finalPass, 2);
    const auto byDay = store.Yield("", "day");
    ASSERT_EQ(byDay.size(), 2u);
    EXPECT_EQ(byDay[0].group, "2026-12-06");
    EXPECT_EQ(byDay[0].units, 2);  // B counts on the day it was first tested
    // Since the 7th: B (retested, so not a first pass), C and D, all on s2.
    const auto since = store.Yield("2026-12-07", "station");
    ASSERT_EQ(since.size(), 1u);
    EXPECT_EQ(since[0].group, "s2");
    EXPECT_EQ(since[0].units, 3);
    EXPECT_EQ(since[0].firstPass, 0);
    EXPECT_THROW(store.Yield("", "colour"), StoreError);
    const auto pareto = store.Pareto("");
    ASSERT_EQ(pareto.size(), 2u);
    EXPECT_EQ(pareto[0].node, "leak");
    EXPECT_EQ(pareto[0].failures, 2);
    EXPECT_EQ(pareto[1].failures, 2);
    EXPECT_EQ(store.Pareto("2026-12-07").at(0).node, "power");
}

}  // namespace
}  // namespace korva::results
