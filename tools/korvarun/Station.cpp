#include "Station.h"

#include "Reports.h"
#include "model/Enums.h"
#include "model/TextConvert.h"
#include "results/ResultsConfig.h"
#include "xml/SafeFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <unistd.h>

namespace korva::korvarun {

namespace {
std::string Decimal(double value, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "unknown";
    return name;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}
}  // namespace

Station::Station(const Options& options, Unit unit, EventLoop& loop, std::function<bool()> writeReports)
    : options_(options),
      unit_(std::move(unit)),
      loop_(loop),
      writeReports_(std::move(writeReports)),
      core_(options_.workDir,
            {busLog_, *this, *this, *this, [this](std::function<void()> f) { loop_.Post(std::move(f)); }}),
      recorder_(results::FindResults(options_.workDir, options_.resultsFile),
                options_.operatorName.empty() ? results::LoginName() : options_.operatorName, options_.part,
                [this](const std::string& text) { Fail(text); }) {
    // NO_COLOR is the common way to ask a program for plain output on a terminal.
    colour_ = ::isatty(STDOUT_FILENO) == 1 && std::getenv("NO_COLOR") == nullptr;
}

Station::~Station() = default;

void Station::Fail(const std::string& why) const {
    std::cerr << "korvarun: " << Prefix() << why << std::endl;
}

bool Station::ReadDut() {
    const std::string& item = options_.dutFrom;
    if (item.empty()) return true;
    const std::size_t dot = item.rfind('.');
    KDevice* device = engine_.Model().devices.Find(item.substr(0, dot));
    KRemoteLink* link = device != nullptr ? device->links.Find(item.substr(dot + 1)) : nullptr;
    if (link == nullptr || link->IsFileHandle()) {
        Fail("--dut-from " + item + ": no such property in the configuration");
        return false;
    }
    const std::uint32_t updates = link->valueUpdates;
    link->RequestRead();
    // The engine gives up after its sendings and marks the property ERROR; the cap is for a line
    // that never lets a request go out at all.
    const auto deadline = EventLoop::Clock::now() + std::chrono::seconds(30);
    while (link->valueUpdates == updates && link->state != LinkState::ERROR &&
           EventLoop::Clock::now() < deadline) {
        if (!loop_.RunUntil(EventLoop::Clock::now() + std::chrono::milliseconds(10))) break;
        engine_.Tick();
    }
    if (link->valueUpdates == updates) {
        Fail("--dut-from " + item + ": the unit did not answer, so the run has no DUT");
        return false;
    }
    run_.dut = std::to_string(link->RawValue());  // an identity, not a measurement: no unit
    return true;
}

void Station::BeginResults() {
    recorder_.Begin(run_, KORVA_VERSION);
}

void Station::EndResults() {
    recorder_.End(run_, interrupted_);
}

bool Station::Prepare(bool listOnly) {
    if (!recorder_.Problem().empty()) {
        Fail("results: " + recorder_.Problem());
        return false;
    }
    if (!LoadConfiguration() || !LoadSequence()) return false;
    if (listOnly) return true;
    return ChooseNodes() && OpenPort();
}

std::vector<std::string> Station::Inputs() const {
    std::vector<std::string> inputs{options_.sequenceFile, options_.workDir + "/config/ports.xml"};
    for (const FileStamp& f : run_.configuration) inputs.push_back(f.path);
    return inputs;
}

int Station::Status() const {
    if (interrupted_) return kInterrupted;
    int status = kPassed;
    for (const NodeRecord& n : run_.nodes) {
        if (n.result == "ERROR" || n.result == "RUNNING") status = kError;
        if (n.result == "FAILED" && status == kPassed) status = kFailed;
    }
    return status;
}

NodeRecord* Station::NextNode() {
    while (next_ < run_.nodes.size()) {
        NodeRecord& n = run_.nodes[next_++];
        if (n.cleanup == (phase_ == Phase::Cleanup)) return &n;
    }
    return nullptr;
}

void Station::Step() {
    if (phase_ == Phase::Done) return;
    if (current_ == nullptr) {
        NodeRecord* n = NextNode();
        if (n == nullptr && phase_ == Phase::Nodes) {
            // The clean-up node comes last, however the nodes before it ended.
            phase_ = Phase::Cleanup;
            next_ = 0;
            n = NextNode();
        }
        if (n == nullptr) {
            phase_ = Phase::Done;
            return;
        }
        StartNode(*n);
    } else if (EventLoop::Clock::now() >= deadline_) {
        StopNode(timeoutText_);
    } else {
        engine_.Tick();
    }
    if (current_ != nullptr && !sequences_.Running()) EndNode();
}

void Station::Interrupt(int signal) {
    const std::string why = "interrupted by signal " + std::to_string(signal);
    if (phase_ == Phase::Done) return;
    interrupted_ = true;
    const bool cleaningUp = phase_ == Phase::Cleanup;
    if (current_ != nullptr) {
        StopNode(why);
        EndNode();
    }
    // A second signal ends the clean-up too.
    if (cleaningUp) {
        phase_ = Phase::Done;
        return;
    }
    phase_ = Phase::Cleanup;
    next_ = 0;
    for (const NodeRecord& n : run_.nodes)
        if (n.cleanup)
            Output("korvarun: running the clean-up node '" + n.name + "'; a second signal ends it");
}

void Station::StopNode(const std::string& why) {
    if (current_ == nullptr) return;
    current_->message = why;
    sequences_.Stop(why);
    stoppedInside_ = true;
}

bool Station::LoadConfiguration() {
    run_.started = run_.ended = WallClock::now();
    run_.station = options_.stationName.empty() ? HostName() : options_.stationName;
    run_.dut = unit_.dut;
    run_.workDir = options_.workDir;
    run_.port = unit_.port;
    engine_.Start();
    std::vector<std::string> files;
    // Called before each configuration file is read: the files of the run, for their checksums.
    loader_.allocationProbe = [&files](const std::string& path) { files.push_back(path); };
    loader_.LoadConfiguration();
    loader_.allocationProbe = nullptr;
    if (configFailed_) {
        Fail("configuration in '" + options_.workDir + "': " + firstConfigMessage_);
        return false;
    }
    for (const std::string& f : files) run_.configuration.push_back({f, FileSha256(f)});
    if (!options_.unitScheme.empty() && !engine_.Model().UseUnitScheme(options_.unitScheme)) {
        const UnitCatalog* units = engine_.Model().Units();
        std::string known;
        for (const std::string& name : units ? units->SchemeNames() : std::vector<std::string>{})
            known += (known.empty() ? "" : ", ") + name;
        Fail("--units " + options_.unitScheme + ": no such unit scheme; " +
             (known.empty() ? std::string("the configuration has no units document") : "there are " + known));
        return false;
    }
    return true;
}

namespace {
// The shown side of a property action's value, for an engineering property only.
std::optional<ActionRecord::Shown> ShownOf(const TestAction& action) {
    const KRemoteLink* link = action.target;
    if (link == nullptr || link->IsFileHandle() || link->Engineering().Plain()) return std::nullopt;
    const auto* n = std::get_if<std::int32_t>(&action.actualValue);
    const std::optional<std::int32_t> raw =
        n != nullptr ? std::optional(*n) : ParseDecimal(ActualText(action.actualValue));
    if (!raw) return std::nullopt;
    const EngineeringValue& e = link->Engineering();
    return ActionRecord::Shown{*raw, ParseReal(e.Number(*raw)).value_or(e.Shown(*raw)), e.Decimals(),
                               e.Unit(), e.Text(*raw)};
}
}  // namespace

bool Station::LoadSequence() {
    const std::string& path = options_.sequenceFile;
    try {
        // The loader takes a file it cannot read as an empty one; here that is an error of its own.
        (void)ReadRegularFile(path);
    } catch (const FileError& e) {
        Fail(e.what());
        return false;
    } catch (const std::bad_alloc&) {
        Fail(path + ": out of memory while reading");
        return false;
    }
    run_.sequence = {path, FileSha256(path)};
    sequences_.SetAutorunOnLoad(false);
    displayNames_ = sequences_.LoadSequenceFile(path);
    if (sequences_.NodeCount() == 0) {
        Fail(path + ": no testnode or displaytestnode in the file");
        return false;
    }
    for (std::size_t i = 0; i < sequences_.NodeCount(); ++i) {
        const _TestNode* node = sequences_.NodeAt(static_cast<int>(i));
        nodeNames_.push_back(node->name);
        for (const auto& action : node->actions)
            if (action != nullptr) actions_[action->item] = action.get();
    }
    return true;
}

bool Station::ChooseNodes() {
    std::vector<std::string> names = options_.nodes;
    if (options_.all) {
        names = displayNames_;
        if (names.empty()) {
            Fail(options_.sequenceFile + ": --all, but the file has no displaytestnode");
            return false;
        }
    } else if (names.empty()) {
        names.push_back("autorun");
    }
    for (const std::string& name : names) {
        const _TestNode* node = sequences_.FindNode(name);
        if (node == nullptr) {
            Fail(options_.sequenceFile + ": no test node '" + name + "'" +
                 (options_.nodes.empty() ? "; name the nodes to run, or give --all" : ""));
            return false;
        }
        NodeRecord record;
        record.name = node->name;
        run_.nodes.push_back(std::move(record));
    }
    if (!options_.cleanupNode.empty()) {
        const _TestNode* node = sequences_.FindNode(options_.cleanupNode);
        if (node == nullptr) {
            Fail(options_.sequenceFile + ": no test node '" + options_.cleanupNode + "' for --cleanup");
            return false;
        }
        NodeRecord record;
        record.name = node->name;
        record.cleanup = true;
        run_.nodes.push_back(std::move(record));
    }
    return true;
}

bool Station::OpenPort() {
    if (options_.baud && !port_.SetBaudRate(*options_.baud)) {
        Fail("the line speed " + std::to_string(*options_.baud) + " is not one the system offers");
        return false;
    }
    if (unit_.port.empty()) return true;
    if (const int n = ComPortNumber(unit_.port); n != 0) {
        coms_.OpenPort(n);
        if (coms_.OpenPortNumber() == n) return true;
    } else {
        port_.SetCommPort(unit_.port, unit_.port);
        port_.SetActive(true);
        // As "Open Com n" does: no more requests are outstanding than the line's speed carries.
        engine_.Line().SetLineSpeed(port_.BaudRate());
        if (port_.Active()) return true;
    }
    Fail("cannot open " + unit_.port +
         (port_.DevicePath() != unit_.port ? " (" + port_.DevicePath() + ")" : ""));
    return false;
}

void Station::ListNodes() const {
    for (const std::string& name : nodeNames_) {
        const bool shown = std::find(displayNames_.begin(), displayNames_.end(), name) != displayNames_.end();
        std::cout << name << (shown ? "  [displaytestnode]" : "") << "\n";
        for (const auto& action : sequences_.FindNode(name)->actions)
            if (action != nullptr) std::cout << "    " << action->label << "\n";
    }
    std::cout << std::flush;
}

void Station::StartNode(NodeRecord& record) {
    current_ = &record;
    record.started = WallClock::now();
    const auto start = EventLoop::Clock::now();
    deadline_ = options_.timeoutSeconds ? start + std::chrono::duration_cast<EventLoop::Clock::duration>(
                                                      std::chrono::duration<double>(*options_.timeoutSeconds))
                                        : EventLoop::Clock::time_point::max();
    timeoutText_ =
        options_.timeoutSeconds ? "timed out after " + Decimal(*options_.timeoutSeconds, "%g") + " s" : "";
    stoppedInside_ = false;
    // Until the node ends, the reports on disk say that it is under way.
    record.result = "RUNNING";
    record.ended = record.started;
    writeReports_();
    lastReport_ = EventLoop::Clock::now();
    if (!options_.quiet) Print(">> " + record.name + (record.cleanup ? " (clean-up)" : ""));
    sequences_.RunNodeByName(record.name);
}

void Station::EndNode() {
    NodeRecord& record = *current_;
    CloseAction(stoppedInside_);
    const _TestNode* node = sequences_.FindNode(record.name);
    // The node's result is the run's verdict: the worst of every node it went through.
    record.result = TestStateName(node != nullptr ? node->result : TestState::ERROR);
    record.reached.clear();
    for (const _TestNode* reached : sequences_.ReachedNodes())
        if (reached != node) record.reached.push_back({reached->name, TestStateName(reached->result)});
    record.ended = WallClock::now();
    run_.ended = record.ended;
    const std::string seconds =
        Decimal(std::chrono::duration<double>(record.ended - record.started).count(), "%.3f");
    std::string line = "== " + record.name + ": " + Paint(record.result) + " (" + seconds + " s)";
    if (record.result != "PASSED" && record.result != "UNTESTED") line += ": " + FailureText(record);
    Print(line);
    current_ = nullptr;
    deadline_ = EventLoop::Clock::time_point::max();
    // The reports and the store stand for the run so far, in case the station loses power.
    recorder_.NodeEnded(record);
    writeReports_();
    if (phase_ == Phase::Nodes && options_.stopOnFail &&
        (record.result == "FAILED" || record.result == "ERROR")) {
        phase_ = Phase::Cleanup;
        next_ = 0;
    }
}

void Station::SelectItem(ItemId id) {
    const auto it = actions_.find(id);
    CloseAction(false);
    if (it == actions_.end() || current_ == nullptr) return;
    const TestAction& action = *it->second;
    ActionRecord a;
    a.node = action.node != nullptr ? action.node->name : "";
    a.action = action.label;
    const bool device = action.kind >= 0 && action.kind < static_cast<int>(kKeywords.size());
    a.kind = device ? std::string(kKeywords[static_cast<std::size_t>(action.kind)]) : "";
    if (const KRemoteLink* link = action.target) {
        a.property = link->name;
        if (link->device != nullptr) {
            a.device = link->device->name;
            a.address = link->device->address;
        }
        if (link->IsFileHandle() && action.firstValue)
            if (const auto index = ParseDecimal(*action.firstValue)) a.element = *index;
    }
    if (action.kind == kTest) {
        a.limits = {action.firstValue.value_or(""), action.secondValue.value_or("")};
        a.fileLimits = action.target != nullptr && action.target->IsFileHandle();
        const auto low = ParseDecimal(a.limits->first), high = ParseDecimal(a.limits->second);
        if (!a.fileLimits && action.target != nullptr && !action.target->Engineering().Plain() && low &&
            high) {
            const EngineeringValue& e = action.target->Engineering();
            const double x = ParseReal(e.Number(*low)).value_or(0),
                         y = ParseReal(e.Number(*high)).value_or(0);
            a.shownLimits = std::pair(std::min(x, y), std::max(x, y));
        }
    }
    a.started = a.ended = WallClock::now();
    open_ = std::move(a);
    openAction_ = &action;
}

void Station::ShowResult(ItemId id, std::uint8_t result) {
    if (!open_ || openAction_ == nullptr || openAction_->item != id) return;
    open_->result = TestStateName(result);
    open_->actual = ActualText(openAction_->actualValue);
    open_->shown = ShownOf(*openAction_);
    open_->reason = openAction_->reason;
}

void Station::CloseAction(bool stopped) {
    if (!open_ || current_ == nullptr) return;
    ActionRecord a = std::move(*open_);
    open_.reset();
    openAction_ = nullptr;
    // A stopped action never got its outcome; one without an outcome of its own was carried out.
    if (a.result.empty()) a.result = stopped ? "ERROR" : "DONE";
    if (a.result == "ERROR" && a.reason.empty() && stopped) a.reason = current_->message;
    a.ended = WallClock::now();
    const std::string line = a.node + " | " + a.action + " | ";
    // An action in ERROR read nothing: its reason stands where a value would.
    if (a.result == "ERROR") a.actual.clear();
    const std::string tail =
        (a.actual.empty() ? "" : " | " + ActualWithShown(a)) + (a.reason.empty() ? "" : " | " + a.reason);
    current_->output.push_back(line + a.result + tail);
    if (!options_.quiet) Print(line + Paint(a.result) + tail);
    current_->actions.push_back(std::move(a));
    // A long node leaves its progress on disk, so that a killed run shows what it had done.
    if (EventLoop::Clock::now() - lastReport_ >= std::chrono::seconds(1)) {
        writeReports_();
        lastReport_ = EventLoop::Clock::now();
    }
}

void Station::Output(const std::string& line) {
    if (current_ != nullptr) current_->output.push_back(line);
    if (!options_.quiet) Print(line);
}

void Station::Print(const std::string& line) const {
    std::cout << Prefix() << line << std::endl;
}

std::string Station::Prefix() const {
    return options_.stations.size() > 1 ? "[" + unit_.dut + "] " : "";
}

void Station::AddLogLine(const std::string& line) {
    Output("log: " + line);
}

void Station::BusLog::AddLogLine(const std::string& line) {
    if (line.rfind("rx: ", 0) == 0 || line.rfind("tx: ", 0) == 0) return;
    station_.Output("log: " + line);
}

void Station::ShowMessage(const std::string& text) {
    if (firstConfigMessage_.empty()) firstConfigMessage_ = text + " (" + loader_.LastError() + ")";
}

std::optional<bool> Station::Ask(const std::string& kind, const std::string& text, bool withCancel) {
    Output(kind + ": " + text);
    if (options_.answer != Answer::Ask) {
        const bool yes = options_.answer == Answer::Yes;
        Output(std::string("answered ") + (withCancel ? (yes ? "OK" : "Cancel") : "OK") +
               (yes ? " (--yes)" : " (--no)"));
        return withCancel ? yes : true;
    }
    const auto stop = [&](const std::string& why) -> std::optional<bool> {
        Output(kind + ": " + why);
        if (current_ != nullptr && current_->message.empty()) current_->message = why;
        stoppedInside_ = true;
        // The runner expects a dialog to end the run; it checks its state when the dialog returns.
        sequences_.Stop(why);
        return std::nullopt;
    };
    if (::isatty(STDIN_FILENO) != 1)
        return stop(kind + " needs an answer, and there is no terminal: give --yes or --no");
    // One terminal cannot answer several units at once.
    if (options_.stations.size() > 1) return stop(kind + " needs --yes or --no when several stations run");
    for (;;) {
        std::cout << text << (withCancel ? " [ok/cancel] " : " [Enter] ") << std::flush;
        bool timedOut = false;
        const std::optional<std::string> line = loop_.ReadLine(STDIN_FILENO, deadline_, timedOut);
        if (!line) {
            std::cout << std::endl;
            if (timedOut) return stop(timeoutText_);
            return stop(loop_.Signal() != 0 ? "interrupted by signal " + std::to_string(loop_.Signal())
                                            : kind + ": the terminal closed without an answer");
        }
        if (!withCancel) return true;
        const std::string a = Lower(*line);
        if (a == "ok" || a == "o" || a == "y" || a == "yes") return true;
        if (a == "cancel" || a == "c" || a == "n" || a == "no") return false;
    }
}

bool Station::Confirm(const std::string& text) {
    return Ask("userintervention", text, true).value_or(false);
}

void Station::Message(const std::string& text) {
    (void)Ask("usermessage", text, false);
}

bool Station::AskYesNo(const std::string& text) {
    // Only a file that starts a node on load asks this; loading here starts nothing, so it stays unasked.
    return Ask("question", text, true).value_or(false);
}

int Station::OpenComPort(int n) {
    if (n < 1 || n > 6) return 0;
    coms_.OpenPort(n);
    if (coms_.OpenPortNumber() != n) return 0;
    if (run_.port.empty()) run_.port = "COM" + std::to_string(n);
    return n;
}

std::string Station::Paint(const std::string& result) const {
    if (!colour_) return result;
    const char* code = result == "PASSED" ? "32" : result == "FAILED" ? "31" : result == "ERROR" ? "35" : "0";
    return std::string("\033[") + code + "m" + result + "\033[0m";
}

}  // namespace korva::korvarun
