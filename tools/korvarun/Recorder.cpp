#include "Recorder.h"

#include <ctime>

#include "model/TextConvert.h"

namespace korva::korvarun {

std::string StoreTime(WallClock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t s = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&s, &utc);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

Recorder::Recorder(results::ResultsPlace place, std::string operatorName, std::string part,
                   std::function<void(const std::string&)> say)
    : place_(std::move(place)),
      operator_(std::move(operatorName)),
      part_(std::move(part)),
      writer_(place_.location, place_.spool, std::move(say)) {}

Recorder::~Recorder() = default;

void Recorder::Begin(const RunRecord& run, const std::string& toolVersion) {
    if (place_.location.empty()) return;
    std::string configuration;
    for (const FileStamp& f : run.configuration)
        configuration += (configuration.empty() ? "" : ",") + f.sha256;
    writer_.Begin({StoreTime(run.started), run.station, operator_, run.dut, part_, toolVersion, configuration,
                   run.sequence.sha256});
}

void Recorder::NodeEnded(const NodeRecord& node) {
    if (writer_.RunId().empty()) return;
    std::vector<results::StepRow> steps;
    int position = 0;
    for (const ActionRecord& a : node.actions) {
        results::StepRow s;
        s.node = a.node.empty() ? node.name : a.node;
        s.position = position++;
        s.action = a.action;
        s.device = a.device;
        s.address = a.address;
        s.property = a.property;
        s.element = a.element;
        if (a.shown) {
            s.raw = a.shown->raw;
            s.shown = a.shown->value;
            s.unit = a.shown->unit;
        } else if (const auto raw = ParseDecimal(a.actual); raw && a.result != "ERROR") {
            s.raw = *raw;
        }
        if (a.limits && !a.fileLimits) {
            if (const auto low = ParseDecimal(a.limits->first)) s.low = *low;
            if (const auto high = ParseDecimal(a.limits->second)) s.high = *high;
        }
        s.result = a.result;
        s.reason = a.reason;
        s.started = StoreTime(a.started);
        s.seconds = std::chrono::duration<double>(a.ended - a.started).count();
        steps.push_back(std::move(s));
    }
    writer_.AddSteps(std::move(steps));
}

void Recorder::End(const RunRecord& run, bool interrupted) {
    if (writer_.RunId().empty()) return;
    const std::string verdict = run.exitStatus == 0 ? "PASSED" : run.exitStatus == 1 ? "FAILED" : "ERROR";
    std::string reason;
    for (const NodeRecord& n : run.nodes)
        if (reason.empty() && n.result != "PASSED" && n.result != "UNTESTED" && n.result != "SKIPPED")
            reason = FailureText(n);
    if (interrupted) reason = "interrupted";
    writer_.End(StoreTime(run.ended), verdict, reason, interrupted);
}

}  // namespace korva::korvarun
