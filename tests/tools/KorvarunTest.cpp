// korvarun against korvasim over a pseudo-terminal: exit status, progress, and both reports read
// back by checkers written from the layouts that korvarun(1) documents.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <filesystem>
#include <map>
#include <set>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "support/SimProcess.h"
#include "results/ResultsStore.h"
#include "support/TempDir.h"
#include "xml/SafeFile.h"

namespace korva {
namespace {

struct Outcome {
    std::string result;   // PASSED, FAILED, ERROR or SKIPPED as the JUnit file tells it
    std::string message;  // of the failure or error element
};

// The JUnit layout: testsuites > testsuite > (properties > property)*, testcase*; a testcase
// holds at most one of failure, error, skipped, and a system-out; every count adds up.
std::map<std::string, Outcome> ReadJunit(const std::string& text) {
    std::map<std::string, Outcome> cases;
    QXmlStreamReader x(QByteArray::fromStdString(text));
    std::map<std::string, int> declared, counted;
    std::vector<std::string> path;
    std::string current;
    while (!x.atEnd()) {
        x.readNext();
        if (x.isEndElement()) path.pop_back();
        if (!x.isStartElement()) continue;
        const std::string name = x.name().toString().toStdString();
        const std::string parent = path.empty() ? "" : path.back();
        path.push_back(name);
        static const std::map<std::string, std::set<std::string>> allowed = {
            {"testsuites", {""}},         {"testsuite", {"testsuites"}}, {"properties", {"testsuite"}},
            {"property", {"properties"}}, {"testcase", {"testsuite"}},   {"failure", {"testcase"}},
            {"error", {"testcase"}},      {"skipped", {"testcase"}},     {"system-out", {"testcase"}}};
        const auto it = allowed.find(name);
        EXPECT_TRUE(it != allowed.end() && it->second.count(parent)) << name << " inside '" << parent << "'";
        if (name == "testsuite") {
            for (const char* a : {"tests", "failures", "errors", "skipped"}) {
                bool ok = false;
                declared[a] = x.attributes().value(a).toInt(&ok);
                EXPECT_TRUE(ok) << a;
            }
            for (const char* a : {"timestamp", "hostname"})
                EXPECT_FALSE(x.attributes().value(a).isEmpty()) << a;
        } else if (name == "testcase") {
            current = x.attributes().value("name").toString().toStdString();
            EXPECT_FALSE(x.attributes().value("classname").isEmpty());
            bool ok = false;
            EXPECT_GE(x.attributes().value("time").toDouble(&ok), 0.0);
            EXPECT_TRUE(ok);
            ++counted["tests"];
            EXPECT_TRUE(cases.emplace(current, Outcome{"PASSED", ""}).second)
                << "two cases named " << current;
        } else if (name == "failure" || name == "error" || name == "skipped") {
            EXPECT_EQ(cases[current].result, "PASSED") << current << " has two outcomes";
            cases[current] = {name == "failure" ? "FAILED"
                              : name == "error" ? "ERROR"
                                                : "SKIPPED",
                              x.attributes().value("message").toString().toStdString()};
            ++counted[name == "failure" ? "failures" : name == "error" ? "errors" : "skipped"];
        }
    }
    EXPECT_FALSE(x.hasError()) << x.errorString().toStdString();
    for (const char* a : {"tests", "failures", "errors", "skipped"}) EXPECT_EQ(declared[a], counted[a]) << a;
    return cases;
}

bool IsStamp(const QJsonValue& v) {
    return v.isString() && QDateTime::fromString(v.toString(), Qt::ISODateWithMs).isValid();
}
bool IsSha(const QJsonValue& v) {
    return QRegularExpression("^[0-9a-f]{64}$").match(v.toString()).hasMatch();
}

// The JSON layout, version 1; the nodes in run order.
QJsonArray ReadJson(const std::string& text, const std::string& status) {
    QJsonParseError error{};
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error).object();
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    EXPECT_EQ(root["format"].toString(), "korvarun-result");
    EXPECT_EQ(root["version"].toInt(), 1);
    EXPECT_EQ(root["status"].toString().toStdString(), status);
    EXPECT_EQ(root["aborted"].toBool(), status == "aborted");
    EXPECT_FALSE(root["station"].toString().isEmpty());
    EXPECT_EQ(root["dut"].toString(), "SN-0042");
    EXPECT_TRUE(IsStamp(root["started"]) && IsStamp(root["ended"]));
    EXPECT_TRUE(IsSha(root["sequence"]["sha256"])) << root["sequence"]["sha256"].toString().toStdString();
    EXPECT_EQ(root["configuration"].toArray().size(), 4);  // paths, constants, units, plant
    for (const QJsonValue& f : root["configuration"].toArray()) EXPECT_TRUE(IsSha(f["sha256"]));
    for (const QJsonValue& n : root["nodes"].toArray()) {
        EXPECT_TRUE(n["name"].isString() && n["result"].isString() && n["message"].isString());
        EXPECT_TRUE(n["seconds"].isDouble() && n["output"].isArray());
        if (n["result"] != "SKIPPED") EXPECT_TRUE(IsStamp(n["started"]) && IsStamp(n["ended"]));
        for (const QJsonValue& a : n["actions"].toArray()) {
            for (const char* key : {"node", "action", "kind", "result", "actual"})
                EXPECT_TRUE(a[key].isString()) << key;
            EXPECT_TRUE(a["limits"].isNull() || a["limits"].isObject());
            EXPECT_TRUE(IsStamp(a["started"]) && a["seconds"].isDouble());
        }
    }
    return root["nodes"].toArray();
}

// One bench file; each row runs some of its nodes.
constexpr const char* kBench =
    "displaytestnode pass;\n"
    "  set FeedPump.SpeedSetpoint 1234;\n"
    "  test FeedPump.SpeedSetpoint 1234 1234;\n"
    "endnode;\n"
    "displaytestnode fail;\n"
    "  set FeedPump.SpeedSetpoint 1234;\n"
    "  test FeedPump.SpeedSetpoint 1 5;\n"
    "  get FeedPump.FirmwareVersion;\n"
    "endnode;\n"
    "testnode ask;\n"
    "  userintervention \"Fit the test plug\";\n"
    "endnode;\n"
    "testnode slow;\n"
    "  wait 3000;\n"
    "endnode;\n"
    "testnode mute;\n"
    "  get FeedPump.FirmwareVersion;\n"
    "endnode;\n"
    "testnode hop;\n"
    "  get FeedPump.FirmwareVersion;\n"
    "  if nodepass landing;\n"
    "endnode;\n"
    "testnode landing;\n"
    "  get Nobody.Speed;\n"
    "endnode;\n"
    "testnode steady;\n"
    "  get FeedPump.FirmwareVersion;\n"
    "  wait 100;\n"
    "  get FeedPump.FirmwareVersion;\n"
    "endnode;\n"
    "testnode hold;\n"
    "  wait 3000;\n"
    "endnode;\n"
    "testnode units;\n"
    "  set Boiler.FlowTemp 650;\n"
    "  test Boiler FlowTemp 0 950;\n"
    "endnode;\n"
    "testnode safe;\n"
    "  set FeedPump.SpeedSetpoint 0;\n"
    "  test FeedPump.SpeedSetpoint 0 0;\n"
    "endnode;\n";

class Korvarun : public ::testing::Test {
  protected:
    // korvasim on a fresh copy of the demo plant, as COM1 of the folder the run works in, the bench file
    // beside it.
    void StartSim(std::vector<std::string> options = {}) {
        plant = std::make_unique<test::DemoSim>();
        plant->dir.Write("bench.kts", kBench);
        ASSERT_TRUE(plant->Start(std::move(options))) << plant->sim->err;
    }
    // korvarun on the bench file, with the options and nodes given.
    std::unique_ptr<test::SimProcess> Start(std::vector<std::string> args) {
        std::vector<std::string> all{"--workdir", plant->dir.Path(), "--port", "COM1", "--dut", "SN-0042"};
        all.insert(all.end(), {"--junit", Junit(), "--json", Json(), plant->dir.Path() + "/bench.kts"});
        all.insert(all.end(), args.begin(), args.end());
        return std::make_unique<test::SimProcess>(all, KORVARUN_PATH);
    }
    std::string Junit() const { return plant->dir.Path() + "/junit.xml"; }
    std::string Json() const { return plant->dir.Path() + "/run.json"; }

