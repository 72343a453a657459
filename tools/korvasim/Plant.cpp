#include "Plant.h"

#include <exception>
#include <filesystem>

#include "model/ConfigLoader.h"
#include "model/Kobjects.h"
#include "model/TextConvert.h"

namespace korva::korvasim {

namespace {

class ReportingHost : public LoaderHost {
  public:
    explicit ReportingHost(PlantReport& report) : report_(report) {}
    void ShowMessage(const std::string& text) override { report_.problems.push_back(text); }
    void RequestEnd() override { endRequested = true; }
    bool endRequested = false;

  private:
    PlantReport& report_;
};

void Serve(const KDevice& device, int latencyTicks, sim::BusEmulator& emu, PlantReport& report) {
    sim::SimDevice& served = emu.AddDevice(device.name, device.address);
    served.latencyTicks = latencyTicks;
    ++report.devices;
    // The device's link list is what the program can reach; replaced links are left out.
    for (const auto& [linkName, link] : device.links) {
        if (const auto* file = dynamic_cast<const KFileLink*>(link);
            file != nullptr && link->IsFileHandle()) {
            sim::SimFile f;
            f.name = link->name;
            f.type = link->type;
            f.code = link->code;
            f.elements.assign(static_cast<std::size_t>(file->size < 0 ? 0 : file->size), 0);
            served.files.push_back(std::move(f));
        } else if (link->type <= 3) {
            sim::SimProperty p;
            p.name = link->name;
            p.type = link->type;
            p.code = link->code;
            served.properties.push_back(std::move(p));
        } else {
            report.warnings.push_back("'" + device.name + "." + linkName + "' has type " +
                                      std::to_string(link->type) +
                                      ", which no device answers; it is refused");
        }
    }
}

}  // namespace

PlantReport LoadPlant(const std::string& configDir, int latencyTicks, sim::BusEmulator& emu) {
    PlantReport report;
    KModel model;  // read, never sent from
    ReportingHost host(report);
    const std::filesystem::path dir(configDir);
    ConfigLoader loader(model, host, dir.parent_path().string());
    try {
        loader.LoadConfiguration();
    } catch (const std::exception& e) {
        // The loader reports what it foresees through the host; anything else still ends the start here.
        report.problems.push_back(e.what());
        return report;
    }
    if (host.endRequested || !report.problems.empty()) {
        if (!loader.LastError().empty()) report.problems.push_back(loader.LastError());
        return report;
    }
    report.loaded = true;
    for (const auto& [deviceName, device] : model.devices) {
        report.severalLines = report.severalLines || !SameIgnoringCase(device->port, "COM1");
        // The program routes a reply by its sender, and the first device at an address wins there too.
        if (const sim::SimDevice* first = emu.FindDevice(device->address)) {
            report.warnings.push_back("'" + deviceName + "' shares address " +
                                      std::to_string(device->address) + " with '" + first->name +
                                      "'; only '" + first->name + "' answers");
            continue;
        }
        Serve(*device, latencyTicks, emu, report);
    }
    return report;
}

}  // namespace korva::korvasim
