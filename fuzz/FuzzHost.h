#pragma once
// A fixed plant for the fuzz targets: two devices with every kind of property and both kinds of
// file handle, so that replies reach the reply handlers of property and file links.

#include "model/ConfigLoader.h"
#include "protocol/Comms.h"

namespace korva::fuzz {

class QuietHost : public CommsHost {
  public:
    void AddLogLine(const std::string&) override {}
    void RefreshDeviceTree() override {}
    void RequestClose() override {}
};

class QuietLoader : public LoaderHost {
  public:
    void ShowMessage(const std::string&) override {}
    void RequestEnd() override {}
};

// A way onto the bus, held as given, that frames what it is handed and counts it.
class CountingPort : public BusPort {
  public:
    explicit CountingPort(Hold h = Hold::Master) : hold(h) {}
    Hold State() const override { return hold; }
    void Send(const BusPacket& packet) override { sent += EncodeSerial(packet).size(); }
    Hold hold;
    std::size_t sent = 0;
};

inline void BuildPlant(Engine& comms) {
    KModel& m = comms.Model();
    for (int d = 0; d < 2; ++d) {
        KDevice& dev = m.MakeDevice(d == 0 ? "Pump" : "Mixer", static_cast<std::uint8_t>(0x22 + 4 * d));
        for (int type = 0; type < 4; ++type)
            m.MakeProperty(dev, {"P" + std::to_string(type), type, 1 + type});
        m.MakeProperty(dev, {"Twin", 0, 1});  // a second link on one code
        m.MakeProperty(dev, {"Odd", 7, 9});   // a type the wire does not know
        KFileLink& f4 = m.MakeFileHandle(dev, {"Curve", 4, 5}, 8);
        m.MakeFileHandle(dev, {"Log", 5, 6}, 3);
        m.MakeFileHandle(dev, {"Empty", 4, 7}, 0);
        f4.StartTransfer(d == 0 ? TransferOp::Load : TransferOp::Save);
    }
}

}  // namespace korva::fuzz
