#pragma once
// COM1 to COM6 stand for device paths: config/ports.xml maps them, otherwise COMn is /dev/ttyUSB(n-1).

#include <string>

namespace korva {

// The ports file is read at every open, so a simulator that rewrites it is seen at once.
std::string DevicePathForPort(const std::string& workDir, const std::string& portName);

}  // namespace korva
