#pragma once
// The plant and its lines: the model of every device, one bus per line the devices name, and the
// 10 ms tick that drives the buses, the runner and the logger.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/Kobjects.h"
#include "protocol/Bus.h"

namespace korva {

class Engine {
  public:
    // The line of a device that names none.
    static constexpr const char* kFirstLine = "COM1";

    explicit Engine(CommsHost& host);
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    KModel& Model() { return model_; }
    const KModel& Model() const { return model_; }

    // The bus of a line by its name, letter case ignored; made on first use with COM1's listening,
    // own address and broadcast settings. COM1 always exists.
    Bus& Line(std::string_view name = kFirstLine);
    // nullptr for a line no device named and nobody asked for.
    Bus* FindLine(std::string_view name) const;
    const std::vector<std::unique_ptr<Bus>>& Buses() const { return buses_; }
    // Hears every bus, those made later included; nullptr stops it.
    void SetPacketObserver(PacketObserver* observer);

    // The 10 ms tick: the divider; then for each bus its queue, link scan and slots; the runner's
    // step; and what the runner asked for goes out.
    void Tick();
    // Between ticks: the replies that came in reach their links, the runner takes its next step,
    // and what that asked for goes out on every line.
    void Respond();

    // Start-up state of every bus.
    void Start();

    // Nothing to do until a command or a reply comes: no link has work or is polled, no slot is
    // taken, nothing waits in a queue, and neither the runner nor the logger runs (othersBusy).
    bool Idle() const;
    // Ticks that passed without being run while idle: the divider keeps its phase with the clock.
    void SkipTicks(std::int64_t ticks);
    std::function<bool()> othersBusy;
    // Told first whenever a reply or new work comes in between ticks: a sleeping clock wakes.
    std::function<void()> woken;

    // The interval in seconds, in single precision, times 100, truncated; the divider restarts.
    bool SetPeriodSeconds(float seconds);
    std::int32_t Period() const { return period_; }
    bool PollNow() const { return pollNow_; }

    // Filled by the logger and the test runner: the runner steps on every tick, and is also told
    // when a reply may have ended what it waits for.
    std::function<void()> periodicLogStep;
    std::function<void()> runnerStep;
    std::function<void()> runnerEvent;

  private:
    CommsHost& host_;
    PacketObserver* observer_ = nullptr;
    std::vector<std::unique_ptr<Bus>> buses_;
    KModel model_;
    std::int32_t period_ = 400;
    std::int32_t divider_ = 0;
    bool pollNow_ = false;
    bool busy_ = false;  // inside a tick or a response: new work waits for its end
};

}  // namespace korva
