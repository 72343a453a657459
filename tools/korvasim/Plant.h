#pragma once
// The configured devices, loaded as the program loads them, become the emulator's devices.

#include <string>
#include <vector>

#include "sim/BusEmulator.h"

namespace korva::korvasim {

struct PlantReport {
    bool loaded = false;
    int devices = 0;                    // devices the emulator serves
    bool severalLines = false;          // a device names a line other than COM1
    std::vector<std::string> problems;  // why loading failed, for the operator
    std::vector<std::string> warnings;  // configured things that cannot be served
};

// configDir is the folder holding paths.xml; relative paths inside the files start at its parent.
PlantReport LoadPlant(const std::string& configDir, int latencyTicks, sim::BusEmulator& emu);

}  // namespace korva::korvasim
