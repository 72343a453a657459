#include "Recorder.h"

#include <ctime>
#include <iostream>

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

Recorder::Recorder(std::string path, std::string operatorName, std::string part)
    : path_(std::move(path)), operator_(std::move(operatorName)), part_(std::move(part)) {}

Recorder::~Recorder() = default;

template <class F>
void Recorder::Guard(F f) {
    if (!store_) return;
    try {
        f();
    } catch (const results::StoreError& e) {
        std::cerr << "korvarun: results are not kept in " << path_ << " from here on: " << e.what()
                  << std::endl;
        store_.reset();
    }
}

void Recorder::Begin(const RunRecord& run, const std::string& toolVersion) {
    if (path_.empty()) return;
    try {
        store_ = std::make_unique<results::SqliteStore>(path_);
    } catch (const results::StoreError& e) {
        std::cerr << "korvarun: results are not kept: " << e.what() << std::endl;
        return;
    }
    std::string configuration;
    for (const FileStamp& f : run.configuration)
        configuration += (configuration.empty() ? "" : ",") + f.sha256;
    Guard([&] {
        runId_ = store_->BeginRun({StoreTime(run.started), run.station, operator_, run.dut, part_,
                                   toolVersion, configuration, run.sequence.sha256});
    });
}

void Recorder::NodeEnded(const NodeRecord& node) {
    if (runId_.empty()) return;
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
    Guard([&] { store_->AddSteps(runId_, steps); });
}

void Recorder::End(const RunRecord& run, bool interrupted) {
    if (runId_.empty()) return;
    const std::string verdict = run.exitStatus == 0 ? "PASSED" : run.exitStatus == 1 ? "FAILED" : "ERROR";
    std::string reason;
    for (const NodeRecord& n : run.nodes)
        if (reason.empty() && n.result != "PASSED" && n.result != "UNTESTED" && n.result != "SKIPPED")
            reason = FailureText(n);
    if (interrupted) reason = "interrupted";
    Guard([&] { store_->EndRun(runId_, StoreTime(run.ended), verdict, reason, interrupted); });
}

}  // namespace korva::korvarun
