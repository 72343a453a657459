#pragma once
// COM1 to COM6 stand for device paths: config/ports.xml maps them, otherwise COMn is /dev/ttyUSB(n-1).

#include <map>
#include <string>

namespace korva {

// The ports file is read at every open, so a simulator that rewrites it is seen at once.
std::string DevicePathForPort(const std::string& workDir, const std::string& portName);

// The entries of config/ports.xml by port name ("COM1" …); empty when there is no readable file.
std::map<std::string, std::string> ReadPortMap(const std::string& workDir);
// Writes config/ports.xml with one entry per non-empty path, replacing the file whole (written
// beside it, then renamed). Why it was not written (a path the file cannot hold, or the system's
// reason), empty on success.
std::string WritePortMap(const std::string& workDir, const std::map<std::string, std::string>& devices);

}  // namespace korva
