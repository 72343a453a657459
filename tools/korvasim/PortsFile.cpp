#include "PortsFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include <sys/stat.h>

#include "xml/SafeFile.h"

namespace korva::korvasim {

namespace {

// Port names are compared as the program compares them: ignoring letter case.
bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if ((x >= 'a' && x <= 'z' ? x - 32 : x) != (y >= 'a' && y <= 'z' ? y - 32 : y)) return false;
    }
    return true;
}

// nullopt when there is no file; anything but a regular file of sane size is an error.
std::optional<std::string> ReadWhole(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return std::nullopt;
    return ReadRegularFile(path);
}

// Our entry takes the place of the first entry of that name; the others of that name go.
std::vector<PortEntry> WithPort(const std::vector<PortEntry>& entries, const std::string& name,
                                const std::optional<PortEntry>& replacement) {
    std::vector<PortEntry> out;
    bool placed = false;
    for (const PortEntry& e : entries) {
        if (!SameName(e.Attribute("name"), name)) {
            out.push_back(e);
        } else if (!placed && replacement) {
            out.push_back(*replacement);
            placed = true;
        }
    }
    if (!placed && replacement) out.push_back(*replacement);
    return out;
}

}  // namespace

const std::string& PortEntry::Attribute(const std::string& name) const {
    static const std::string kNone;
    for (const PortAttribute& a : attributes)
        if (a.name == name) return a.value;
    return kNone;
}

std::optional<std::vector<PortEntry>> ParsePorts(const std::string& text) {
    XmlDocument doc;
    doc.source = text;
    doc.parse();
    if (!doc.error.empty() || doc.name != "ports") return std::nullopt;
    std::vector<PortEntry> entries;
    for (const auto& child : doc.children)
        if (child->name == "port") {
            PortEntry entry;
            for (const XmlAttribute& a : child->attributes)
                entry.attributes.push_back(PortAttribute{std::string(a.name), std::string(a.value)});
            entries.push_back(std::move(entry));
        }
    return entries;
}

std::string RenderPorts(const std::vector<PortEntry>& entries) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ports>\n";
    for (const PortEntry& e : entries) {
        out += "  <port";
        for (const PortAttribute& a : e.attributes) {
            // The reader takes values as they stand; a value it read with one kind of quote has none of it.
            const char quote = a.value.find('"') == std::string::npos ? '"' : '\'';
            out += ' ' + a.name + '=' + quote + a.value + quote;
        }
        out += "/>\n";
    }
    return out + "</ports>\n";
}

PortsClaim::PortsClaim(const std::string& configDir, const std::string& portName,
                       const std::string& devicePath)
    // A symlinked ports file is the link's business, and stays a link.
    : path_(FollowLinks(configDir + "/ports.xml")), name_(portName), original_(ReadWhole(path_)) {
    std::vector<PortEntry> entries;
    if (original_) {
        if (auto parsed = ParsePorts(*original_))
            entries = std::move(*parsed);
        else
            replacedUnreadable = true;
    }
    const PortEntry mine{{{"name", portName}, {"device", devicePath}}};
    written_ = RenderPorts(WithPort(entries, portName, mine));
    // A reader never sees half a file, and a full disk leaves the old one.
    ReplaceFileSafely(path_, written_);
}

void PortsClaim::Restore() noexcept {
    if (restored_) return;
    restored_ = true;
    try {
        const std::optional<std::string> now = ReadWhole(path_);
        if (now == written_) {
            if (original_)
                ReplaceFileSafely(path_, *original_);
            else if (std::remove(path_.c_str()) != 0 && errno != ENOENT)
                throw std::runtime_error(std::strerror(errno));
            return;
        }
        // Someone else changed the file meanwhile (another simulator on another port, say): take back only
        // our own entry and leave theirs.
        if (!now) return;
        const auto current = ParsePorts(*now);
        if (!current) return;
        std::optional<PortEntry> before;
        if (original_)
            if (const auto old = ParsePorts(*original_))
                for (const PortEntry& e : *old)
                    if (SameName(e.Attribute("name"), name_)) {
                        before = e;
                        break;
                    }
        ReplaceFileSafely(path_, RenderPorts(WithPort(*current, name_, before)));
    } catch (const std::exception& e) {
        std::cerr << "korvasim: could not put " << path_ << " back: " << e.what() << '\n';
    }
}

}  // namespace korva::korvasim