    std::unique_ptr<test::DemoSim> plant;
};

// "node=RESULT ..." as a map.
std::map<std::string, std::string> Results(const std::string& text) {
    std::map<std::string, std::string> out;
    for (const std::string& w : test::Words(text)) out[w.substr(0, w.find('='))] = w.substr(w.find('=') + 1);
    return out;
}

TEST_F(Korvarun, RunsNodesAndReportsThem) {
    const struct {
        std::string args, sim;  // korvarun's and korvasim's, as words
        int status;
        std::string results;  // node=RESULT
        std::string message;  // in the first failure or error, when one is expected
    } cases[] = {
        {"pass", "", 0, "pass=PASSED", ""},
        {"pass fail", "", 1, "pass=PASSED fail=FAILED",
         "test FeedPump SpeedSetpoint 1 5: FAILED, limits 1 to 5 (1 to 5 rpm), actual 1234 (1234 rpm)"},
        {"--all", "", 1, "pass=PASSED fail=FAILED", "limits 1 to 5"},
        {"mute", "--drop 1", 2, "mute=ERROR",
         "get FeedPump FirmwareVersion: ERROR: no reply after 5 sendings"},
        // A jump away from a pass to a node that errs is no pass; the message names where it failed.
        {"hop", "", 2, "hop=ERROR", "landing: Invalid Device Name: ERROR: unknown device 'Nobody'"},
        {"--cleanup safe --timeout 0.5 slow", "", 2, "slow=ERROR safe=PASSED", "timed out after 0.5 s"},
        {"--no ask pass", "", 1, "ask=FAILED pass=PASSED", "userintervention Fit the test plug: FAILED"},
        {"--yes ask", "", 0, "ask=PASSED", ""},
        // Without a terminal and without --yes or --no, a prompt ends its node and never waits.
        {"ask pass", "", 2, "ask=ERROR pass=PASSED", "there is no terminal: give --yes or --no"},
        {"--timeout 0.5 slow pass", "", 2, "slow=ERROR pass=PASSED", "timed out after 0.5 s"},
        {"--stop-on-fail fail pass", "", 1, "fail=FAILED pass=SKIPPED", "actual 1234"},
    };
    for (const auto& c : cases) {
        StartSim(test::Words(c.sim));  // every row on a plant of its own
        auto run = Start(test::Words(c.args));
        const std::string& row = c.args;
        const std::map<std::string, std::string> results = Results(c.results);
        ASSERT_EQ(run->Wait(), c.status) << row << "\n" << run->out << run->err;
        const auto junit = ReadJunit(ReadRegularFile(Junit()));
        const QJsonArray nodes = ReadJson(ReadRegularFile(Json()), "complete");
        ASSERT_EQ(junit.size(), results.size()) << row;
        ASSERT_EQ(nodes.size(), static_cast<qsizetype>(results.size())) << row;
        std::string firstMessage;
        for (const QJsonValue& n : nodes) {
            const std::string name = n["name"].toString().toStdString();
            EXPECT_EQ(n["result"].toString().toStdString(), results.at(name)) << row << " " << name;
            EXPECT_EQ(junit.at(name).result, results.at(name)) << row << " " << name;
            if (firstMessage.empty()) firstMessage = junit.at(name).message;
            if (name != "fail" || c.args != "pass fail") continue;
            // The failed test carries its limits and actual value, and the get after it still runs.
            const QJsonArray actions = n["actions"].toArray();
            ASSERT_EQ(actions.size(), 3);
            EXPECT_EQ(actions[1]["kind"], "test");
            EXPECT_EQ(actions[1]["limits"].toObject(),
                      (QJsonObject{{"min", 1}, {"max", 5}, {"shownMin", 1}, {"shownMax", 5}}));
            EXPECT_EQ(actions[1]["actual"], "1234");
            EXPECT_EQ(actions[2]["result"], "PASSED");
        }
        EXPECT_NE(firstMessage.find(c.message), std::string::npos) << row << ": " << firstMessage;
        // One progress line per action carried out, each with its result.
        std::size_t actions = 0;
        for (const QJsonValue& n : nodes) actions += static_cast<std::size_t>(n["actions"].toArray().size());
        std::size_t lines = 0;
        for (std::size_t at = 0; (at = run->out.find(" | ", at)) != std::string::npos;
             at = run->out.find('\n', at))
            ++lines;
        EXPECT_EQ(lines, actions) << row << "\n" << run->out;
    }
}

// Sequences keep raw numbers; the reports carry the shown value and its unit beside them.
TEST_F(Korvarun, ReportsEngineeringValuesInTheChosenUnits) {
    const struct {
        std::vector<std::string> args;
        QJsonObject shown, limits;
        std::string line;
    } cases[] = {
        {{"units"},
         {{"raw", 650}, {"value", 65.0}, {"decimals", 1}, {"unit", "°C"}, {"text", "65.0 °C"}},
         {{"min", 0}, {"max", 950}, {"shownMin", 0.0}, {"shownMax", 95.0}},
         "| test Boiler FlowTemp 0 950 | PASSED | 650 (65.0 °C)"},
        {{"--units", "US", "units"},
         {{"raw", 650}, {"value", 149.0}, {"decimals", 1}, {"unit", "°F"}, {"text", "149.0 °F"}},
         {{"min", 0}, {"max", 950}, {"shownMin", 32.0}, {"shownMax", 203.0}},
         "| test Boiler FlowTemp 0 950 | PASSED | 650 (149.0 °F)"},
    };
    for (const auto& c : cases) {
        StartSim();
        auto run = Start(c.args);
        ASSERT_EQ(run->Wait(), 0) << run->out << run->err;
        EXPECT_NE(run->out.find(c.line), std::string::npos) << run->out;
        const QJsonArray nodes = ReadJson(ReadRegularFile(Json()), "complete");
        ASSERT_EQ(nodes.size(), 1);
        const QJsonArray actions = nodes[0]["actions"].toArray();
        ASSERT_EQ(actions.size(), 2);
        EXPECT_EQ(actions[1]["actual"], "650");
        EXPECT_EQ(actions[1]["shown"].toObject(), c.shown)
            << QJsonDocument(actions[1].toObject()).toJson().data();
        EXPECT_EQ(actions[1]["limits"].toObject(), c.limits);
    }
    auto unknown = Start({"--units", "Imperial", "units"});
    EXPECT_EQ(unknown->Wait(), 2);
    EXPECT_NE(unknown->err.find("--units Imperial: no such unit scheme; there are SI, US"), std::string::npos)
        << unknown->err;
}

// Every run of a unit is kept with its steps, counted as the unit's next attempt; a killed run stays
// as an incomplete one with the nodes it finished.
TEST_F(Korvarun, KeepsEveryRunOfAUnitInTheResultsStore) {
    StartSim();
    for (int attempt = 1; attempt <= 2; ++attempt) {
        auto run = Start({"--operator", "ann", "--part", "P-7", "pass", "fail"});
        ASSERT_EQ(run->Wait(), 1) << run->out << run->err;
    }
    auto killed = Start({"pass", "slow"});
    ASSERT_TRUE(killed->WaitForOutput(">> slow")) << killed->out << killed->err;
    killed->Signal(SIGKILL);
    killed->Wait();
    auto none = Start({"--results", "none", "pass"});
    ASSERT_EQ(none->Wait(), 0) << none->err;

    const results::SqliteStore store(plant->dir.Path() + "/results.sqlite");
    const auto runs = store.History("SN-0042");
    ASSERT_EQ(runs.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(runs[i].attempt, i + 1);
        EXPECT_EQ(runs[i].verdict, "FAILED");
        EXPECT_EQ(runs[i].operatorName, "ann");
        EXPECT_EQ(runs[i].part, "P-7");
        EXPECT_FALSE(runs[i].incomplete);
    }
    EXPECT_TRUE(runs[2].incomplete);
    EXPECT_EQ(store.Steps(runs[2].id).size(), 2u);  // the pass node, which ended before the kill
    const auto steps = store.Steps(runs[1].id);
    ASSERT_EQ(steps.size(), 5u);
    const results::StepRow& test = steps[3];
    EXPECT_EQ(test.node, "fail");
    EXPECT_EQ(test.action, "test FeedPump SpeedSetpoint 1 5");
    EXPECT_EQ(test.device, "FeedPump");
    EXPECT_EQ(test.address, 34);
    EXPECT_EQ(test.property, "SpeedSetpoint");
    EXPECT_EQ(test.raw, 1234);
    EXPECT_EQ(test.unit, "rpm");
    EXPECT_EQ(test.low, 1.0);
    EXPECT_EQ(test.high, 5.0);
    EXPECT_EQ(test.result, "FAILED");
    EXPECT_EQ(store.Pareto("").at(0).failures, 2);

    // What the store answers from a terminal.
    const std::string d = plant->dir.Path();
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;  // all of it, or the start of the error
    } queries[] = {
        {{"yield", "--workdir", d, "--csv"},
         0,
         "all,units,first_pass,final_pass,first_pass_%,final_%\n,1,0,0,0.0,0.0\n"},
        {{"pareto", "--csv", "--workdir", d},
         0,
         "failures,node,action\n2,fail,test FeedPump SpeedSetpoint 1 5\n"},
        {{"history", "--workdir", d}, 2, "korvarun: results history: which DUT?"},
        {{"yield", "--by", "colour", "--workdir", d}, 2, "korvarun: results store: no yield by 'colour'"},
        {{"pareto", "--results", d + "/none.sqlite"}, 2, "korvarun: results: no results file"},
    };
    for (const auto& q : queries) {
        std::vector<std::string> args{"results"};
        args.insert(args.end(), q.args.begin(), q.args.end());
        test::SimProcess run(args, KORVARUN_PATH);
        EXPECT_EQ(run.Wait(), q.status) << q.args[0] << run.err;
        if (q.status == 0)
            EXPECT_EQ(run.out, q.out);
        else
            EXPECT_EQ(run.err.rfind(q.out, 0), 0u) << run.err;
    }
    test::SimProcess history({"results", "history", "SN-0042", "--workdir", d}, KORVARUN_PATH);
    ASSERT_EQ(history.Wait(), 0) << history.err;
    EXPECT_EQ(std::count(history.out.begin(), history.out.end(), '\n'), 4) << history.out;
    EXPECT_NE(history.out.find("INCOMPLETE"), std::string::npos) << history.out;
}

