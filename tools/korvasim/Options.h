#pragma once
// The command line of korvasim.

#include <span>
#include <stdexcept>
#include <string>

#include "sim/BusEmulator.h"

namespace korva::korvasim {

struct Options {
    std::string configDir = "config";
    std::string link = "COM1";
    std::string device;  // empty: a new pseudo-terminal
    int latencyMs = 2;
    int baud = 0;            // 0: characters cross the line at once
    bool halfDuplex = true;  // requests and replies share one line
    sim::FaultOptions faults;
    bool trace = false;
    int otherMaster = 0;     // 0: none; else the address of a second master that polls the devices
    int otherEveryMs = 100;  // how often it sends a request
    bool help = false;
};

// A command line that cannot be run; the text names the option at fault.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The arguments after the program name; "--opt value" and "--opt=value" are both taken.
Options ParseArguments(std::span<const std::string> args);

const char* UsageText();

}  // namespace korva::korvasim
