// korvasim: the devices of a configuration on a serial line, for the program to talk to.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Line.h"
#include "LineServer.h"
#include "Options.h"
#include "Plant.h"
#include "PortsFile.h"
#include "sim/BusEmulator.h"

namespace {

using namespace korva::korvasim;

constexpr int kBadCommandLine = 1;
constexpr int kBadConfiguration = 2;
constexpr int kNoLine = 3;

int Serve(const Options& options, korva::sim::BusEmulator& emu, int devices, const sigset_t& waitMask) {
    try {
        Line line = options.device.empty() ? OpenPseudoTerminal() : OpenSerialDevice(options.device);
        std::optional<PortsClaim> claim;
        std::string as;
        if (options.device.empty()) {
            // The file is in place before anyone learns the path from our first line.
            claim.emplace(options.configDir, options.link, line.path);
            if (claim->replacedUnreadable)
                std::cerr << "korvasim: " << options.configDir
                          << "/ports.xml was no ports file; it is replaced while korvasim runs\n";
            as = " as " + options.link;
        }
        std::cout << "korvasim: serving " << devices << " devices on " << line.path << as << std::endl;
        if (options.trace)
            emu.trace = [](const std::string& text) {
                const auto now = std::chrono::system_clock::now().time_since_epoch();
                std::cout << korva::FormatCaptureTime(
                                 std::chrono::duration_cast<std::chrono::microseconds>(now).count())
                          << ' ' << text << std::endl;
            };
        // The emulator's tick is a millisecond here.
        if (options.otherMaster != 0)
            emu.SetSecondMaster(static_cast<std::uint8_t>(options.otherMaster), options.otherEveryMs);

        LineServer server(emu, line.io.Get(), options.latencyMs, options.faults.split,
                          LineServer::Pacing{options.baud, options.halfDuplex});
        const LineServer::End end = server.Run(waitMask);
        if (!end.why.empty()) std::cerr << "korvasim: " << end.why << '\n';
        return end.failed ? kNoLine : 0;
    } catch (const std::exception& e) {
        std::cerr << "korvasim: " << e.what() << '\n';
        return kNoLine;
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A reader of our stdout that goes away must not take ports.xml's restoration with it.
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t waitMask = BlockStopSignals();

    Options options;
    try {
        const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
        options = ParseArguments(args);
    } catch (const UsageError& e) {
        std::cerr << "korvasim: " << e.what() << "\n\n" << UsageText();
        return kBadCommandLine;
    }
    if (options.help) {
        std::cout << UsageText();
        return 0;
    }

    korva::sim::BusEmulator emu(options.faults);
    const PlantReport plant = LoadPlant(options.configDir, options.latencyMs, emu);
    for (const std::string& problem : plant.problems) std::cerr << "korvasim: " << problem << '\n';
    if (!plant.loaded) return kBadConfiguration;
    for (const std::string& warning : plant.warnings) std::cerr << "korvasim: " << warning << '\n';

    // The trace of a plant on several lines names the line served, as the program's captures do.
    if (plant.severalLines) emu.traceLine = korva::LineNumber(options.link);
    return Serve(options, emu, plant.devices, waitMask);
}
