#pragma once
// The main thread of korvarun: work posted by the serial port's worker, the 10 ms tick, and
// SIGINT/SIGTERM, which end every wait at once so that the run can close down cleanly.

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "xml/SafeFile.h"

namespace korva::korvarun {

class EventLoop {
  public:
    using Clock = std::chrono::steady_clock;

    // Installs the handlers of SIGINT and SIGTERM; the destructor puts the old ones back.
    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Any thread.
    void Post(std::function<void()> work);
    // Runs posted work until the time; false as soon as a signal has come.
    bool RunUntil(Clock::time_point until);
    // One line from fd, without its end; posted work runs meanwhile. nullopt on a signal, at the end
    // of input or when the deadline passes (timedOut tells which).
    std::optional<std::string> ReadLine(int fd, Clock::time_point deadline, bool& timedOut);
    // The signal that came, 0 for none.
    int Signal() const;
    // From now on only a further signal ends the waits: the run goes on to its clean-up.
    void Rearm();

  private:
    // Waits for one of the descriptors or the time; runs what was posted. False on a signal.
    bool Wait(int extraFd, int timeoutMs, bool& extraReady);
    void RunPosted();

    bool Signalled() const;

    UniqueFd wake_;    // eventfd: work was posted
    int armedAt_ = 0;  // signals that came before the last Rearm
    std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
};

}  // namespace korva::korvarun
