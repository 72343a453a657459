#pragma once
// The core on a real serial port, served by korvasim over a pseudo-terminal: a copy of the demo
// plant in a fresh folder, the simulator on it, and the program's objects without the window.

#include <string>
#include <vector>

#include "model/ConfigLoader.h"
#include "protocol/Comms.h"
#include "support/FakeHost.h"
#include "support/FakeLoader.h"
#include "support/Pty.h"
#include "support/SimProcess.h"
#include "transport/ComPortCommands.h"

namespace korva::test {

class LivePlant : public DemoSim, public FakeHost, public FakeLoaderHost {
  public:
    // korvasim serves the copy as COM1, its ports.xml written for the program to find.
    explicit LivePlant(std::vector<std::string> simOptions = {}) {
        ready = Start(std::move(simOptions));
        loader.LoadConfiguration();
    }

    // Ticks every 10 ms and hands over clusters in between, as the window's timer does.
    template <typename Pred>
    bool TickUntil(Pred pred, int timeoutMs = 5000, int tickMs = 10) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (auto next = Clock::now(); !pred(); comms.Tick()) {
            if (Clock::now() >= end) return false;
            next += std::chrono::milliseconds(tickMs);
            main.RunUntil([&] { return Clock::now() >= next; }, MillisLeft(next) + 1);
        }
        return true;
    }

    bool ready = false;
    Engine comms{*this};
    ConfigLoader loader{comms.Model(), *this, dir.Path()};
    MainQueue main;
    TSerialPortNG port{[this](std::function<void()> f) { main.Post(std::move(f)); }};
    ComPortCommands coms{port, comms.Line(), *this, dir.Path()};
};

}  // namespace korva::test
