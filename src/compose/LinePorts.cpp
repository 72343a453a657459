#include "compose/LinePorts.h"

#include <algorithm>

#include "model/TextConvert.h"

namespace korva {

namespace {
std::string LineName(int n) {
    return "COM" + std::to_string(n);
}
}  // namespace

LinePorts::LinePorts(Engine& engine, CommsHost& log, std::string workDir, TSerialPortNG::Poster post)
    : engine_(engine), log_(log), workDir_(std::move(workDir)), post_(std::move(post)) {
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
    port->coms->lineChanged = [this] {
        if (lineChanged) lineChanged();
    };
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

bool LinePorts::AnyLost() const {
    for (const auto& port : ports_)
        if (port->coms && port->coms->LineState() == ComPortCommands::Line::Lost) return true;
    return false;
}

}  // namespace korva
