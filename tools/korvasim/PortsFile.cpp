#include "PortsFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The file the name stands for: a symlinked ports file is the link's business, and stays a link.
std::string FollowLinks(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path p = path;
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(p, ec); ++hops) {
        const fs::path target = fs::read_symlink(p, ec);
        if (ec) break;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return p.string();
}

// A reader never sees half a file: write beside it, then rename over it. The file keeps its mode.
void WriteWhole(const std::string& path, const std::string& content) {
    struct stat st {};
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    const std::string temp = path + ".korvasim-" + std::to_string(::getpid());
    const auto failed = [&temp](const std::string& what) {
        const std::string why = std::strerror(errno);
        std::remove(temp.c_str());
        throw std::runtime_error(what + ": " + why);
    };
    {
        UniqueFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!out) failed("cannot write " + temp);
        // Explicitly, not through the umask: the copy must end up as open as the file was, no more.
        if (::fchmod(out.Get(), mode) != 0) failed("cannot set the mode of " + temp);
        std::size_t done = 0;
        while (done < content.size()) {
            const ssize_t n = ::write(out.Get(), content.data() + done, content.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) failed("cannot write " + temp);
            done += static_cast<std::size_t>(n);
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) failed("cannot replace " + path);
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
    WriteWhole(path_, written_);
}

void PortsClaim::Restore() noexcept {
    if (restored_) return;
    restored_ = true;
    try {
        const std::optional<std::string> now = ReadWhole(path_);
        if (now == written_) {
            if (original_)
                WriteWhole(path_, *original_);
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
        WriteWhole(path_, RenderPorts(WithPort(*current, name_, before)));
    } catch (const std::exception& e) {
        std::cerr << "korvasim: could not put " << path_ << " back: " << e.what() << '\n';
    }
}

}  // namespace korva::korvasim
