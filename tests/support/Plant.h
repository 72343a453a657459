#pragma once
// The core on a real serial port, served by korvasim over a pseudo-terminal: a copy of the demo
// plant in a fresh folder, the simulator on it, and the program's objects without the window.

#include <filesystem>
#include <memory>
#include <string>

#include "model/ConfigLoader.h"
#include "protocol/Comms.h"
#include "support/FakeHost.h"
#include "support/FakeLoader.h"
#include "support/Pty.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"
#include "transport/ComPortCommands.h"

namespace korva::test {

class LivePlant : public FakeHost, public FakeLoaderHost {
public:
    explicit LivePlant(std::vector<std::string> simOptions = {}) {
        std::filesystem::copy(std::string(KORVA_DEMO_DIR) + "/config", dir.Path() + "/config",
                              std::filesystem::copy_options::recursive);
        std::vector<std::string> args{"--config-dir", dir.Path() + "/config", "--link", "COM1"};
        args.insert(args.end(), simOptions.begin(), simOptions.end());
        sim = std::make_unique<SimProcess>(args);
        ready = sim->WaitForOutput("serving");
        loader.LoadConfiguration();
    }


    // Ticks every 10 ms and hands over clusters in between, as the window's timer does.
    template <typename Pred>
    bool TickUntil(Pred pred, int timeoutMs = 5000, int tickMs = 10) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        auto next = std::chrono::steady_clock::now();
        while (!pred()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            next += std::chrono::milliseconds(tickMs);
            main.RunUntil([&] { return std::chrono::steady_clock::now() >= next; },
                          static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               next - std::chrono::steady_clock::now())
                                               .count()) +
                              1);
            comms.Tick();
            ++ticks;
        }
        return true;
    }

    TempDir dir;
    std::unique_ptr<SimProcess> sim;
    bool ready = false;
    Comms comms{*this};
    ConfigLoader loader{comms.Model(), *this, dir.Path()};
    MainQueue main;
    TSerialPortNG port{[this](std::function<void()> f) { main.Post(std::move(f)); }};
    ComPortCommands coms{port, comms, *this, dir.Path()};
    long ticks = 0;
};

}  // namespace korva::test
