#include "transport/PortMap.h"

#include <filesystem>
#include <system_error>

#include "model/TextConvert.h"
#include "xml/SafeFile.h"
#include "xml/XmlDocument.h"

namespace korva {

namespace {
std::string PortsFile(const std::string& workDir) {
    return workDir + "/config/ports.xml";
}

// The reader takes attribute values as written, without entities: a value that would need one
// (or would end the attribute or the tag early) cannot be stored.
bool Storable(const std::string& text) {
    for (char c : text)
        if (c == '"' || c == '<' || c == '>' || c == '&' || static_cast<unsigned char>(c) < 0x20)
            return false;
    return true;
}
}  // namespace

std::map<std::string, std::string> ReadPortMap(const std::string& workDir) {
    std::map<std::string, std::string> out;
    try {
        XmlDocument doc;
        doc.LoadXML(PortsFile(workDir));
        for (const auto& child : doc.children)
            if (child->name == "port" && !child->getAttribute("device").empty())
                out.emplace(std::string(child->getAttribute("name")),
                            std::string(child->getAttribute("device")));
    } catch (const XmlFileError&) {
        // no ports file: the default names hold
    }
    return out;
}

std::string DevicePathForPort(const std::string& workDir, const std::string& portName) {
    for (const auto& [name, device] : ReadPortMap(workDir))
        if (SameIgnoringCase(name, portName)) return device;
    if (portName.size() > 3 && SameIgnoringCase(portName.substr(0, 3), "COM")) {
        const std::string digits = portName.substr(3);
        bool numeric = !digits.empty() && digits.size() <= 3;
        for (char c : digits) numeric = numeric && std::isdigit(static_cast<unsigned char>(c));
        if (numeric && std::stoi(digits) >= 1) return "/dev/ttyUSB" + std::to_string(std::stoi(digits) - 1);
    }
    return portName;
}

std::string WritePortMap(const std::string& workDir, const std::map<std::string, std::string>& devices) {
    std::string text = "<ports>\n";
    for (const auto& [name, device] : devices) {
        if (device.empty()) continue;
        if (!Storable(name) || !Storable(device))
            return "'" + device +
                   "' cannot be kept in config/ports.xml: no quotes, <, >, & or control characters";
        text += "  <port name=\"" + name + "\" device=\"" + device + "\"/>\n";
    }
    text += "</ports>\n";
    std::error_code ec;
    std::filesystem::create_directories(workDir + "/config", ec);
    try {
        // A linked ports file stays a link; the file it leads to is replaced.
        ReplaceFileSafely(PortsFile(workDir), text);
    } catch (const FileError& e) {
        return e.what();
    }
    return {};
}

}  // namespace korva
