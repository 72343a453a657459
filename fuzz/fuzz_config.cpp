// Any bytes as the device configuration, loaded into the model behind fixed paths and constants.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "FuzzHost.h"
#include "model/ConfigLoader.h"

namespace {
using korva::fuzz::QuietLoader;

const std::string& WorkDir() {
    static const std::string dir = [] {
        const auto d =
            std::filesystem::temp_directory_path() / ("korva-fuzz-config-" + std::to_string(getpid()));
        std::filesystem::create_directories(d / "config");
        std::ofstream(d / "config/paths.xml")
            << "<p><constantspath>config\\c.xml</constantspath><configpath>config/plant.xml</configpath></p>";
        std::ofstream(d / "config/c.xml")
            << "<c><s Word=\"0\" Byte=\"1\" Opt=\"3\" F8=\"4\" F16=\"5\" Bad=\"x\""
               " A=\"1\" B=\"2\" C=\"300\" D=\"-4\"/></c>";
        return d.string();
    }();
    return dir;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korva;
    {
        std::ofstream plant(WorkDir() + "/config/plant.xml", std::ios::binary | std::ios::trunc);
        plant.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    fuzz::QuietHost host;
    Engine comms(host);
    QuietLoader quiet;
    ConfigLoader loader(comms.Model(), quiet, WorkDir());
    loader.LoadConfiguration();
    // Whatever was built must survive the bus: every link asks once.
    for (const auto& [name, device] : comms.Model().devices)
        for (const auto& [linkName, link] : device->links) link->RequestRead();
    for (int t = 0; t < 3; ++t) comms.Tick();
    return 0;
}
