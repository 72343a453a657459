#include "transport/Serialng.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>
#include <thread>
#include <tuple>
#include <chrono>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/Deadline.h"
#include "support/FakeHost.h"
#include "support/Pty.h"
#include "support/TempDir.h"
#include "support/Wakeups.h"
#include "transport/ComPortCommands.h"
#include "transport/PortMap.h"
#include "xml/SafeFile.h"

namespace korva {
namespace {

using namespace std::chrono;
using test::FakeHost;
using test::MainQueue;
using test::Pty;
using test::TempDir;

struct Rig {
    MainQueue main;
    TSerialPortNG port{[this](std::function<void()> f) { main.Post(std::move(f)); }};
    std::vector<std::string> clusters;
    std::vector<steady_clock::time_point> arrivals;

    explicit Rig(const std::string& path) {
        port.OnRxClusterEvent = [this] {
            arrivals.push_back(steady_clock::now());
            clusters.push_back(port.ReadNextClusterAsString());
        };
        port.SetCommPort("COM1", path);
        port.SetActive(true);
    }
    std::size_t Received() const {
        std::size_t n = 0;
        for (const auto& c : clusters) n += c.size();
        return n;
    }
};

TEST(SerialPort, AClusterEndsAtAClosedPacketAfterAQuietTimeOrWhenFull) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    Rig rig(pty.SlavePath());
    ASSERT_TRUE(rig.port.Active());
    // Without a closing ")" the bytes wait until the line has been quiet for a while.
    const std::string burst(100, 'x');
    const auto start = steady_clock::now();
    ASSERT_TRUE(pty.Write(burst));
    ASSERT_TRUE(rig.main.RunUntil([&] { return rig.Received() >= burst.size(); }));
    EXPECT_GE(rig.arrivals[0] - start, milliseconds(1));
    // Each packet is a cluster of its own, handed over at its ")".
    const std::string packet = "(x6Cx23x8Ax03xFDx05x9Cx40)";
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(pty.Write(packet));
        ASSERT_TRUE(
            rig.main.RunUntil([&] { return rig.clusters.size() == 2u + static_cast<std::size_t>(i); }));
    }
    EXPECT_EQ(rig.clusters, (std::vector<std::string>{burst, packet, packet}));
    // Many waiting bytes close a cluster at once.
    const std::string block(3500, 'y');
    ASSERT_TRUE(pty.Write(block));
    ASSERT_TRUE(
        rig.main.RunUntil([&] { return rig.Received() >= burst.size() + 2 * packet.size() + block.size(); }));
    EXPECT_GE(rig.clusters[3].size(), static_cast<std::size_t>(TSerialPortNG::kClusterSize));
}

TEST(SerialPort, AnIdleOpenPortSleepsUntilBytesCome) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    Rig rig(pty.SlavePath());
    ASSERT_TRUE(rig.port.Active());
    const auto worker = test::Tasks(TSerialPortNG::kWorkerName);
    ASSERT_EQ(worker.size(), 1u);
    std::this_thread::sleep_for(milliseconds(50));  // the worker settles into its wait
    const auto before = test::ContextSwitches(worker).voluntary;
    std::this_thread::sleep_for(milliseconds(600));
    // A worker that woke on a timer would have woken every few dozen ms.
    EXPECT_LE(test::ContextSwitches(worker).voluntary - before, 1);
    ASSERT_TRUE(pty.Write("abc"));  // no ")": the quiet time ends the cluster once bytes came
    ASSERT_TRUE(rig.main.RunUntil([&] { return rig.Received() == 3u; }));
}

TEST(SerialPort, SecondSendWhileOneIsPendingIsRefused) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    Rig rig(pty.SlavePath());
    const std::string big(200000, 'z');  // more than the line holds: the write stays pending
    ASSERT_TRUE(rig.port.SendString(big));
    ASSERT_TRUE(rig.port.SendInProgress());
    EXPECT_FALSE(rig.port.SendString("(x23x6Cx89x01x1Ex05)"));
    const auto errors = rig.port.ErrorNumbers();
    EXPECT_NE(std::find(errors.begin(), errors.end(), 901), errors.end());
    // Once the other end reads, the pending write completes and sending works again.
    EXPECT_EQ(pty.Read(big.size(), 5000).size(), big.size());
    ASSERT_TRUE(rig.main.RunUntil([&] { return !rig.port.SendInProgress(); }));
    EXPECT_TRUE(rig.port.SendString("(x23x6Cx89x01x1Ex05)"));
    EXPECT_EQ(pty.Read(20), "(x23x6Cx89x01x1Ex05)");
}

