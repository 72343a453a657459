// Any bytes as config/paths.xml and the constants file (split at the first NUL), loaded into the
// model with a fixed device configuration.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

#include "FuzzHost.h"
#include "model/ConfigLoader.h"

namespace {
using korva::fuzz::QuietLoader;

const std::string& WorkDir() {
    static const std::string dir = [] {
        const auto d =
            std::filesystem::temp_directory_path() / ("korva-fuzz-paths-" + std::to_string(getpid()));
        std::filesystem::create_directories(d / "config");
        std::ofstream(d / "config/plant.xml")
            << "<p><KDevice Name=\"Pump\" Address=\"34\"><KProperty Name=\"S\" Type=\"Word\" Code=\"A\"/>"
               "<KFileHandle Name=\"F\" Type=\"F8\" Code=\"B\" Length=\"4\"/></KDevice></p>";
        return d.string();
    }();
    return dir;
}

void Put(const std::string& name, std::string_view bytes) {
    std::ofstream out(WorkDir() + "/config/" + name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korva;
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = all.find('\0');
    // Paths that name no file of ours must not leave the config folder: the fuzzer writes only there.
    Put("paths.xml", all.substr(0, cut));
    Put("c.xml", cut == std::string_view::npos ? std::string_view{} : all.substr(cut + 1));
    fuzz::QuietHost host;
    Engine comms(host);
    QuietLoader quiet;
    ConfigLoader loader(comms.Model(), quiet, WorkDir());
    loader.LoadConfiguration();
    for (int t = 0; t < 3; ++t) comms.Tick();
    return 0;
}