// A line's server that is not there: the run is said to be kept in results.sqlite, waits there for
// the server, and a sync that cannot reach it either leaves it waiting. The DUT is read from the unit.
TEST_F(Korvarun, KeepsARunForAServerThatCannotBeReached) {
    StartSim();
    ASSERT_EQ(Start({"--results", "none", "fail"})->Wait(), 1);  // sets SpeedSetpoint to 1234
    const std::string d = plant->dir.Path(), server = "postgresql:///korva?host=" + d + "/no-server";
    test::SimProcess run({"--workdir", d, "--port", "COM1", "--dut-from", "FeedPump.SpeedSetpoint",
                          "--results", server, "--station", "Line-3", d + "/bench.kts", "fail"},
                         KORVARUN_PATH);
    ASSERT_EQ(run.Wait(), 1) << run.out << run.err;
    EXPECT_NE(
        run.err.find("this run is kept in " + d + "/results.sqlite and sent by 'korvarun results sync'"),
        std::string::npos)
        << run.err;
    results::SqliteStore spool(d + "/results.sqlite");
    const auto runs = spool.History("1234");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].station, "Line-3");
    EXPECT_EQ(spool.Waiting(server), std::vector<std::string>{runs[0].id});
    test::SimProcess sync({"results", "sync", "--workdir", d, "--results", server}, KORVARUN_PATH);
    EXPECT_EQ(sync.Wait(), 2);
    EXPECT_NE(sync.err.find("the runs wait in " + d + "/results.sqlite"), std::string::npos) << sync.err;
    EXPECT_EQ(spool.Waiting(server).size(), 1u);

    const struct {
        std::vector<std::string> args;
        std::string error;
    } refused[] = {
        {{"--dut-from", "FeedPump.Nothing", "--port", "COM1"},
         "--dut-from FeedPump.Nothing: no such property"},
        {{"--dut-from", "FeedPump.SpeedSetpoint", "--port", "COM1", "--dut", "X"},
         "--dut-from reads the DUT"},
        {{"--dut-from", "FeedPump.SpeedSetpoint"}, "--dut-from needs the port"},
    };
    for (const auto& r : refused) {
        std::vector<std::string> args{"--workdir", d};
        args.insert(args.end(), r.args.begin(), r.args.end());
        args.insert(args.end(), {d + "/bench.kts", "pass"});
        test::SimProcess bad(args, KORVARUN_PATH);
        EXPECT_EQ(bad.Wait(), 2) << r.error;
        EXPECT_NE(bad.err.find(r.error), std::string::npos) << bad.err;
    }
}

