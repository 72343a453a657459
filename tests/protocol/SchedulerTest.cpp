// Who gets the request slots over many ticks: every live device is read every period, whatever a
// dead one does, at the speeds the line is used at.
#include <gtest/gtest.h>

#include <map>

#include "support/BusHarness.h"

namespace korva {
namespace {

TEST(Scheduler, EveryLiveDeviceIsReadEveryPeriod) {
    const struct {
        const char* name;
        int baud;
        int linesTicksPerReply;  // as long as an exchange holds a line of that speed
        int devices, propertiesEach;
        bool firstDead;
        float periodSeconds;
        int ticks;
        int minReadsEach;  // of every live device
    } cases[] = {
        {"dead first device at 9600", 9600, 5, 4, 11, true, 4.0f, 1203, 33},
        {"all alive at 9600", 9600, 5, 4, 11, false, 4.0f, 1203, 33},
        {"20 links at 2400", 2400, 19, 4, 5, false, 4.0f, 1203, 15},
        // One slot at this speed: the dead device's try holds the line, the others still fit.
        {"dead first device at 2400", 2400, 19, 4, 3, true, 4.0f, 1203, 9},
        // Polled as fast as the line goes: the devices share it evenly.
        {"period 0, all alive", 9600, 5, 4, 11, false, 0.0f, 400, 18},
    };
    for (const auto& c : cases) {
        test::BusHarness h;
        h.comms.Line().SetLineSpeed(c.baud);
        h.emu.lineTicksPerReply = c.linesTicksPerReply;
        ASSERT_TRUE(h.comms.SetPeriodSeconds(c.periodSeconds));
        std::vector<KDevice*> devices;
        for (int d = 0; d < c.devices; ++d) {
            const auto address = static_cast<std::uint8_t>(0x22 + 4 * d);  // serial addresses
            devices.push_back(&h.AddDevice("D" + std::to_string(d), address));
            for (int p = 0; p < c.propertiesEach; ++p)
                h.AddProperty(*devices.back(), "P" + std::to_string(p), 0, 10 + p, p).SetPoll(true);
        }
        if (c.firstDead) h.emu.FindDevice(0x22)->silent = true;
        h.Run(c.ticks);
        std::map<int, int> heard;  // requests each device heard
        for (const auto& seen : h.emu.Requests()) ++heard[seen.packet.dest];
        for (int d = c.firstDead ? 1 : 0; d < c.devices; ++d) {
            EXPECT_GE(heard[0x22 + 4 * d], c.minReadsEach) << c.name << " device " << d;
            for (const auto& [name, link] : devices[static_cast<std::size_t>(d)]->links)
                EXPECT_NE(link->state, LinkState::ERROR) << c.name << " " << name;
        }
        if (!c.firstDead) continue;
        // The dead device: its first period's tries, then one try (five sendings) a period.
        const int periods = c.ticks / 401 + 1;
        EXPECT_LE(heard[0x22], 5 * (std::min(c.propertiesEach, 3) + periods - 1)) << c.name;
        EXPECT_TRUE(h.comms.Line().Silent(*devices[0])) << c.name;
        for (const auto& [name, link] : devices[0]->links) {
            EXPECT_EQ(link->state, LinkState::ERROR) << c.name << " " << name;
            EXPECT_EQ(link->fault, LinkFault::NoReply) << c.name << " " << name;
        }
        // Asked for everything at once by hand, the silent device gets one slot at a time.
        for (const auto& [name, link] : devices[0]->links) {
            link->SetPoll(false);
            link->RequestRead();
        }
        for (int t = 0; t < 200; ++t) {
            h.Step();
            int held = 0;
            for (const auto& [name, link] : devices[0]->links) held += link->pending != nullptr;
            ASSERT_LE(held, 1) << c.name << " tick " << t;
        }
        // Once it answers again (asked at the next period) it is read as the others are.
        h.emu.FindDevice(0x22)->silent = false;
        for (const auto& [name, link] : devices[0]->links) link->SetPoll(true);
        const int revived = h.tick;
        h.Run(802);
        EXPECT_FALSE(h.comms.Line().Silent(*devices[0])) << c.name;
        std::map<int, int> readsOf;  // by property code
        for (const auto& seen : h.emu.Requests())
            if (seen.packet.dest == 0x22 && static_cast<int>(seen.tick) >= revived)
                ++readsOf[seen.packet.data[0]];
        for (int p = 0; p < c.propertiesEach; ++p) EXPECT_GE(readsOf[10 + p], 1) << c.name << " P" << p;
        for (const auto& [name, link] : devices[0]->links)
            EXPECT_NE(link->state, LinkState::ERROR) << c.name << " " << name;
    }
}

}  // namespace
}  // namespace korva
