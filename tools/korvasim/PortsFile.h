#pragma once
// For as long as korvasim runs, DIR/ports.xml sends one port name to the line it serves.

#include <optional>
#include <string>
#include <vector>

#include "xml/XmlDocument.h"

namespace korva::korvasim {

struct PortAttribute {
    std::string name;
    std::string value;
};

struct PortEntry {
    std::vector<PortAttribute> attributes;  // as read, so that other tools' entries survive
    const std::string& Attribute(const std::string& name) const;
};

// The port entries of a ports file's text; nullopt when the text is no ports file.
std::optional<std::vector<PortEntry>> ParsePorts(const std::string& text);
std::string RenderPorts(const std::vector<PortEntry>& entries);

class PortsClaim {
  public:
    // Throws std::runtime_error when the file cannot be read as a regular file or cannot be written.
    PortsClaim(const std::string& configDir, const std::string& portName, const std::string& devicePath);
    ~PortsClaim() { Restore(); }
    PortsClaim(const PortsClaim&) = delete;
    PortsClaim& operator=(const PortsClaim&) = delete;

    // Puts the file back as it was, once; what went wrong is on stderr.
    void Restore() noexcept;
    // Set when an existing file could not be read as a ports file and was replaced while we run.
    bool replacedUnreadable = false;

  private:
    std::string path_;  // the file itself: a symlinked ports file is written through its link
    std::string name_;
    std::optional<std::string> original_;  // nullopt: there was no file
    std::string written_;
    bool restored_ = false;
};

}  // namespace korva::korvasim
