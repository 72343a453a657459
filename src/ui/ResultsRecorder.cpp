#include "ui/ResultsRecorder.h"

#include <QDateTime>
#include <QSysInfo>

#include <memory>

#include "model/Enums.h"
#include "model/TextConvert.h"
#include "results/ResultsConfig.h"
#include "results/RunWriter.h"
#include "sequence/TestSequence.h"

namespace korva {

namespace {

std::string Now() {
    return QDateTime::currentDateTimeUtc().toString("yyyy-MM-ddTHH:mm:ss.zzzZ").toStdString();
}

results::StepRow StepOf(const _TestNode& node, int position, const TestAction& a,
                        const std::string& started) {
    results::StepRow s;
    s.node = node.name;
    s.position = position;
    s.action = a.label;
    s.started = started;
    s.result = TestStateName(a.result);
    s.reason = a.reason;
    if (const KRemoteLink* link = a.target) {
        s.device = link->device->name;
        s.address = link->device->address;
        s.property = link->name;
        const auto* raw = std::get_if<std::int32_t>(&a.actualValue);
        if (raw != nullptr && a.result != TestState::UNTESTED && a.result != TestState::ERROR &&
            !link->IsFileHandle()) {
            s.raw = *raw;
            if (!link->Engineering().Plain()) {
                s.shown = link->Engineering().Shown(*raw);
                s.unit = link->Engineering().Unit();
            }
        }
    }
    if (a.kind == kTest) {
        if (const auto low = a.firstValue ? ParseDecimal(*a.firstValue) : std::nullopt) s.low = *low;
        if (const auto high = a.secondValue ? ParseDecimal(*a.secondValue) : std::nullopt) s.high = *high;
    }
    return s;
}

}  // namespace

ResultsRecorder::ResultsRecorder(results::ResultsPlace place, std::function<std::string()> dut,
                                 std::function<void(const QString&)> say, QObject* parent)
    : QObject(parent),
      place_(std::move(place)),
      dut_(std::move(dut)),
      say_(std::move(say)),
      worker_(new QObject) {
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

ResultsRecorder::~ResultsRecorder() {
    thread_.quit();
    thread_.wait();
}

void ResultsRecorder::Watch(TestSequence& sequences) {
    if (place_.location.empty()) return;
    sequences.onRequestBegan = [this](const _TestNode& node) { Began(node); };
    sequences.onRequestEnded = [this, &sequences](const _TestNode& node, std::uint8_t verdict) {
        Ended(sequences, node, verdict);
    };
}

void ResultsRecorder::Began(const _TestNode&) {
    results::RunInfo info{
        Now(), QSysInfo::machineHostName().toStdString(), results::LoginName(), dut_(), "", KORVA_VERSION, "",
        ""};
    running_ = true;
    // The writer is made on the worker's thread and lives there, one run after the other.
    QMetaObject::invokeMethod(worker_, [this, info, place = place_] {
        auto say = [this](const std::string& text) {
            QMetaObject::invokeMethod(
                this, [this, t = QString::fromStdString(text)] { say_(t); }, Qt::QueuedConnection);
        };
        writer_ = std::make_unique<results::RunWriter>(place.location, place.spool, say);
        writer_->Begin(info);
    });
}

void ResultsRecorder::Ended(const TestSequence& sequences, const _TestNode& node, std::uint8_t verdict) {
    if (!running_) return;
    running_ = false;
    const std::string now = Now();
    std::vector<results::StepRow> steps;
    for (const _TestNode* reached : sequences.ReachedNodes()) {
        int position = 0;
        for (const auto& a : reached->actions)
            if (a != nullptr) steps.push_back(StepOf(*reached, position++, *a, now));
    }
    const std::string result = TestStateName(verdict);
    const std::string reason = verdict == TestState::PASSED ? "" : node.name + ": " + result;
    QMetaObject::invokeMethod(worker_, [this, steps = std::move(steps), now, result, reason]() mutable {
        if (!writer_) return;
        writer_->AddSteps(std::move(steps));
        writer_->End(now,
                     result == "PASSED"   ? "PASSED"
                     : result == "FAILED" ? "FAILED"
                                          : "ERROR",
                     reason, false);
        writer_.reset();
    });
}

void ResultsRecorder::Flush() {
    QMetaObject::invokeMethod(
        worker_, [] {}, Qt::BlockingQueuedConnection);
}

}  // namespace korva
