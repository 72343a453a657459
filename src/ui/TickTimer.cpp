#include "ui/TickTimer.h"

#include <QCoreApplication>
#include <QEvent>

#include "protocol/Engine.h"

namespace korva {

TickTimer::TickTimer(Engine& engine, std::function<void()> tick, QObject* parent)
    : QObject(parent), engine_(engine) {
    timer_.setObjectName("timComs");
    timer_.setInterval(kIntervalMs);
    connect(&timer_, &QTimer::timeout, this, std::move(tick));
    engine_.woken = [this] { Wake(); };
    // Any command of the operator may give the engine work: the clock wakes for it.
    QCoreApplication::instance()->installEventFilter(this);
}

TickTimer::~TickTimer() {
    engine_.woken = nullptr;
    timer_.stop();
}

void TickTimer::SetRunning(bool on) {
    running_ = on;
    if (!on) return timer_.stop();
    lastTick_.start();
    timer_.start();
}

void TickTimer::TickDone() {
    lastTick_.start();
    if (engine_.Idle()) timer_.stop();
}

void TickTimer::Wake() {
    if (!Asleep()) return;
    engine_.SkipTicks(lastTick_.elapsed() / kIntervalMs);
    lastTick_.start();
    timer_.start();
}

bool TickTimer::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
            Wake();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace korva