TEST(SerialPort, ClosingWhileAClusterWaitsForTheMainThreadReturns) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    Rig rig(pty.SlavePath());
    ASSERT_TRUE(pty.Write("(x6Cx23x8Ax03xFDx05x9Cx40)"));
    // The main thread does not run: the worker waits for the hand-over.
    const auto end = steady_clock::now() + seconds(3);
    while (rig.port.NextClusterSize() < 0 && steady_clock::now() < end) std::this_thread::yield();
    ASSERT_GE(rig.port.NextClusterSize(), 0);
    rig.port.SetActive(false);
    EXPECT_FALSE(rig.port.Active());
    // The late event still hands over the cluster that was read.
    rig.main.RunUntil([&] { return rig.main.Pending() == 0; }, 200);
    EXPECT_EQ(rig.Received(), 26u);
}

TEST(SerialPort, EverySpeedOfTheBoxIsAccepted) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    Rig rig(pty.SlavePath());
    for (int rate : {2400, 9600, 14400, 19200, 28800, 37600, 57600, 115200}) {
        EXPECT_TRUE(rig.port.SetBaudRate(rate)) << rate;
        EXPECT_EQ(rig.port.BaudRate(), rate);
    }
    const auto errors = rig.port.ErrorNumbers();
    EXPECT_EQ(std::find(errors.begin(), errors.end(), 802), errors.end());
}

struct CommandRig {
    TempDir dir;
    FakeHost host;
    Engine comms{host};
    MainQueue main;
    TSerialPortNG port{[this](std::function<void()> f) { main.Post(std::move(f)); }};
    ComPortCommands commands{port, comms.Line(), host, dir.Path()};

    void MapCom(int n, const std::string& device) {
        dir.Write("config/ports.xml",
                  "<ports><port name=\"COM" + std::to_string(n) + "\" device=\"" + device + "\"/></ports>");
    }
};

TEST(ComPort, OpenCloseAndRetimeFromTheMenu) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    CommandRig rig;
    rig.MapCom(3, "/dev/korva-no-such-device");
    rig.commands.OpenPort(3);
    // The message, then the device with the system's reason, then what to do about it.
    ASSERT_EQ(rig.host.log.size(), 3u);
    EXPECT_EQ(rig.host.log[0], "Can't Open COM3");
    EXPECT_EQ(rig.host.log[1], "/dev/korva-no-such-device: No such file or directory");
    EXPECT_EQ(rig.commands.OpenPortNumber(), 0);
    EXPECT_FALSE(rig.comms.Line().SerialUp());
    rig.commands.ChangeBaudRate("9600");  // no port: nothing happens
    EXPECT_EQ(rig.host.log.size(), 3u);
    EXPECT_FALSE(rig.port.Active());

    rig.MapCom(1, pty.SlavePath());
    rig.commands.OpenPort(1);
    EXPECT_EQ(rig.host.log.back(), "Opening Com1");
    EXPECT_EQ(rig.commands.OpenPortNumber(), 1);
    EXPECT_TRUE(rig.comms.Line().SerialUp());
    rig.commands.ClosePort();
    EXPECT_EQ(rig.host.log.back(), "Closing COM1");
    EXPECT_FALSE(rig.port.Active());
    EXPECT_EQ(rig.commands.OpenPortNumber(), 1);  // kept, so a new speed opens the port again
    EXPECT_TRUE(rig.commands.ChangeBaudRate("115200"));
    EXPECT_EQ(rig.host.log.back(), "Re Opening Com Port at 115200");
    EXPECT_TRUE(rig.port.Active());
    EXPECT_EQ(rig.port.BaudRate(), 115200);
    EXPECT_FALSE(rig.commands.ChangeBaudRate("fast"));
    EXPECT_TRUE(rig.port.Active());
}

// Two windows on one line: the second is refused and told who holds it, whatever its rights, and
// a close frees the line at once for the other.
TEST(ComPort, ALineHasOneHolderAtATime) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    // Held open as the simulator holds its end, so that the terminal outlives each port's close.
    const test::RawLine simulator = test::RawLine::Open(pty.SlavePath());
    CommandRig a, b;
    a.MapCom(1, pty.SlavePath());
    b.MapCom(1, pty.SlavePath());
    std::string self;
    std::getline(std::ifstream("/proc/self/comm"), self);
    const std::vector<std::string> refused{
        "Can't Open COM1", pty.SlavePath() + ": Device or resource busy",
        "Another program holds the port: close it there first.",
        "It is held by " + self + " (process " + std::to_string(::getpid()) + ")."};
    // The window, whether it opens COM1 or closes it, and whether it holds the line then.
    const std::tuple<const char*, CommandRig*, bool, bool> steps[] = {
        {"the first opens", &a, true, true},
        {"the second is refused", &b, true, false},
        {"the first closes", &a, false, false},
        {"the second opens now", &b, true, true},
        {"the first is refused in turn", &a, true, false},
        {"the second closes", &b, false, false},
        {"the first opens again", &a, true, true},
    };
    for (const auto& [step, rig, open, holds] : steps) {
        open ? rig->commands.OpenPort(1) : rig->commands.ClosePort();
        EXPECT_EQ(rig->port.Active(), holds) << step;
        if (!open || holds) continue;
        const auto& log = rig->host.log;
        EXPECT_EQ(std::vector(log.end() - std::min<std::ptrdiff_t>(4, std::ssize(log)), log.end()), refused)
            << step;
    }
}

