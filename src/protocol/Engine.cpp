#include "protocol/Engine.h"

#include <algorithm>

#include <cmath>

#include "model/TextConvert.h"

namespace korva {

Engine::Engine(CommsHost& host)
    : host_(host), model_([this](const std::string& port) -> LinkBus* { return &Line(port); }) {
    Line(kFirstLine);
}

Bus* Engine::FindLine(std::string_view name) const {
    for (const auto& bus : buses_)
        if (SameIgnoringCase(bus->Name(), name)) return bus.get();
    return nullptr;
}

Bus& Engine::Line(std::string_view name) {
    if (Bus* bus = FindLine(name)) return *bus;
    auto bus = std::make_unique<Bus>(*this, std::string(name), host_);
    bus->SetPacketObserver(observer_);
    // A line opened later follows what the operator chose for the lines before it.
    if (!buses_.empty()) {
        const Bus& first = *buses_.front();
        bus->SetListenOnly(first.ListenOnly());
        bus->SetOwnAddress(first.OwnAddress());
        bus->showBroadcasts = first.showBroadcasts;
    }
    buses_.push_back(std::move(bus));
    return *buses_.back();
}

void Engine::SetPacketObserver(PacketObserver* observer) {
    observer_ = observer;
    for (const auto& bus : buses_) bus->SetPacketObserver(observer);
}

void Engine::Start() {
    for (const auto& bus : buses_) bus->Start();
}

bool Engine::Idle() const {
    if (othersBusy && othersBusy()) return false;
    return std::all_of(buses_.begin(), buses_.end(), [](const auto& bus) { return bus->Idle(); });
}

void Engine::SkipTicks(std::int64_t ticks) {
    if (ticks <= 0) return;
    // The poll comes on the tick the divider reaches 0, then every period + 1 ticks.
    if (ticks <= divider_) {
        divider_ -= static_cast<std::int32_t>(ticks);
        return;
    }
    const std::int64_t sincePoll = (ticks - divider_ - 1) % (static_cast<std::int64_t>(period_) + 1);
    divider_ = period_ - static_cast<std::int32_t>(sincePoll);
}

void Engine::Respond() {
    if (woken) woken();
    if (busy_) return;
    busy_ = true;
    for (const auto& bus : buses_) bus->ProcessReceiveQueue();
    if (runnerEvent) runnerEvent();
    // Retries and give-ups wait for the tick; a reply that freed a slot lets the next request out now.
    for (const auto& bus : buses_) {
        bus->ScanLinks(false);
        bus->SendReady();
    }
    busy_ = false;
}

void Engine::Tick() {
    busy_ = true;
    if (divider_ == 0) {
        divider_ = period_;
        pollNow_ = true;
        if (periodicLogStep) periodicLogStep();
    } else {
        --divider_;
    }
    for (const auto& bus : buses_) {
        bus->ProcessReceiveQueue();
        bus->ScanLinks(pollNow_);
        bus->RunSlots();
    }
    if (runnerStep) runnerStep();
    pollNow_ = false;
    // What the runner asked for in this tick goes out now, not a tick later.
    for (const auto& bus : buses_) {
        bus->ScanLinks(false);
        bus->SendReady();
    }
    busy_ = false;
}

bool Engine::SetPeriodSeconds(float seconds) {
    // The interval is held in single precision and multiplied in double: 0.29 s gives 28 ticks.
    const double ticks = static_cast<double>(seconds) * 100.0;
    if (!std::isfinite(ticks) || ticks < 0.0 || ticks >= 2147483647.0) return false;
    period_ = static_cast<std::int32_t>(ticks);
    divider_ = 0;
    return true;
}

}  // namespace korva
