#include "ui/LinePorts.h"

#include <QAction>
#include <QMenu>

#include <algorithm>

#include "model/TextConvert.h"
#include "ui/PanelText.h"
#include "ui/StatusLine.h"

namespace korva {

namespace {
std::string LineName(int n) {
    return "COM" + std::to_string(n);
}
}  // namespace

LinePorts::LinePorts(Engine& engine, CommsHost& log, std::string workDir, TSerialPortNG::Poster post,
                     ErrorCount errors)
    : engine_(engine),
      log_(log),
      workDir_(std::move(workDir)),
      post_(std::move(post)),
      errorsSoFar_(std::move(errors)) {
    if (!errorsSoFar_) errorsSoFar_ = [] { return std::uint64_t{0}; };
    Make(Engine::kFirstLine);
}

LinePorts::~LinePorts() {
    // Every worker stops before any commands go: a cluster must not reach commands half gone.
    for (const auto& port : ports_) port->serial->SetActive(false);
}

LinePorts::Port& LinePorts::Make(const std::string& name) {
    auto port = std::make_unique<Port>();
    port->name = name;
    port->serial = std::make_unique<TSerialPortNG>(post_);
    port->coms = std::make_unique<ComPortCommands>(*port->serial, engine_.Line(name), log_, workDir_);
    port->coms->lineChanged = [this] { Changed(); };
    Port* raw = port.get();
    const auto at = std::find_if(ports_.begin(), ports_.end(),
                                 [&](const auto& other) { return LineBefore(name, other->name); });
    ports_.insert(at, std::move(port));
    return *raw;
}

void LinePorts::TakePlant() {
    several_ = false;
    for (const auto& entry : engine_.Model().devices)
        several_ = several_ || !SameIgnoringCase(entry.second->port, Engine::kFirstLine);
    if (several_)
        for (const auto& bus : engine_.Buses())
            if (Named(bus->Name()) == nullptr) Make(bus->Name());
    ShowCloseEntries();
}

LinePorts::Port* LinePorts::Named(const std::string& name) const {
    for (const auto& port : ports_)
        if (SameIgnoringCase(port->name, name)) return port.get();
    return nullptr;
}

LinePorts::Port* LinePorts::Find(int n) const {
    return several_ ? Named(LineName(n)) : ports_.front().get();
}

ComPortCommands& LinePorts::Open(int n) {
    Port* port = Find(n);
    // A line no device names gets its port too: the trace and the monitor may want to hear it.
    if (port == nullptr) port = &Make(LineName(n));
    port->coms->OpenPort(n);
    return *port->coms;
}

void LinePorts::Close(int n) {
    if (Port* port = Find(n)) port->coms->ClosePort();
}

int LinePorts::OpenForRunner(int n) {
    if (n < 1 || n > 6) return 0;
    const ComPortCommands& coms = Open(n);
    return coms.OpenPortNumber() == n ? n : 0;
}

bool LinePorts::ChangeBaudRate(const std::string& text) {
    if (!ParseInt(text)) return false;
    for (const auto& port : ports_) port->coms->ChangeBaudRate(text);
    return true;
}

void LinePorts::AddCloseEntries(QMenu& coms, QAction* common, QObject* context,
                                std::function<void(int)> close) {
    menu_ = &coms;
    common_ = common;
    context_ = context;
    close_ = std::move(close);
    const QList<QAction*> actions = coms.actions();
    const qsizetype at = actions.indexOf(common);
    follower_ = at >= 0 && at + 1 < actions.size() ? actions[at + 1] : nullptr;
    ShowCloseEntries();
}

void LinePorts::ShowCloseEntries() {
    if (common_ == nullptr) return;
    common_->setVisible(!several_);
    if (!several_) return;
    // The entries are made once the plant has several lines: a hidden item would read as greyed.
    if (closeEntries_[0] == nullptr)
        for (int n = 1; n <= 6; ++n) {
            // No mnemonic: the digits belong to "Open Com n".
            auto* entry = new QAction(QString("Close Com %1").arg(n), menu_);
            QObject::connect(entry, &QAction::triggered, context_, [this, n] { close_(n); });
            menu_->insertAction(follower_, entry);
            closeEntries_[static_cast<std::size_t>(n - 1)] = entry;
        }
    for (int n = 1; n <= 6; ++n) {
        const Port* port = Find(n);
        closeEntries_[static_cast<std::size_t>(n - 1)]->setVisible(port != nullptr && port->serial->Active());
    }
}

void LinePorts::Changed() {
    ShowCloseEntries();
    if (lineChanged) lineChanged();
}

void LinePorts::ShowLines(TStatusLine& status) {
    std::vector<TStatusLine::LineField> fields;
    for (const auto& port : ports_) {
        const TSerialPortNG& serial = *port->serial;
        TStatusLine::Line state = TStatusLine::Line::None;
        if (serial.Active())
            state = TStatusLine::Line::Open;
        else if (port->coms->LineState() == ComPortCommands::Line::Lost)
            state = TStatusLine::Line::Lost;
        else if (port->everOpened)
            state = TStatusLine::Line::Closed;
        port->everOpened = port->everOpened || serial.Active();
        const Bus& bus = engine_.Line(port->name);
        // The port is named by its line: one that was never opened has no name of its own yet.
        const std::string& name = several_ ? port->name : serial.CommPort();
        fields.push_back({QString::fromStdString(name),
                          QString::fromStdString(serial.DevicePath()),
                          serial.BaudRate(),
                          state,
                          {bus.packetsSent, bus.repliesQueued, bus.busErrors}});
    }
    if (!several_) {
        const TStatusLine::LineField& one = fields.front();
        status.ShowLine(one.state, one.name, one.path, one.baud);
    } else {
        status.ShowLines(fields);
    }
}

void LinePorts::ShowTraffic(TStatusLine& status) {
    if (several_) return ShowLines(status);
    const Bus& bus = engine_.Line();
    status.ShowTraffic({bus.packetsSent, bus.repliesQueued, errorsSoFar_()});
}

}  // namespace korva
