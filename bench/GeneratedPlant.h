// The generated plant of the scale figures: devices of 50 properties each, the four property types
// in turn, every property with a help text of about 30 characters.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace korva::bench {

inline std::string PlantText(int devices) {
    static const char* kTypes[] = {"Word", "Byte", "SignedWord", "WordOpt"};
    std::string xml = "<plant>\n";
    for (int d = 0; d < devices; ++d) {
        const std::string unit = std::to_string(d);
        xml += "  <KDevice Name=\"Unit" + unit + "\" Address=\"" + std::to_string(34 + d % 200) + "\">\n";
        for (int p = 0; p < 50; ++p) {
            const std::string n = std::to_string(p);
            xml += "    <KProperty Name=\"Value" + n + "\" Type=\"" + kTypes[p % 4] + "\" Code=\"C" + n +
                   "\"><Helptext>Measured value " + n + " of unit " + unit + "</Helptext></KProperty>\n";
        }
        xml += "  </KDevice>\n";
    }
    return xml + "</plant>\n";
}

// config/paths.xml, the constants and the plant in a working folder; other files there stay.
inline void WritePlantFiles(const std::filesystem::path& dir, int devices) {
    std::filesystem::create_directories(dir / "config");
    std::ofstream(dir / "config/paths.xml")
        << "<paths><constantspath>config/constants.xml</constantspath><configpath>config/plant.xml</"
           "configpath></paths>";
    std::ofstream constants(dir / "config/constants.xml");
    constants << "<constants><symbols Word=\"0\" Byte=\"1\" SignedWord=\"2\" WordOpt=\"3\"";
    for (int p = 0; p < 50; ++p) constants << " C" << p << "=\"" << p << "\"";
    constants << "/></constants>";
    std::ofstream(dir / "config/plant.xml") << PlantText(devices);
}

// A working folder of its own; `name` keeps benchmarks apart.
inline std::filesystem::path WritePlant(const std::string& name, int devices) {
    const auto dir = std::filesystem::temp_directory_path() / name;
    WritePlantFiles(dir, devices);
    return dir;
}

}  // namespace korva::bench