TEST(ComPort, DefaultNamesAndMappedNames) {
    TempDir dir;
    EXPECT_EQ(DevicePathForPort(dir.Path(), "COM1"), "/dev/ttyUSB0");
    EXPECT_EQ(DevicePathForPort(dir.Path(), "COM6"), "/dev/ttyUSB5");
    dir.Write("config/ports.xml",
              "<ports><port name=\"COM2\" device=\"/dev/serial/by-id/usb-Bench_Adapter-if00\"/>"
              "<port name=\"com1\" device=\"/dev/ttyS0\"/></ports>");
    EXPECT_EQ(DevicePathForPort(dir.Path(), "COM2"), "/dev/serial/by-id/usb-Bench_Adapter-if00");
    EXPECT_EQ(DevicePathForPort(dir.Path(), "COM1"), "/dev/ttyS0");
    EXPECT_EQ(DevicePathForPort(dir.Path(), "COM4"), "/dev/ttyUSB3");
    // A ports file that is a pipe counts as none, and never blocks.
    std::filesystem::remove(dir.Path() + "/config/ports.xml");
    ASSERT_EQ(::mkfifo((dir.Path() + "/config/ports.xml").c_str(), 0600), 0);
    EXPECT_EQ(test::InChild([&] { return DevicePathForPort(dir.Path(), "COM1"); }), "/dev/ttyUSB0");
}

// Saving the map: a linked ports file stays a link, and a link planted where the file used to be
// written first is not written through.
TEST(ComPort, SavingTheMapNeverWritesThroughALink) {
    const struct {
        std::vector<std::string> before, kept;  // in the words of TempDir::Plant
    } cases[] = {
        {{"config/", "config/ports.xml>../site.xml", "site.xml: <ports/>"}, {"config/ports.xml>../site.xml"}},
        {{"config/", "config/ports.xml: <ports/>", "config/ports.xml.new>../v", "v: mine"},
         {"config/ports.xml.new>../v", "v: mine"}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        dir.Plant(c.before);
        ASSERT_EQ(WritePortMap(dir.Path(), {{"COM2", "/dev/ttyUSB4"}}), "");
        EXPECT_EQ(DevicePathForPort(dir.Path(), "COM2"), "/dev/ttyUSB4");
        const std::vector<std::string> after = dir.Entries();
        for (const std::string& e : c.kept)
            EXPECT_NE(std::find(after.begin(), after.end(), e), after.end()) << e;
    }
}

// Random bytes, real packets and pauses of every length on the line, for KORVA_FLOOD_SECONDS
// (1 by default; the fuzz run gives it longer): the cluster handler and the scanner under the
// sanitizers take it all, the port stays open, and a packet after the flood is taken whole.
// Random sequence files are the sequence fuzz target's.
TEST(ComPort, FloodOfRandomBytes) {
    const char* env = std::getenv("KORVA_FLOOD_SECONDS");
    const auto end = steady_clock::now() + seconds(env ? std::max(1, std::atoi(env)) : 1);
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    CommandRig rig;
    rig.MapCom(1, pty.SlavePath());
    rig.commands.OpenPort(1);
    ASSERT_TRUE(rig.port.Active());
    const std::string reply = "(x6Cx23x8Ax03xFDx05x9Cx40)";
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::mt19937 rng(std::random_device{}());
        while (steady_clock::now() < end) {
            std::string chunk(rng() % 5000, '\0');
            for (char& c : chunk) c = static_cast<char>(rng() % 4 ? rng() & 0xFF : "(x)"[rng() % 3]);
            if (rng() % 3 == 0) chunk.insert(rng() % (chunk.size() + 1), reply);
            if (!pty.Write(chunk)) break;
            if (rng() % 4 == 0) std::this_thread::sleep_for(microseconds(rng() % 15000));
        }
        std::this_thread::sleep_for(milliseconds(30));  // the last cluster closes
        pty.Write(")" + reply);
        done = true;
    });
    // The last packet taken must be the one written last.
    const auto lastIsTheReply = [&] {
        return done && !rig.host.log.empty() && rig.host.log.back() == "rx: [6C 23 8A 03 FD 05 9C 40 ]";
    };
    while (!done) rig.main.RunUntil(lastIsTheReply, 50);
    writer.join();
    EXPECT_TRUE(rig.main.RunUntil(lastIsTheReply));
    EXPECT_TRUE(rig.port.Active());
    // Traces of whatever the garbage formed stay within the pane's lines, one per packet.
    for (const std::string& line : rig.host.log) EXPECT_LT(line.size(), 200u);
}

}  // namespace
}  // namespace korva
