#pragma once
// korvarun --export-dissector-names: the configuration's device and property names as the table
// that the bus dissector of the packet analyzer loads from beside itself (korva_names.lua).

#include <ostream>
#include <string>

namespace korva {
class KModel;
}

namespace korva::korvarun {

// "return { devices = { [34] = "FeedPump", ... }, properties = { [34] = { [16] = "SpeedSetpoint" } } }".
// A reply is routed by its sender and the first device at an address wins, so the table keeps that one.
std::string DissectorNamesLua(const KModel& model);

// Loads the configuration of workDir and writes the table to file, whole or not at all; the exit
// status (0 written, 2 not), what was done or why not on out or err.
int ExportDissectorNames(const std::string& workDir, const std::string& file, std::ostream& out,
                         std::ostream& err);

}  // namespace korva::korvarun
