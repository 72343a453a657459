#include "ResultsCommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "results/ResultsConfig.h"
#include "results/RunWriter.h"

namespace korva::korvarun {

namespace {

using Table = std::vector<std::vector<std::string>>;  // the first row names the columns

std::string Percent(int part, int whole) {
    if (whole == 0) return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 100.0 * part / whole);
    return text;
}

// A field with a comma, a quote or a line break is quoted, its quotes doubled.
std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

void Print(const Table& t, const std::string& format, std::ostream& out) {
    if (format == "csv") {
        for (const auto& row : t) {
            for (std::size_t i = 0; i < row.size(); ++i) out << (i ? "," : "") << CsvField(row[i]);
            out << "\n";
        }
    } else if (format == "json") {
        QJsonArray rows;
        for (std::size_t r = 1; r < t.size(); ++r) {
            QJsonObject o;
            for (std::size_t i = 0; i < t[0].size(); ++i)
                o[QString::fromStdString(t[0][i])] = QString::fromStdString(t[r][i]);
            rows.append(o);
        }
        out << QJsonDocument(rows).toJson(QJsonDocument::Indented).toStdString();
    } else {
        std::vector<std::size_t> width(t[0].size(), 0);
        for (const auto& row : t)
            for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
        for (const auto& row : t) {
            std::string line;
            for (std::size_t i = 0; i < row.size(); ++i)
                line += row[i] + (i + 1 < row.size() ? std::string(width[i] - row[i].size() + 2, ' ') : "");
            out << line << "\n";
        }
    }
}

// The spool's runs for the server, sent; each run in one transaction, so a sync cut short sends
// the rest next time and a run sent twice is kept once.
int Sync(const results::ResultsPlace& place, std::ostream& out, std::ostream& err) {
    if (!results::IsServerLocation(place.location)) {
        err << "korvarun: results sync: the results are kept in " << place.location
            << ", not on a server; there is nothing to send\n";
        return 2;
    }
    if (!std::filesystem::exists(place.spool)) {
        out << "korvarun: no run waits to be sent\n";
        return 0;
    }
    try {
        results::SqliteStore spool(place.spool);
        const std::unique_ptr<results::Store> server = results::OpenStore(place.location);
        const results::SyncResult r = results::SendWaiting(spool, *server, place.location);
        out << "korvarun: sent " << r.sent << " run(s) from " << place.spool << " to the results server\n";
        if (r.waiting == 0) return 0;
        err << "korvarun: " << r.waiting << " run(s) still wait: " << r.error << "\n";
    } catch (const results::StoreError& e) {
        err << "korvarun: results sync: " << e.what() << "; the runs wait in " << place.spool << "\n";
    }
    return 2;
}

}  // namespace

int RunResultsCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::string command, dut, since, by, format = "table", file, workDir = ".";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
        const std::string* v = nullptr;
        if (a == "--csv" || a == "--json") {
            format = a.substr(2);
        } else if (a == "--since" || a == "--by" || a == "--results" || a == "--workdir") {
            if ((v = value()) == nullptr) {
                err << "korvarun: results: " << a << " needs a value\n";
                return 2;
            }
            (a == "--since" ? since : a == "--by" ? by : a == "--results" ? file : workDir) = *v;
        } else if (command.empty()) {
            command = a;
        } else if (command == "history" && dut.empty()) {
            dut = a;
        } else {
            err << "korvarun: results: what is '" << a << "'?\n";
            return 2;
        }
    }
    if (command != "history" && command != "yield" && command != "pareto" && command != "sync") {
        err << "korvarun: results: give history DUT, yield, pareto or sync\n";
        return 2;
    }
    const results::ResultsPlace place = results::FindResults(workDir, file);
    if (!place.error.empty() || place.location.empty()) {
        err << "korvarun: results: " << (place.error.empty() ? "no results are kept" : place.error) << "\n";
        return 2;
    }
    if (command == "sync") return Sync(place, out, err);
    file = place.location;
    if (command == "history" && dut.empty()) {
        err << "korvarun: results history: which DUT?\n";
        return 2;
    }
    // Asking must not leave an empty store behind where there was none.
    if (!results::IsServerLocation(file) && !std::filesystem::exists(file)) {
        err << "korvarun: results: no results file '" << file << "'\n";
        return 2;
    }
    try {
        const std::unique_ptr<results::Store> opened = results::OpenStore(file);
        const results::Store& store = *opened;
        Table t;
        if (command == "history") {
            t.push_back({"started", "attempt", "verdict", "station", "operator", "part", "reason", "id"});
            for (const results::RunRow& r : store.History(dut))
                t.push_back({r.started, std::to_string(r.attempt), r.incomplete ? "INCOMPLETE" : r.verdict,
                             r.station, r.operatorName, r.part, r.reason, r.id});
        } else if (command == "yield") {
            t.push_back(
                {by.empty() ? "all" : by, "units", "first_pass", "final_pass", "first_pass_%", "final_%"});
            for (const results::YieldRow& y : store.Yield(since, by))
                t.push_back({y.group, std::to_string(y.units), std::to_string(y.firstPass),
                             std::to_string(y.finalPass), Percent(y.firstPass, y.units),
                             Percent(y.finalPass, y.units)});
        } else {
            t.push_back({"failures", "node", "action"});
            for (const results::ParetoRow& p : store.Pareto(since))
                t.push_back({std::to_string(p.failures), p.node, p.action});
        }
        Print(t, format, out);
    } catch (const results::StoreError& e) {
        err << "korvarun: " << e.what() << "\n";
        return 2;
    }
    return 0;
}

}  // namespace korva::korvarun
