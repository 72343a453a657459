// korvacap as the analyzer drives it: its answers to the capture dialogue, and a live capture through
// Debian's tshark of a line that korvasim serves, decoded by the dissector with the names that
// korvarun exported from the same configuration.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <sys/file.h>
#include <sys/stat.h>

#include "support/SimProcess.h"
#include "xml/SafeFile.h"

namespace korva {
namespace {

constexpr const char* kTshark = "/usr/bin/tshark";

// The exit status, however long the program takes within the bound.
std::optional<int> Finish(test::SimProcess& p, int patienceSeconds = 30) {
    std::optional<int> status;
    for (int waited = 0; !status && waited < patienceSeconds; waited += 5) status = p.Wait();
    return status;
}

TEST(Korvacap, AnswersTheAnalyzersQuestions) {
    test::DemoSim plant;
    ASSERT_TRUE(plant.Start()) << plant.sim->err;
    ::setenv("KORVACONFIG_HOME", plant.dir.Path().c_str(), 1);
    const std::string fifo = plant.dir.Path() + "/fifo";
    const struct {
        const char* name;
        std::string args;
        int status;
        std::string out;  // a line of stdout, or of stderr for a refusal; "PTY" stands for the line served
        std::string notOut = "";
    } rows[] = {
        {"the mapped port is listed", "--extcap-interfaces --extcap-version=4.0", 0,
         "interface {value=korva-COM1}{display=KorvaConfig serial COM1 (PTY)}", "{value=korva-COM2}"},
        {"its link type", "--extcap-interface korva-COM1 --extcap-dlts", 0,
         "dlt {number=147}{name=USER0}{display=KorvaConfig bus on korva-COM1}"},
        {"the speed is an option", "--extcap-interface korva-COM1 --extcap-config", 0,
         "value {arg=0}{value=57600}{display=57600}{default=true}"},
        {"no capture filter is understood", "--extcap-interface korva-COM1 --extcap-capture-filter tcp", 1,
         "korvacap takes no capture filter: every packet is captured; use a display filter"},
        {"an interface of another program", "--extcap-interface eth0 --extcap-dlts", 2,
         "no such interface 'eth0': korva-COM1 to korva-COM6"},
        {"a speed the devices do not use", "--extcap-interface korva-COM1 --fifo F --capture --speed 1234", 2,
         "--speed wants one of the program's speeds, not '1234'"},
        {"a device that is not there", "--extcap-interface korva-COM5 --fifo F --capture", 1,
         "korvacap: cannot listen on COM5: /dev/ttyUSB4: No such file or directory Is the adapter plugged "
         "in?"},
        {"a line another program holds", "--extcap-interface korva-COM1 --fifo F --capture", 1,
         "korvacap: cannot listen on COM1: PTY: Device or resource busy Another program holds the port"},
        {"a speed of the devices", "--extcap-interface korva-COM1 --extcap-dlts --speed 9600", 0,
         "dlt {number=147}"},
        {"two questions at once", "--extcap-interfaces --extcap-dlts --extcap-interface korva-COM1", 2,
         "one question at a time"},
        {"the analyzer's version alone", "--extcap-version=4.0", 0, "extcap {version="},
        {"no question", "", 0, "Usage: korvacap"},
        {"help asked for", "-h", 0, "Usage: korvacap"},
        {"an option without its value", "--extcap-interface", 2, "--extcap-interface needs a value"},
        {"a capture on another program's interface", "--extcap-interface eth0 --fifo F --capture", 2,
         "no such interface 'eth0'"},
        {"braces in a device path", "--extcap-interfaces --workdir B", 0,
         "{display=KorvaConfig serial COM2 (/dev/(odd))}"},
    };
    // A ports file whose path would break the dialogue's braces.
    plant.dir.Write("braces/config/ports.xml",
                    "<?xml version=\"1.0\"?><ports><port name=\"COM2\" device=\"/dev/{odd}\"/></ports>");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const bool held = std::string(row.name).find("holds") != std::string::npos;
        const int holder = held ? ::open(plant.pty.c_str(), O_RDONLY | O_NOCTTY) : -1;
        if (held) ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        std::vector<std::string> args = test::Words(row.args);
        for (std::string& a : args) a = a == "F" ? fifo : a == "B" ? plant.dir.Path() + "/braces" : a;
        test::SimProcess run(args, KORVACAP_PATH);
        EXPECT_EQ(Finish(run), row.status) << run.err;
        if (holder >= 0) ::close(holder);
        const std::string said = row.status == 0 ? run.out : run.out + run.err;
        const auto pty = [&](std::string text) {
            const auto at = text.find("PTY");
            return at == std::string::npos ? text : text.replace(at, 3, plant.pty);
        };
        EXPECT_NE(said.find(pty(row.out)), std::string::npos) << said;
        if (!row.notOut.empty()) EXPECT_EQ(said.find(row.notOut), std::string::npos) << said;
    }
}

// However the analyzer stops it, korvacap ends at once: a stop before the analyzer has opened the
// fifo, a stop while it captures, or the analyzer gone from the fifo on a line that carries nothing.
TEST(Korvacap, EndsWhenTheAnalyzerStops) {
    test::DemoSim plant;
    ASSERT_TRUE(plant.Start()) << plant.sim->err;
    const struct {
        const char* name;
        bool reader;  // the analyzer has the fifo open
        bool signal;  // SIGTERM, else the reader closes the fifo
        int status;
    } rows[] = {
        {"stopped before reading", false, true, 128 + SIGTERM},
        {"stopped while capturing", true, true, 0},
        {"the reader gone", true, false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string fifo = plant.dir.Path() + "/" + std::to_string(&row - rows) + ".fifo";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        int reader = row.reader ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
        test::SimProcess cap(
            {"--extcap-interface", "korva-COM1", "--fifo", fifo, "--capture", "--workdir", plant.dir.Path()},
            KORVACAP_PATH);
        if (reader >= 0) {
            // The file's header says that the capture is under way.
            pollfd p{reader, POLLIN, 0};
            ASSERT_EQ(::poll(&p, 1, 5000), 1);
            char head[64];
            EXPECT_GT(::read(reader, head, sizeof head), 0);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        if (row.signal) {
            cap.Signal(SIGTERM);
        } else {
            ::close(reader);
            reader = -1;
        }
        EXPECT_EQ(cap.Wait(), row.status) << cap.err;
        if (reader >= 0) ::close(reader);
    }
}

// The packet as the trace writes it: "(x22x70x89x01x1Dx01)".
std::string CaptureBytes(const std::vector<std::string>& hexBytes) {
    std::string text = "(";
    for (const std::string& b : hexBytes) {
        text += 'x';
        for (char c : b) text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text + ")";
}

TEST(Korvacap, TsharkCapturesLiveListeningOnlyWithTheConfigurationsNames) {
    ASSERT_TRUE(std::filesystem::exists(kTshark)) << "tshark is not installed (Debian package tshark)";
    test::DemoSim plant;
    // A name that would end a Lua string early unless it is escaped.
    std::string xml = ReadRegularFile(plant.ConfigDir() + "/plant.xml");
    xml.replace(xml.find("Name=\"Doser\""), 12, "Name=\"Dos\\er\\\"");
    plant.dir.Write("config/plant.xml", xml);
    // Requests every 20 ms: 120 packets take every property of every device in turn.
    ASSERT_TRUE(plant.Start({"--other-master", "112", "--other-every", "20", "--trace"})) << plant.sim->err;

    // The analyzer finds korvacap and the names in its personal folders.
    const std::string home = plant.dir.Path() + "/home";
    std::filesystem::create_directories(home + "/.config/wireshark/extcap");
    std::filesystem::create_symlink(KORVACAP_PATH, home + "/.config/wireshark/extcap/korvacap");
    test::SimProcess names({"--export-dissector-names", home + "/.config/wireshark/korva_names.lua",
                            "--workdir", plant.dir.Path()},
                           KORVARUN_PATH);
    ASSERT_EQ(Finish(names), 0) << names.err;
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("KORVACONFIG_HOME", plant.dir.Path().c_str(), 1);

    test::SimProcess tshark({"-i", "korva-COM1",     "-c", "120",
                             "-a", "duration:20",    "-X", std::string("lua_script:") + KORVA_DISSECTOR,
                             "-T", "fields",         "-E", "separator=|",
                             "-E", "aggregator=,",   "-e", "frame.comment",
                             "-e", "korva.kind",     "-e", "korva.device",
                             "-e", "korva.property", "-e", "korva.checksum_ok",
                             "-e", "korva.dest",     "-e", "korva.source",
                             "-e", "korva.code",     "-e", "korva.length",
                             "-e", "korva.checksum", "-e", "korva.data"},
                            kTshark);
    ASSERT_EQ(Finish(tshark), 0) << tshark.err;
    plant.sim->Signal(SIGTERM);
    ASSERT_EQ(Finish(*plant.sim), 0);

    // What the simulator put on the line, and what it heard from it: only the other master's requests.
    std::set<std::string> onLine;
    std::istringstream simLines(plant.sim->out);
    for (std::string line; std::getline(simLines, line);) {
        const auto open = line.find(" (");
        if (open == std::string::npos) continue;
        onLine.insert(line.substr(open + 1));
        if (line.find(" rx ") != std::string::npos)
            EXPECT_EQ(line.substr(open + 5, 4), "x70x")
                << "heard from another than the other master: " << line;
    }
    std::istringstream lines(tshark.out);
    std::set<std::string> kinds, named;
    int packets = 0;
    for (std::string line; std::getline(lines, line); ++packets) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, '|');) f.push_back(field);
        f.resize(11);
        EXPECT_EQ(f[0], "received COM1") << line;
        EXPECT_EQ(f[4], "1") << line;
        kinds.insert(f[1]);
        if (!f[3].empty()) named.insert(f[2] + "." + f[3]);
        // Every packet, byte for byte, is one the simulator sent.
        std::vector<std::string> bytes;
        for (int i : {5, 6, 7, 8, 9}) {
            std::ostringstream hex;
            hex << std::hex << std::stoi(f[i], nullptr, 0);
            bytes.push_back(hex.str().size() == 1 ? "0" + hex.str() : hex.str());
        }
        for (std::size_t i = 0; i + 1 < f[10].size(); i += 2) bytes.push_back(f[10].substr(i, 2));
        EXPECT_EQ(onLine.count(CaptureBytes(bytes)), 1u) << line;
    }
    EXPECT_EQ(packets, 120);
    EXPECT_EQ(kinds, (std::set<std::string>{"read reply", "read request"}));
    EXPECT_EQ(named.count("FeedPump.SpeedSetpoint"), 1u) << tshark.out;
    EXPECT_EQ(named.count("Dos\\er\\.MixerSpeed"), 1u) << tshark.out;
}

}  // namespace
}  // namespace korva
