#pragma once
// What the device tree and the property panel show, as plain text, so that it can be checked
// without a window.

#include <string>

#include "model/Kobjects.h"

namespace korva {

// "34  FeedPump": the address in unsigned decimal, two blanks, the name.
std::string DeviceNodeText(const KDevice& device);
// "16  SpeedSetpoint": the code in unsigned decimal, two blanks, the name.
std::string LinkTitleText(const KRemoteLink& link);
// The tree's node of a link: its name, and its unit in brackets when it has one.
std::string LinkNodeText(const KRemoteLink& link);
// The value in shown units; the plot takes its points from here.
double PanelNumber(const KRemoteLink& link);
// The value box when KNOWN, else "???": the shown value (a name, bit names, or the number and its
// unit), or in binary the low byte as eight digits.
std::string ValueText(const KRemoteLink& link, bool binary);
// The value at a file handle's position when KNOWN, else "???"; a position outside the file shows "???".
// A read of the status, size or checksum element shows what the device answered.
std::string FileValueText(const KFileLink& file);
// One entry per element 0 .. size - 1: the value and a blank when known, else "?? ".
std::string DataRowText(const KFileLink& file);
std::string StatusNodeText(const KFileLink& file);
std::string SizeNodeText(const KFileLink& file);
std::string ChecksumNodeText(const KFileLink& file);

}  // namespace korva
