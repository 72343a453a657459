#include "Poller.h"

#include <algorithm>
#include <chrono>
#include <iostream>

namespace korva::korvarun {

namespace {
constexpr auto kTickPeriod = std::chrono::milliseconds(10);
}  // namespace

Poller::Poller(const Options& options)
    : options_(options), station_(options_, options_.Units().front(), loop_, [] { return true; }) {}

void Poller::Fail(const std::string& why) const {
    std::cerr << "korvarun: " << why << std::endl;
}

bool Poller::Choose() {
    for (const std::string& item : options_.poll)
        if (!ChooseItem(item)) return false;
    // The lines come in the model's device order, whatever the order of the ITEMs.
    std::sort(tallies_.begin(), tallies_.end(),
              [](const Tally& a, const Tally& b) { return a.rank < b.rank; });
    for (Watch& w : watches_)
        for (std::size_t i = 0; i < tallies_.size(); ++i)
            if (tallies_[i].device == w.link->device) w.tally = i;
    return true;
}

bool Poller::ChooseItem(const std::string& item) {
    const KModel& model = station_.Core().engine().Model();
    if (item == "all") {
        for (const auto& [name, device] : model.devices) ChooseDevice(*device);
        return true;
    }
    if (KDevice* device = model.devices.Find(item)) {
        ChooseDevice(*device);
        return true;
    }
    // The property's name follows the last dot: a device name may hold one.
    const std::size_t dot = item.rfind('.');
    const std::string deviceName = item.substr(0, dot);
    KDevice* device = model.devices.Find(deviceName);
    if (device == nullptr) {
        Fail("--poll " + item + ": no device '" + deviceName + "' in the configuration");
        return false;
    }
    const std::string linkName = item.substr(dot + 1);
    KRemoteLink* link = device->links.Find(linkName);
    if (link == nullptr) {
        Fail("--poll " + item + ": device '" + device->name + "' has no property '" + linkName + "'");
        return false;
    }
    if (link->IsFileHandle()) {
        Fail("--poll " + item + ": '" + link->name + "' of device '" + device->name +
             "' is a device file, not a property");
        return false;
    }
    ChooseLink(*device, *link);
    return true;
}

void Poller::ChooseDevice(KDevice& device) {
    // A device file is moved element by element, never polled.
    for (const auto& [name, link] : device.links)
        if (!link->IsFileHandle()) ChooseLink(device, *link);
}

void Poller::ChooseLink(KDevice& device, KRemoteLink& link) {
    if (std::any_of(watches_.begin(), watches_.end(), [&](const Watch& w) { return w.link == &link; }))
        return;
    if (std::none_of(tallies_.begin(), tallies_.end(), [&](const Tally& t) { return t.device == &device; })) {
        const int rank = station_.Core().engine().Model().devices.IndexOf(device.name);
        tallies_.push_back({&device, static_cast<std::size_t>(std::max(rank, 0)), 0, 0});
    }
    watches_.push_back({&link, 0, link.state, link.valueUpdates});
}

bool Poller::StartLog() {
    LogFile& log = station_.Core().log();
    log.fileName = options_.logFile;
    log.append = false;
    // The logger says why it could not start or stopped in one text; the first one is kept.
    log.alert = [this](const std::string& text, const std::string&) {
        if (!logFailure_.empty()) return;
        logFailure_ = text;
        std::replace(logFailure_.begin(), logFailure_.end(), '\n', ' ');
    };
    for (const Watch& w : watches_) w.link->SetLog(true);
    if (log.StartLogging() == LogFile::kStarted) return true;
    Fail(logFailure_);
    return false;
}

void Poller::Observe() {
    for (Watch& w : watches_) {
        const KRemoteLink& link = *w.link;
        Tally& tally = tallies_[w.tally];
        // Each reply that set the value made the link KNOWN: a poll asks for nothing but reads.
        tally.reads += static_cast<std::uint32_t>(link.valueUpdates - w.updates);
        if (link.state == LinkState::ERROR && w.state != LinkState::ERROR) ++tally.errors;
        w.updates = link.valueUpdates;
        w.state = link.state;
    }
}

int Poller::Run() {
    // Every ITEM is checked before the port opens, so that a refused one has sent nothing.
    if (!station_.LoadConfiguration() || !Choose() || !station_.OpenPort()) return kError;
    Engine& engine = station_.Core().engine();
    if (options_.intervalSeconds && !engine.SetPeriodSeconds(*options_.intervalSeconds)) {
        Fail("--interval: the engine takes no period of " + std::to_string(*options_.intervalSeconds) + " s");
        return kError;
    }
    const bool logging = !options_.logFile.empty();
    if (logging && !StartLog()) return kError;
    station_.onLinksChanged = [this] { Observe(); };
    for (const Watch& w : watches_) w.link->SetPoll(true);

    const auto start = EventLoop::Clock::now();
    const auto end = options_.forSeconds ? start + std::chrono::duration_cast<EventLoop::Clock::duration>(
                                                       std::chrono::duration<double>(*options_.forSeconds))
                                         : EventLoop::Clock::time_point::max();
    for (auto next = start; EventLoop::Clock::now() < end;) {
        next = std::min(std::max(next + kTickPeriod, EventLoop::Clock::now()), end);
        // A signal ends the poll as --for does: the log is closed whole and the tallies printed.
        if (!loop_.RunUntil(next)) break;
        engine.Tick();
        Observe();
        if (logging && !station_.Core().log().Active()) break;
    }
    station_.onLinksChanged = nullptr;
    Observe();
    station_.Core().log().StopLogging();
    station_.ClosePort();

    bool allAnswered = true;
    for (const Tally& t : tallies_) {
        std::cout << "device " << t.device->name << " reads " << t.reads << " errors " << t.errors << "\n";
        allAnswered = allAnswered && t.reads > 0;
    }
    std::cout << std::flush;
    if (!logFailure_.empty()) {
        Fail(logFailure_);
        return kError;
    }
    return allAnswered ? kPassed : kFailed;
}

int RunPoll(const Options& options) {
    Poller poller(options);
    return poller.Run();
}

}  // namespace korva::korvarun
