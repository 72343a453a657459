#include "ui/PortsMenu.h"

#include <QAction>
#include <QMenu>

#include "ui/StatusLine.h"

namespace korva {

PortsMenu::PortsMenu(LinePorts& ports, Engine& engine, ErrorCount errors)
    : ports_(ports), engine_(engine), errorsSoFar_(std::move(errors)) {
    if (!errorsSoFar_) errorsSoFar_ = [] { return std::uint64_t{0}; };
}

void PortsMenu::AddCloseEntries(QMenu& coms, QAction* common, QObject* context,
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

void PortsMenu::ShowCloseEntries() {
    if (common_ == nullptr) return;
    common_->setVisible(!ports_.Several());
    if (!ports_.Several()) return;
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
        const LinePorts::Port* port = ports_.Find(n);
        closeEntries_[static_cast<std::size_t>(n - 1)]->setVisible(port != nullptr && port->serial->Active());
    }
}

void PortsMenu::ShowLines(TStatusLine& status) {
    std::vector<TStatusLine::LineField> fields;
    for (const auto& port : ports_.All()) {
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
        const std::string& name = ports_.Several() ? port->name : serial.CommPort();
        fields.push_back({QString::fromStdString(name),
                          QString::fromStdString(serial.DevicePath()),
                          serial.BaudRate(),
                          state,
                          {bus.packetsSent, bus.repliesQueued, bus.busErrors}});
    }
    if (!ports_.Several()) {
        const TStatusLine::LineField& one = fields.front();
        status.ShowLine(one.state, one.name, one.path, one.baud);
    } else {
        status.ShowLines(fields);
    }
}

void PortsMenu::ShowTraffic(TStatusLine& status) {
    if (ports_.Several()) return ShowLines(status);
    const Bus& bus = engine_.Line();
    status.ShowTraffic({bus.packetsSent, bus.repliesQueued, errorsSoFar_()});
}

}  // namespace korva
