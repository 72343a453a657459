#pragma once
// The core and the device emulation joined in memory, driven tick by tick.

#include <string>
#include <vector>

#include "protocol/Comms.h"
#include "sim/BusEmulator.h"
#include "support/FakeHost.h"

namespace korva::test {

class BusHarness : public FakeHost {
  public:
    explicit BusHarness(sim::FaultOptions faults = {}) : emu(faults), comms(*this) {
        comms.Start();
        // The line is open and carries what goes out to the device emulation.
        serialPort.hold = BusPort::Hold::Master;
        serialPort.sink = [this](const std::string& text) {
            sent.push_back({tick, text});
            if (serialPort.Up()) emu.Feed(text);
        };
        comms.Line().AttachSerial(&serialPort);
    }

    // One communications tick, then the line carries whatever the devices answered.
    void Step() {
        comms.Tick();
        emu.Tick();
        for (const std::string& piece : emu.TakeOutput()) comms.Line().TakeCluster(piece);
        ++tick;
    }
    void Run(int ticks) {
        for (int i = 0; i < ticks; ++i) Step();
    }
    // Steps until the predicate holds; false when it did not within the limit.
    template <typename Pred>
    bool RunUntil(Pred pred, int limit = 10000) {
        for (int i = 0; i < limit; ++i) {
            if (pred()) return true;
            Step();
        }
        return pred();
    }

    // A device known to both sides.
    KDevice& AddDevice(const std::string& name, std::uint8_t address) {
        emu.AddDevice(name, address);
        return comms.Model().MakeDevice(name, address);
    }
    KPropertyLink& AddProperty(KDevice& d, const std::string& name, int type, int code, int value = 0,
                               const ValueFormat& format = {}) {
        sim::SimProperty p;
        p.name = name;
        p.type = static_cast<std::uint8_t>(type);
        p.code = static_cast<std::uint8_t>(code);
        p.word = value & 0xFFFF;
        p.byte = static_cast<std::uint8_t>(value & 0xFF);
        emu.FindDevice(d.address)->properties.push_back(p);
        LinkSpec desc{name, type, code};
        desc.format = format;
        return comms.Model().MakeProperty(d, desc);
    }
    KFileLink& AddFile(KDevice& d, const std::string& name, int type, int code,
                       std::vector<std::int16_t> elements, int configuredLength) {
        sim::SimFile f;
        f.name = name;
        f.type = static_cast<std::uint8_t>(type);
        f.code = static_cast<std::uint8_t>(code);
        f.elements = std::move(elements);
        emu.FindDevice(d.address)->files.push_back(f);
        return comms.Model().MakeFileHandle(d, {name, type, code},
                                            static_cast<std::int8_t>(configuredLength));
    }

    struct Sent {
        int tick;
        std::string text;
    };
    sim::BusEmulator emu;
    Engine comms;
    std::vector<Sent> sent;
    int tick = 0;
};

}  // namespace korva::test
