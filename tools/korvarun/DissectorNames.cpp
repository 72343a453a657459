#include "DissectorNames.h"

#include <cstdio>
#include <exception>
#include <map>

#include "model/ConfigLoader.h"
#include "model/Kobjects.h"
#include "xml/SafeFile.h"

namespace korva::korvarun {

namespace {
// A Lua string literal of any bytes: quotes, backslashes and control characters escaped, so that a
// name can never end the string or the table early.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\%03u", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

class QuietHost : public LoaderHost {
  public:
    void ShowMessage(const std::string& text) override {
        if (message.empty()) message = text;
    }
    void RequestEnd() override { ended = true; }
    std::string message;
    bool ended = false;
};
}  // namespace

std::string DissectorNamesLua(const KModel& model) {
    std::map<int, const KDevice*> byAddress;
    for (const auto& [name, device] : model.devices)
        byAddress.emplace(device->address, model.FindDeviceByAddress(device->address));
    std::string devices, properties;
    for (const auto& [address, device] : byAddress) {
        const std::string key = "[" + std::to_string(address) + "] = ";
        devices += "    " + key + Quoted(device->name) + ",\n";
        // A file handle's code names it as well as a property's does.
        std::map<int, std::string> codes;
        // Links that share a code all take its replies, so the code carries each of their names.
        for (const auto& [linkName, link] : device->links) {
            std::string& named = codes[link->code];
            named += (named.empty() ? "" : "/") + link->name;
        }
        properties += "    " + key + "{";
        for (const auto& [code, name] : codes)
            properties += " [" + std::to_string(code) + "] = " + Quoted(name) + ",";
        properties += " },\n";
    }
    return "-- The device and property names of a KorvaConfig configuration, for the bus dissector\n"
           "-- korva.lua. Written by korvarun --export-dissector-names.\n"
           "return {\n  devices = {\n" +
           devices + "  },\n  properties = {\n" + properties + "  },\n}\n";
}

int ExportDissectorNames(const std::string& workDir, const std::string& file, std::ostream& out,
                         std::ostream& err) {
    KModel model;  // read, never sent from
    QuietHost host;
    ConfigLoader loader(model, host, workDir);
    try {
        loader.LoadConfiguration();
    } catch (const std::exception& e) {
        host.message = e.what();
    }
    if (!host.message.empty() || host.ended) {
        err << "korvarun: configuration in '" << workDir
            << "': " << (host.message.empty() ? loader.LastError() : host.message) << std::endl;
        return 2;
    }
    try {
        ReplaceFileSafely(file, DissectorNamesLua(model));
    } catch (const FileError& e) {
        err << "korvarun: " << e.what() << std::endl;
        return 2;
    }
    out << "korvarun: the names of " << model.devices.Count() << " devices written to " << file
        << "; the dissector reads them as korva_names.lua in the analyzer's personal configuration folder "
           "(~/.config/wireshark), or from the file its preference \"Names file\" names"
        << std::endl;
    return 0;
}

}  // namespace korva::korvarun
