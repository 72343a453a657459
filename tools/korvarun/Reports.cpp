#include "Reports.h"

#include "model/TextConvert.h"
#include "units/Engineering.h"
#include "xml/SafeFile.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QTimeZone>
#include <QXmlStreamWriter>

#include <filesystem>

#include <sys/stat.h>

namespace korva::korvarun {

namespace {

// XML 1.0 has no place for most control characters, which a device or a sequence file may carry.
QString Text(const std::string& s) {
    QString q = QString::fromStdString(s);
    for (QChar& c : q)
        if (c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') c = u'?';
    return q;
}

qint64 Millis(WallClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

QString Stamp(WallClock::time_point t) {
    return QDateTime::fromMSecsSinceEpoch(Millis(t), QTimeZone::utc()).toString(Qt::ISODateWithMs);
}

double Seconds(WallClock::time_point from, WallClock::time_point to) {
    return static_cast<double>(Millis(to) - Millis(from)) / 1000.0;
}

QString SecondsText(WallClock::time_point from, WallClock::time_point to) {
    return QString::number(Seconds(from, to), 'f', 3);
}

bool Ran(const NodeRecord& n) {
    return n.result != "SKIPPED";
}

// A run the reports catch under way (still going, or killed) must count as an error everywhere.
bool Incomplete(const RunRecord& run) {
    return run.status == "running";
}
constexpr const char* kIncomplete = "run incomplete";

QJsonObject JsonFile(const FileStamp& f) {
    return {{"path", Text(f.path)}, {"sha256", QString::fromStdString(f.sha256)}};
}

// A limit the runner took is a whole number; one it refused stays the text it was.
QJsonValue JsonNumber(const std::string& text) {
    const auto n = ParseDecimal(text);
    return n ? QJsonValue(*n) : QJsonValue(Text(text));
}

QJsonValue JsonLimits(const ActionRecord& a) {
    if (!a.limits) return QJsonValue::Null;
    if (a.fileLimits)
        return QJsonObject{{"index", JsonNumber(a.limits->first)},
                           {"expected", JsonNumber(a.limits->second)}};
    QJsonObject limits{{"min", JsonNumber(a.limits->first)}, {"max", JsonNumber(a.limits->second)}};
    if (a.shownLimits) {
        limits["shownMin"] = a.shownLimits->first;
        limits["shownMax"] = a.shownLimits->second;
    }
    return limits;
}

QJsonValue JsonShown(const ActionRecord& a) {
    if (!a.shown) return QJsonValue::Null;
    return QJsonObject{{"raw", a.shown->raw},
                       {"value", a.shown->value},
                       {"decimals", a.shown->decimals},
                       {"unit", Text(a.shown->unit)},
                       {"text", Text(a.shown->text)}};
}

}  // namespace

std::string ActualWithShown(const ActionRecord& a) {
    return a.shown ? a.actual + " (" + a.shown->text + ")" : a.actual;
}

std::string FailureText(const NodeRecord& node) {
    for (const ActionRecord& a : node.actions) {
        if (a.result != "FAILED" && a.result != "ERROR") continue;
        std::string text = a.action + ": " + a.result;
        if (a.limits)
            text += a.fileLimits ? ", element " + a.limits->first + " expected " + a.limits->second
                                 : ", limits " + a.limits->first + " to " + a.limits->second;
        if (a.limits && a.shownLimits && a.shown)
            text += " (" + FixedText(a.shownLimits->first, a.shown->decimals) + " to " +
                    FixedText(a.shownLimits->second, a.shown->decimals) +
                    (a.shown->unit.empty() ? "" : " " + a.shown->unit) + ")";
        // An action in ERROR read nothing: its actual value would only mislead.
        if (!a.actual.empty() && a.result != "ERROR") text += ", actual " + ActualWithShown(a);
        if (!a.reason.empty())
            text += ": " + a.reason;
        else if (!node.message.empty())
            text += " (" + node.message + ")";
        // The action may belong to a node reached by a jump or a call: name it.
        if (!a.node.empty() && a.node != node.name) text = a.node + ": " + text;
        return text;
    }
    return node.message.empty() ? node.name + ": " + node.result : node.message;
}

namespace {
struct Counts {
    int tests = 0, failures = 0, errors = 0, skipped = 0;
};

Counts CountsOf(const RunRecord& run) {
    Counts c;
    for (const NodeRecord& n : run.nodes) {
        ++c.tests;
        if (n.result == "FAILED")
            ++c.failures;
        else if (n.result == "ERROR" || n.result == "RUNNING")
            ++c.errors;
        else if (!Ran(n) || n.result == "UNTESTED")
            ++c.skipped;
    }
    if (Incomplete(run)) {
        ++c.tests;
        ++c.errors;
    }
    return c;
}

void WriteCounts(QXmlStreamWriter& w, const Counts& c, WallClock::time_point from, WallClock::time_point to) {
    w.writeAttribute("tests", QString::number(c.tests));
    w.writeAttribute("failures", QString::number(c.failures));
    w.writeAttribute("errors", QString::number(c.errors));
    w.writeAttribute("skipped", QString::number(c.skipped));
    w.writeAttribute("time", SecondsText(from, to));
}

// One station's suite, named and classed by its DUT, so that the reports of several units never
// merge into one in a viewer, whether they ran at once or one after the other.
void WriteSuite(QXmlStreamWriter& w, const RunRecord& run) {
    const bool byDut = !run.dut.empty();
    const std::string file = std::filesystem::path(run.sequence.path).filename().string();
    const std::string suite = byDut ? file + " " + run.dut : file;
    const std::string classname = byDut ? file + "." + run.dut : file;
    w.writeStartElement("testsuite");
    w.writeAttribute("name", Text(suite));
    WriteCounts(w, CountsOf(run), run.started, run.ended);
    w.writeAttribute("timestamp", Stamp(run.started));
    w.writeAttribute("hostname", Text(run.station));
    w.writeStartElement("properties");
    const std::pair<const char*, std::string> properties[] = {{"dut", run.dut},
                                                              {"status", run.status},
                                                              {"sequence", run.sequence.path},
                                                              {"sequence.sha256", run.sequence.sha256},
                                                              {"workdir", run.workDir},
                                                              {"port", run.port}};
    for (const auto& [name, value] : properties) {
        w.writeStartElement("property");
        w.writeAttribute("name", name);
        w.writeAttribute("value", Text(value));
        w.writeEndElement();
    }
    w.writeEndElement();
    if (Incomplete(run)) {
        w.writeStartElement("testcase");
        w.writeAttribute("name", kIncomplete);
        w.writeAttribute("classname", Text(classname));
        w.writeAttribute("time", "0.000");
        w.writeStartElement("error");
        w.writeAttribute("message",
                         QString(kIncomplete) + ": the run had not ended when this report was written");
        w.writeAttribute("type", "INCOMPLETE");
        w.writeEndElement();
        w.writeEndElement();
    }
    for (const NodeRecord& n : run.nodes) {
        w.writeStartElement("testcase");
        w.writeAttribute("name", Text(n.name));
        w.writeAttribute("classname", Text(classname));
        w.writeAttribute("time", Ran(n) ? SecondsText(n.started, n.ended) : "0.000");
        if (n.result == "RUNNING") {
            w.writeStartElement("error");
            w.writeAttribute("message", "under way when the report was written");
            w.writeAttribute("type", "RUNNING");
            w.writeEndElement();
        } else if (n.result == "FAILED" || n.result == "ERROR") {
            w.writeStartElement(n.result == "FAILED" ? "failure" : "error");
            w.writeAttribute("message", Text(FailureText(n)));
            w.writeAttribute("type", Text(n.result));
            w.writeCharacters(Text(FailureText(n)));
            w.writeEndElement();
        } else if (!Ran(n) || n.result == "UNTESTED") {
            w.writeStartElement("skipped");
            w.writeAttribute("message", Ran(n) ? "the node has no actions" : "not run");
            w.writeEndElement();
        }
        std::string lines;
        for (const ReachedNode& r : n.reached) lines += "reached " + r.name + ": " + r.result + "\n";
        for (const std::string& l : n.output) lines += l + "\n";
        w.writeTextElement("system-out", Text(lines));
        w.writeEndElement();
    }
    w.writeEndElement();
}
}  // namespace

std::string JunitText(const std::vector<const RunRecord*>& runs) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    Counts all;
    WallClock::time_point from = WallClock::time_point::max(), to = WallClock::time_point::min();
    for (const RunRecord* run : runs) {
        const Counts c = CountsOf(*run);
        all.tests += c.tests;
        all.failures += c.failures;
        all.errors += c.errors;
        all.skipped += c.skipped;
        from = std::min(from, run->started);
        to = std::max(to, run->ended);
    }
    if (runs.empty()) from = to = WallClock::now();
    w.writeStartElement("testsuites");
    w.writeAttribute("name", "korvarun");
    WriteCounts(w, all, from, to);
    for (const RunRecord* run : runs) WriteSuite(w, *run);
    w.writeEndElement();
    w.writeEndDocument();
    return out.toStdString();
}

std::string JunitText(const RunRecord& run) {
    return JunitText(std::vector<const RunRecord*>{&run});
}

namespace {
QJsonObject JsonRecord(const RunRecord& run) {
    QJsonArray configuration;
    for (const FileStamp& f : run.configuration) configuration.append(JsonFile(f));
    QJsonArray nodes;
    for (const NodeRecord& n : run.nodes) {
        QJsonArray actions;
        for (const ActionRecord& a : n.actions) {
            actions.append(QJsonObject{{"node", Text(a.node)},
                                       {"action", Text(a.action)},
                                       {"kind", Text(a.kind)},
                                       {"result", Text(a.result)},
                                       {"limits", JsonLimits(a)},
                                       {"actual", Text(a.actual)},
                                       {"shown", JsonShown(a)},
                                       {"reason", Text(a.reason)},
                                       {"started", Stamp(a.started)},
                                       {"seconds", Seconds(a.started, a.ended)}});
        }
        QJsonArray log;
        for (const std::string& l : n.output) log.append(Text(l));
        const bool ran = Ran(n);
        QJsonArray reached;
        for (const ReachedNode& r : n.reached)
            reached.append(QJsonObject{{"name", Text(r.name)}, {"result", Text(r.result)}});
        nodes.append(QJsonObject{{"name", Text(n.name)},
                                 {"result", Text(n.result)},
                                 {"cleanup", n.cleanup},
                                 {"message", Text(n.message)},
                                 {"reached", reached},
                                 {"started", ran ? QJsonValue(Stamp(n.started)) : QJsonValue::Null},
                                 {"ended", ran ? QJsonValue(Stamp(n.ended)) : QJsonValue::Null},
                                 {"seconds", ran ? Seconds(n.started, n.ended) : 0.0},
                                 {"actions", actions},
                                 {"output", log}});
    }
    const QJsonObject root{{"format", "korvarun-result"},
                           {"version", kJsonVersion},
                           {"status", Text(run.status)},
                           {"aborted", run.status == "aborted"},
                           // No exit status yet: a reader must not take a killed run for a clean one.
                           {"exit_status", Incomplete(run) ? QJsonValue::Null : QJsonValue(run.exitStatus)},
                           {"station", Text(run.station)},
                           {"dut", Text(run.dut)},
                           {"started", Stamp(run.started)},
                           {"ended", Stamp(run.ended)},
                           {"workdir", Text(run.workDir)},
                           {"port", Text(run.port)},
                           {"configuration", configuration},
                           {"sequence", JsonFile(run.sequence)},
                           {"nodes", nodes}};
    return root;
}
}  // namespace

std::string JsonText(const RunRecord& run) {
    return QJsonDocument(JsonRecord(run)).toJson(QJsonDocument::Indented).toStdString();
}

std::string JsonText(const std::vector<const RunRecord*>& runs) {
    if (runs.size() == 1) return JsonText(*runs.front());
    QJsonArray stations;
    for (const RunRecord* run : runs) stations.append(JsonRecord(*run));
    const QJsonObject root{
        {"format", "korvarun-stations"}, {"version", kJsonVersion}, {"stations", stations}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

bool WriteReport(const std::string& path, const std::string& text, std::string& why) {
    try {
        ReplaceFileSafely(path, text);
        return true;
    } catch (const FileError& e) {
        why = e.Reason();
        return false;
    }
}

std::string ReportOverwritesInput(const std::string& report, const std::vector<std::string>& inputs) {
    struct stat target {};
    // A report that does not exist yet cannot be one of the files the run has read.
    if (report.empty() || ::stat(report.c_str(), &target) != 0) return {};
    for (const std::string& input : inputs) {
        struct stat st {};
        // Compared as files, not as names: a link or another spelling leads to the same one.
        if (::stat(input.c_str(), &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino)
            return "the report '" + report + "' would overwrite '" + input + "', which the run reads";
    }
    return {};
}

std::string FileSha256(const std::string& path) {
    try {
        const std::string bytes = ReadRegularFile(path);
        return QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                        QCryptographicHash::Sha256)
            .toHex()
            .toStdString();
    } catch (const FileError&) {
        return {};
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace korva::korvarun