// Two units' reports merged by a real JUnit consumer: the passed unit's node stays beside the failed
// unit's, because suites and classes carry the DUT.
TEST_F(Korvarun, JunitReportsOfTwoUnitsStayApartWhenMerged) {
    StartSim();
    const std::string d = plant->dir.Path();
    const struct {
        const char* dut;
        std::vector<std::string> nodes;
        int status;
    } units[] = {{"SN-A", {"pass"}, 0}, {"SN-B", {"pass", "fail"}, 1}};
    for (const auto& u : units) {
        std::vector<std::string> args{
            "--workdir",     d,           "--port", "COM1",    "--dut",
            u.dut,           "--results", "none",   "--junit", d + "/" + u.dut + ".xml",
            d + "/bench.kts"};
        args.insert(args.end(), u.nodes.begin(), u.nodes.end());
        test::SimProcess run(args, KORVARUN_PATH);
        ASSERT_EQ(run.Wait(), u.status) << run.err;
    }
    test::SimProcess merge({"merge", d + "/SN-A.xml", d + "/SN-B.xml", d + "/merged.xml"},
                           "/usr/bin/junitparser");
    ASSERT_EQ(merge.Wait(), 0) << merge.err;
    test::SimProcess read({"-c",
                           "import sys, junitparser\n"
                           "for s in junitparser.JUnitXml.fromfile(sys.argv[1]):\n"
                           "  for c in s: print(c.classname, c.name, 'FAILED' if c.result else 'PASSED')",
                           d + "/merged.xml"},
                          "/usr/bin/python3");
    ASSERT_EQ(read.Wait(), 0) << read.err;
    EXPECT_EQ(read.out,
              "bench.kts.SN-A pass PASSED\n"
              "bench.kts.SN-B pass PASSED\n"
              "bench.kts.SN-B fail FAILED\n");
}

