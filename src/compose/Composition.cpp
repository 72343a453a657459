#include "compose/Composition.h"

namespace korva {

Composition::Composition(const std::string& workDir, CompositionHosts hosts)
    : engine_(hosts.comms),
      ports_(engine_, hosts.comms, workDir, std::move(hosts.post)),
      loader_(engine_.Model(), hosts.loader, workDir),
      log_(std::make_unique<LogFile>()),
      sequences_(std::make_unique<TestSequence>(engine_.Model(), hosts.view, hosts.runner)) {
    engine_.periodicLogStep = [this] { log_->LogRowStep(); };
    log_->lineLost = [this] { return ports_.AnyLost(); };
    // Every property gets its column while the configuration loads; none is logged until chosen.
    engine_.Model().SetLogChannelFactory([this](const std::string& name) -> std::unique_ptr<LogChannel> {
        std::unique_ptr<LogItem> item = log_->AddItem(name);
        item->enabled = false;
        return item;
    });
    engine_.runnerStep = [this] { sequences_->Step(kTick); };
    engine_.runnerEvent = [this] { sequences_->Resume(); };
    engine_.othersBusy = [this] { return log_->Active() || sequences_->Running(); };
}

Composition::~Composition() {
    engine_.runnerStep = nullptr;
    engine_.runnerEvent = nullptr;
    engine_.periodicLogStep = nullptr;
    engine_.othersBusy = nullptr;
    engine_.Model().SetLogChannelFactory(nullptr);
}

}  // namespace korva
