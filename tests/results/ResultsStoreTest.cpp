#include "results/ResultsStore.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>

#include "results/RunWriter.h"
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

// The same tests on both engines. The server's are run by the test script against a cluster of
// its own (KORVA_TEST_PG_URL); each test starts on an empty database.
class ResultsStore : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam() == "sqlite") {
            location_ = dir_.Path() + "/results.sqlite";
            return;
        }
        const char* cluster = std::getenv("KORVA_TEST_PG_DIR");
        if (cluster == nullptr) GTEST_SKIP() << "no PostgreSQL test cluster (the test script starts one)";
        std::ifstream urlFile(std::string(cluster) + "/url");
        std::getline(urlFile, location_);
        ASSERT_FALSE(location_.empty()) << "no URL in " << cluster << "/url";
        const char* url = location_.c_str();
        PGconn* db = PQconnectdb(url);
        ASSERT_EQ(PQstatus(db), CONNECTION_OK) << PQerrorMessage(db);
        PQclear(
            PQexec(db, "SET client_min_messages = warning; DROP TABLE IF EXISTS steps, runs, korva_schema"));
        PQfinish(db);
    }
    std::unique_ptr<Store> Open() const { return OpenStore(location_); }

    test::TempDir dir_;
    std::string location_;
};

INSTANTIATE_TEST_SUITE_P(Engines, ResultsStore, testing::Values("sqlite", "postgresql"),
                         [](const auto& engine) { return engine.param; });

TEST_P(ResultsStore, KeepsEveryStepOfARunWithItsValueAndUnit) {
    std::string id;
    {
        const auto opened = Open();
        Store& store = *opened;
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
    const auto later = Open();  // what a later process finds
    const Store& store = *later;
    const auto runs = store.History("SN-1");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].id, id);
    EXPECT_EQ(runs[0].attempt, 1);
    EXPECT_EQ(runs[0].verdict, "ERROR");
    EXPECT_EQ(runs[0].reason, "curve: no reply");
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
    EXPECT_EQ(store.Runs({"N-", "", "", "ERROR"}).size(), 1u);
    EXPECT_EQ(store.Runs({"", "", "", "PASSED"}).size(), 0u);
    EXPECT_EQ(store.Runs({"", "2026-12-08", "", ""}).size(), 0u);
    EXPECT_THROW(SqliteStore(dir_.Path() + "/no/such/folder/r.sqlite"), StoreError);
    EXPECT_THROW(OpenStore("postgresql:///korva?host=" + dir_.Path() + "/none"), StoreError);
}

TEST_P(ResultsStore, AKilledRunStaysIncompleteWithTheNodesItFinished) {
    InChild([&] {
        const auto store = Open();
        store->AddSteps(store->BeginRun(Unit("SN-2", "2026-12-07T11:00:00.000Z")),
                        {Step("first", 0, "PASSED")});
    });
    const auto opened = Open();
    const Store& store = *opened;
    const auto runs = store.History("SN-2");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].incomplete);
    EXPECT_EQ(runs[0].verdict, "");
    EXPECT_EQ(store.Steps(runs[0].id).size(), 1u);
}

TEST_P(ResultsStore, TwoProcessesWritingAtOnceCountEveryAttemptOnce) {
    Open();  // the schema, before two writers race for it
    constexpr int kRuns = 40;
    std::vector<pid_t> children;
    for (int c = 0; c < 2; ++c) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const auto store = Open();
            for (int i = 0; i < kRuns; ++i) {
                const std::string id = store->BeginRun(Unit("SN-3", "2026-12-07T12:00:00.000Z"));
                store->AddSteps(id, {Step("n", 0, "PASSED"), Step("n", 1, "PASSED")});
                store->EndRun(id, "2026-12-07T12:00:01.000Z", "PASSED", "");
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
    const auto runs = Open()->History("SN-3");
    ASSERT_EQ(runs.size(), 2u * kRuns);
    std::set<int> attempts;
    for (const RunRow& r : runs) attempts.insert(r.attempt);
    EXPECT_EQ(attempts.size(), 2u * kRuns);
    EXPECT_EQ(*attempts.rbegin(), 2 * kRuns);
}

// First-pass yield counts the units whose first attempt passed, final yield those whose last run
// passed; a unit counts once, in the group of its first run.
TEST_P(ResultsStore, YieldAndTheFailingStepsByCount) {
    const auto opened = Open();
    Store& store = *opened;
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

// The line's server goes away in the middle of a run and comes back: the run goes on in the spool,
// a sync sends it whole, and a second sync (as after one cut short) leaves it once.
TEST_P(ResultsStore, ARunWhoseServerWentAwayIsSpooledAndSentOnce) {
    const char* cluster = std::getenv("KORVA_TEST_PG_DIR");
    if (GetParam() == "sqlite" || cluster == nullptr) GTEST_SKIP() << "a server's test";
    const std::string script = std::string(KORVA_SOURCE_DIR) + "/scripts/pg-cluster.sh ";
    std::vector<std::string> said;
    const std::string spoolPath = dir_.Path() + "/results.sqlite";
    RunWriter writer(location_, spoolPath, [&](const std::string& s) { said.push_back(s); });
    writer.Begin(Unit("SN-9", "2026-12-07T13:00:00.000Z"));
    writer.AddSteps({Step("first", 0, "PASSED")});
    ASSERT_EQ(std::system((script + "down " + cluster).c_str()), 0);
    writer.AddSteps({Step("second", 0, "FAILED")});
    writer.End("2026-12-07T13:00:09.000Z", "FAILED", "second", false);
    const bool restarted = std::system((script + "up " + cluster).c_str()) == 0;
    ASSERT_TRUE(restarted);
    EXPECT_TRUE(writer.Spooled());
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("kept in " + spoolPath + " and sent by 'korvarun results sync'"),
              std::string::npos);

    SqliteStore spool(spoolPath);
    const auto server = Open();
    const SyncResult first = SendWaiting(spool, *server, location_);
    EXPECT_EQ(first.sent, 1);
    EXPECT_EQ(first.waiting, 0);
    server->PutRun(spool.Load(writer.RunId()));  // a sync cut short before it marked the run sent
    EXPECT_EQ(SendWaiting(spool, *server, location_).sent, 0);
    const auto runs = server->History("SN-9");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].verdict, "FAILED");
    EXPECT_FALSE(runs[0].incomplete);
    EXPECT_EQ(server->Steps(runs[0].id).size(), 2u);
}

TEST(RunWriter, AServerThatCannotBeReachedKeepsTheRunInTheSpool) {
    test::TempDir dir;
    const std::string server = "postgresql:///korva?host=" + dir.Path() + "/nothing&connect_timeout=2";
    std::vector<std::string> said;
    RunWriter writer(server, dir.Path() + "/results.sqlite",
                     [&](const std::string& s) { said.push_back(s); });
    writer.Begin(Unit("SN-8", "2026-12-07T14:00:00.000Z"));
    writer.AddSteps({Step("only", 0, "PASSED")});
    writer.End("2026-12-07T14:00:01.000Z", "PASSED", "", false);
    EXPECT_EQ(said.size(), 1u);
    SqliteStore spool(dir.Path() + "/results.sqlite");
    ASSERT_EQ(spool.Waiting(server), std::vector<std::string>{writer.RunId()});
    const StoredRun kept = spool.Load(writer.RunId());
    EXPECT_EQ(kept.verdict, "PASSED");
    EXPECT_EQ(kept.steps.size(), 1u);
    EXPECT_TRUE(spool.Waiting("postgresql://elsewhere").empty());
}

}  // namespace
}  // namespace korva::results