TEST_F(Korvarun, SigtermDuringAWaitEndsWithACompleteAbortedRecord) {
    StartSim();
    auto run = Start({"pass", "slow", "fail"});
    ASSERT_TRUE(run->WaitForOutput(">> slow")) << run->out << run->err;
    run->Signal(SIGTERM);
    ASSERT_EQ(run->Wait(), 130) << run->out << run->err;
    const QJsonArray nodes = ReadJson(ReadRegularFile(Json()), "aborted");
    ASSERT_EQ(nodes.size(), 3);
    EXPECT_EQ(nodes[0]["result"], "PASSED");
    EXPECT_EQ(nodes[1]["result"], "ERROR");
    EXPECT_EQ(nodes[1]["message"], "interrupted by signal 15");
    EXPECT_EQ(nodes[2]["result"], "SKIPPED");
    EXPECT_EQ(ReadJunit(ReadRegularFile(Junit())).at("slow").result, "ERROR");
}

// However a run ends, the reports on disk never read as a clean pass, and the clean-up node runs.
TEST_F(Korvarun, AbortedRunsReadAsIncompleteAndCleanUp) {
    const struct {
        std::string name, args;
        std::vector<int> sent;  // sent once ">> slow" has shown, each after the output before it
        int status;
        std::string runStatus, results;
    } cases[] = {
        {"killed", "pass slow", {SIGKILL}, 128 + SIGKILL, "running", "pass=PASSED slow=ERROR"},
        {"terminated, then cleaned up",
         "--cleanup safe pass slow",
         {SIGTERM},
         130,
         "aborted",
         "pass=PASSED slow=ERROR safe=PASSED"},
        {"a second signal ends the clean-up",
         "--cleanup hold slow",
         {SIGTERM, SIGTERM},
         130,
         "aborted",
         "slow=ERROR hold=ERROR"},
    };
    for (const auto& c : cases) {
        StartSim();
        auto run = Start(test::Words(c.args));
        ASSERT_TRUE(run->WaitForOutput(">> slow\n")) << c.name << run->out << run->err;
        run->Signal(c.sent[0]);
        if (c.sent.size() > 1) {
            ASSERT_TRUE(run->WaitForOutput(">> hold (clean-up)")) << c.name << run->out << run->err;
            run->Signal(c.sent[1]);
        }
        ASSERT_EQ(run->Wait(), c.status) << c.name << run->out << run->err;
        const std::string json = ReadRegularFile(Json());
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json));
        EXPECT_EQ(doc["status"].toString().toStdString(), c.runStatus) << c.name;
        // A consumer that reads the exit status must not see a clean run in a killed one.
        EXPECT_EQ(doc["exit_status"].isNull(), c.runStatus == "running") << c.name << json;
        const auto junit = ReadJunit(ReadRegularFile(Junit()));
        EXPECT_EQ(junit.count("run incomplete"), c.runStatus == "running" ? 1u : 0u) << c.name;
        for (const auto& [node, result] : Results(c.results)) {
            ASSERT_EQ(junit.count(node), 1u) << c.name << " " << node;
            EXPECT_EQ(junit.at(node).result, result) << c.name << " " << node;
        }
    }
}

