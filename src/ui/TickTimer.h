#pragma once
// The window's 10 ms communications clock. It sleeps while the engine has nothing to do, so an idle
// window does not wake the machine, and wakes on the next command: an operator's key or click, new
// work for a link, or bytes from a line. The ticks it slept through are given to the engine's
// divider, so polls keep their phase with the clock.

#include <functional>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace korva {

class Engine;

class TickTimer : public QObject {
    Q_OBJECT
  public:
    static constexpr int kIntervalMs = 10;

    TickTimer(Engine& engine, std::function<void()> tick, QObject* parent = nullptr);
    ~TickTimer() override;

    // The clock runs (when there is work) or is stopped for good.
    void SetRunning(bool on);
    bool Running() const { return running_; }
    // Asleep: running, but nothing to tick for.
    bool Asleep() const { return running_ && !timer_.isActive(); }
    // After each tick: sleeps when the engine is idle.
    void TickDone();
    void Wake();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    Engine& engine_;
    QTimer timer_;
    QElapsedTimer lastTick_;
    bool running_ = false;
};

}  // namespace korva
