#include "ResultsCommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "results/ResultsStore.h"

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

}  // namespace

int RunResultsCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::string command, dut, since, by, format = "table", file = "results.sqlite", workDir = ".";
    bool fileGiven = false;
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
            fileGiven = fileGiven || a == "--results";
        } else if (command.empty()) {
            command = a;
        } else if (command == "history" && dut.empty()) {
            dut = a;
        } else {
            err << "korvarun: results: what is '" << a << "'?\n";
            return 2;
        }
    }
    if (!fileGiven) file = workDir + "/" + file;
    if (command != "history" && command != "yield" && command != "pareto") {
        err << "korvarun: results: give history DUT, yield or pareto\n";
        return 2;
    }
    if (command == "history" && dut.empty()) {
        err << "korvarun: results history: which DUT?\n";
        return 2;
    }
    // Asking must not leave an empty store behind where there was none.
    if (!std::filesystem::exists(file)) {
        err << "korvarun: results: no results file '" << file << "'\n";
        return 2;
    }
    try {
        const results::SqliteStore store(file);
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
