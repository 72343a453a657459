#include "ui/PanelText.h"

namespace korva {

std::string DeviceNodeText(const KDevice& device) {
    return std::to_string(device.address) + "  " + device.name;
}

std::string LinkTitleText(const KRemoteLink& link) {
    return std::to_string(link.code) + "  " + link.name;
}

std::string LinkNodeText(const KRemoteLink& link) {
    const std::string& unit = link.Engineering().Unit();
    return unit.empty() ? link.name : link.name + " [" + unit + "]";
}

double PanelNumber(const KRemoteLink& link) {
    return link.ShownValue();
}

std::string ValueText(const KRemoteLink& link, bool binary) {
    if (link.state != LinkState::KNOWN) return "???";
    if (!binary) return link.ShownText();
    const std::uint8_t b = link.current.ReadAsByte();
    std::string bits;
    for (int i = 7; i >= 0; --i) bits += (b >> i) & 1 ? '1' : '0';
    return bits;
}

std::string FileValueText(const KFileLink& file) {
    if (file.state != LinkState::KNOWN || !file.Readable(file.position)) return "???";
    // The status, size and checksum elements are not kept as elements; the last reply holds them.
    if (!file.Writable(file.position)) return std::to_string(file.current.ReadAsNumber());
    return std::to_string(file.ElementValue(file.position));
}

std::string DataRowText(const KFileLink& file) {
    std::string row;
    for (int i = 0; i < file.size; ++i) {
        if (file.ElementState(i) == LinkState::KNOWN)
            row += std::to_string(file.ElementValue(i)) + " ";
        else
            row += "?? ";
    }
    return row;
}

std::string StatusNodeText(const KFileLink& file) {
    return "Status = " + std::to_string(file.state);
}

std::string SizeNodeText(const KFileLink& file) {
    return "Size = " + std::to_string(file.size);
}

std::string ChecksumNodeText(const KFileLink& file) {
    return "Checksum = " + std::to_string(static_cast<std::int32_t>(file.checksum));
}

}  // namespace korva