// Two units at once, each on its own simulator: the one whose line is pulled mid-run ends in ERROR
// with the reason, and the other's record is complete and passed.
TEST_F(Korvarun, StationsRunSideBySideAndALostLineStopsOnlyItsOwn) {
    StartSim();
    test::DemoSim second;
    ASSERT_TRUE(second.Start()) << second.sim->err;
    test::SimProcess run({"--workdir", plant->dir.Path(), "--station", plant->pty + "=SN-1", "--station",
                          second.pty + "=SN-2", "--stop-on-fail", "--junit", Junit(), "--json", Json(),
                          plant->dir.Path() + "/bench.kts", "steady", "pass"},
                         KORVARUN_PATH);
    ASSERT_TRUE(run.WaitForOutput("[SN-2] steady | get FeedPump FirmwareVersion | PASSED"))
        << run.out << run.err;
    second.sim->Signal(SIGKILL);
    ASSERT_EQ(run.Wait(), 2) << run.out << run.err;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(ReadRegularFile(Json())));
    ASSERT_EQ(doc["format"].toString(), "korvarun-stations");
    const QJsonArray stations = doc["stations"].toArray();
    ASSERT_EQ(stations.size(), 2);
    EXPECT_EQ(stations[0]["dut"], "SN-1");
    EXPECT_EQ(stations[0]["status"], "complete");
    EXPECT_EQ(stations[0]["exit_status"].toInt(), 0);
    for (const QJsonValue& n : stations[0]["nodes"].toArray())
        EXPECT_EQ(n["result"], "PASSED") << n["name"].toString().toStdString();
    EXPECT_EQ(stations[1]["exit_status"].toInt(), 2);
    EXPECT_EQ(stations[1]["nodes"][0]["result"], "ERROR");
    EXPECT_NE(stations[1]["nodes"][0]["actions"][2]["reason"].toString().toStdString().find(
                  "port not open or lost"),
              std::string::npos)
        << stations[1]["nodes"][0]["actions"].toArray().size();
    // One suite per unit, so that a viewer never merges the two.
    const std::string junit = ReadRegularFile(Junit());
    EXPECT_NE(junit.find("<testsuite name=\"bench.kts SN-1\""), std::string::npos) << junit;
    EXPECT_NE(junit.find("classname=\"bench.kts.SN-2\""), std::string::npos);
}

