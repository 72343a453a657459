// Any bytes as config/ports.xml: the program's port look-up, and korvasim's reading and writing
// of the file, which must read back what it wrote.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "korvasim/PortsFile.h"
#include "transport/PortMap.h"

namespace {
const std::string& WorkDir() {
    static const std::string dir = [] {
        const auto d =
            std::filesystem::temp_directory_path() / ("korva-fuzz-ports-" + std::to_string(getpid()));
        std::filesystem::create_directories(d / "config");
        return d.string();
    }();
    return dir;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korva;
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(WorkDir() + "/config/ports.xml", std::ios::binary | std::ios::trunc);
        out << text;
    }
    for (const char* port : {"COM1", "com2", "COM6", "COM0", "COM999", "ttyX"})
        if (DevicePathForPort(WorkDir(), port).empty()) std::abort();

    const auto entries = korvasim::ParsePorts(text);
    if (!entries) return 0;
    const auto again = korvasim::ParsePorts(korvasim::RenderPorts(*entries));
    if (!again || again->size() != entries->size()) std::abort();
    for (std::size_t i = 0; i < entries->size(); ++i) {
        const auto& a = (*entries)[i].attributes;
        const auto& b = (*again)[i].attributes;
        if (a.size() != b.size()) std::abort();
        for (std::size_t j = 0; j < a.size(); ++j)
            if (a[j].name != b[j].name || a[j].value != b[j].value) std::abort();
    }
    return 0;
}
