#include "transport/PortMap.h"

#include "model/TextConvert.h"
#include "xml/XmlDocument.h"

namespace korva {

std::string DevicePathForPort(const std::string& workDir, const std::string& portName) {
    try {
        XmlDocument doc;
        doc.LoadXML(workDir + "/config/ports.xml");
        for (const auto& child : doc.children) {
            if (child->name == "port" && SameIgnoringCase(child->getAttribute("name"), portName) &&
                !child->getAttribute("device").empty())
                return child->getAttribute("device");
        }
    } catch (const XmlFileError&) {
        // no ports file: the default names hold
    }
    if (portName.size() > 3 && SameIgnoringCase(portName.substr(0, 3), "COM")) {
        const std::string digits = portName.substr(3);
        bool numeric = !digits.empty() && digits.size() <= 3;
        for (char c : digits) numeric = numeric && std::isdigit(static_cast<unsigned char>(c));
        if (numeric && std::stoi(digits) >= 1) return "/dev/ttyUSB" + std::to_string(std::stoi(digits) - 1);
    }
    return portName;
}

}  // namespace korva