TEST_F(Korvarun, TheTimeoutEndsAPromptOnATerminal) {
    StartSim();
    test::Pty terminal;
    std::vector<std::string> args{"--workdir", plant->dir.Path(), "--port", "COM1", "--json", Json()};
    args.insert(args.end(), {"--timeout", "0.5", plant->dir.Path() + "/bench.kts", "ask"});
    test::SimProcess run(args, KORVARUN_PATH, nullptr, terminal.SlavePath().c_str());
    ASSERT_EQ(run.Wait(), 2) << run.out << run.err;
    EXPECT_NE(run.out.find("Fit the test plug [ok/cancel]"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("userintervention: timed out after 0.5 s"), std::string::npos) << run.out;
}

// What cannot be run ends with status 2 and one line that says why, before any node starts.
TEST_F(Korvarun, RefusesWhatCannotBeRun) {
    StartSim();
    plant->dir.Write("empty.kts", "; nothing but a remark\n");
    const std::string bench = plant->dir.Path() + "/bench.kts";
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{bench, "nosuchnode"}, "no test node 'nosuchnode'"},
        {{bench}, "no test node 'autorun'"},
        {{plant->dir.Path() + "/empty.kts"}, "no testnode or displaytestnode"},
        {{plant->dir.Path() + "/missing.kts"}, "missing.kts"},
        {{"--workdir", plant->dir.Path() + "/nowhere", bench, "pass"},
         "Invalid or missing path specification data"},
        {{"--port", "/dev/null/none", bench, "pass"}, "cannot open /dev/null/none"},
        {{"--port", "COM9", bench, "pass"}, "--port wants COM1 to COM6"},
        {{"--timeout", "soon", bench, "pass"}, "--timeout wants seconds"},
        {{"--yes", "--no", bench, "pass"}, "exclude each other"},
        {{"--all", bench, "pass"}, "--all"},
        {{}, "no sequence file"},
        {{"--export-dissector-names", plant->dir.Path() + "/names.lua"},
         "--export-dissector-names takes only --workdir besides its file, not --port"},
    };
    for (const auto& c : cases) {
        // The options given last win over the fixture's own.
        std::vector<std::string> all{"--workdir", plant->dir.Path(), "--port", "COM1"};
        all.insert(all.end(), c.args.begin(), c.args.end());
        test::SimProcess run(all, KORVARUN_PATH);
        const std::string row = ::testing::PrintToString(c.args);
        ASSERT_EQ(run.Wait(), 2) << row << "\n" << run.out << run.err;
        EXPECT_EQ(run.err.rfind("korvarun: ", 0), 0u) << row << ": " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << row << ": " << run.err;
        EXPECT_EQ(run.out, "") << row;
    }
}

// A report that cannot be written whole, or would land on something other than a report, is an
// error of the run, and the folder stays as it was: no name replaced, no half-written file beside.
TEST_F(Korvarun, ReportsNeverDestroyWhatWasThere) {
    StartSim();
    const std::string d = plant->dir.Path();
    plant->dir.Plant({"junit.xml: old report", "pipe.xml|", "bench-link.xml>bench.kts"});
    // A device of its own to aim at, where the system allows making one (as root).
    const bool device = ::mknod((d + "/null.xml").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const struct {
        std::string report, says;
    } cases[] = {
        {Junit(), "cannot write " + Junit() + ": File too large"},  // with a file size limit
        {d + "/pipe.xml", "is a pipe, not a file"},
        {d + "/null.xml", "is a device, not a file"},
        {d + "/bench-link.xml",
         "the report '" + d + "/bench-link.xml' would overwrite '" + d + "/bench.kts'"},
        {d + "/config/../config/plant.xml",
         "would overwrite '" + d + "/config/plant.xml', which the run reads"},
    };
    for (const auto& c : cases) {
        if (c.report == d + "/null.xml" && !device) continue;
        const std::vector<std::string> before = plant->dir.Entries();
        // The limit makes a write past it fail with EFBIG, as a full disk fails with ENOSPC.
        test::SimProcess run(
            {"-c",
             "trap '' XFSZ; ulimit -f " + std::string(c.report == Junit() ? "1" : "unlimited") +
                 "; exec \"$0\" \"$@\"",
             KORVARUN_PATH, "--workdir", d, "--port", "COM1", "--junit", c.report, d + "/bench.kts", "pass"},
            "/bin/sh");
        EXPECT_EQ(run.Wait(), 2) << c.report << "\n" << run.out << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.report << ": " << run.err;
        EXPECT_EQ(plant->dir.Entries(), before) << c.report;
    }
}

}  // namespace
}  // namespace korva
