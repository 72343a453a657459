// korvasim run as the program meets it: a child process serving a copy of the demo plant on a pty.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include "support/TempDir.h"
#include "support/SimProcess.h"
#include "xml/XmlDocument.h"

namespace korva::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kPump = 0x22, kBoiler = 0x23, kDoser = 0x32;

std::vector<int> DataOf(const BusPacket& p) {
    return std::vector<int>(p.data, p.data + p.length);
}

std::optional<std::string> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A private copy of the demo plant; korvasim may write into it.
class Bench {
  public:
    Bench() { fs::copy(fs::path(KORVA_DEMO_DIR) / "config", ConfigDir(), fs::copy_options::recursive); }
    fs::path ConfigDir() const { return fs::path(dir.Path()) / "config"; }
    fs::path PortsFile() const { return ConfigDir() / "ports.xml"; }

    // Starts korvasim on this bench and learns the line from its first line of output.
    std::unique_ptr<SimProcess> Start(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--config-dir", ConfigDir().string()});
        auto sim = std::make_unique<SimProcess>(args);
        const auto first = sim->FirstLine();
        const std::string on = " on ", as = " as ";
        if (!first || first->rfind("korvasim: serving 5 devices on ", 0) != 0) {
            ADD_FAILURE() << "first line: " << (first ? *first : "(none)") << "\nstderr: " << sim->err;
            return sim;
        }
        const std::size_t from = first->find(on) + on.size();
        pty = first->substr(from, first->find(as, from) - from);
        return sim;
    }

    TempDir dir;
    std::string pty;
};

struct Exchange {
    const char* what;
    std::uint8_t dest;
    std::uint8_t code;
    std::vector<int> data;
    std::uint8_t replyCode;
    std::vector<int> replyData;
};

void ExpectReply(BusClient& line, const Exchange& x) {
    SCOPED_TRACE(x.what);
    ASSERT_TRUE(line.Send(x.dest, x.code, x.data));
    const auto reply = line.Next();
    ASSERT_TRUE(reply.has_value()) << "no reply";
    EXPECT_EQ(reply->dest, BusClient::kOwnAddress);
    EXPECT_EQ(reply->source, x.dest);
    EXPECT_EQ(reply->code, x.replyCode);
    EXPECT_EQ(DataOf(*reply), x.replyData);
}

// The layouts of every kind of reply are the emulator's (tests/sim), writes that stay are the demo
// sequences' (tests/e2e); here the demo plant's devices answer on the line as configured.
TEST(Korvasim, AnswersAsTheConfiguredDevices) {
    Bench bench;
    auto sim = bench.Start();
    // The program may close its port and open it again: each round opens the line afresh.
    for (int round = 0; round < 2; ++round) {
        BusClient line(bench.pty);
        ASSERT_TRUE(line.Open()) << bench.pty;
        ExpectReply(line, {"byte property starts at 0", kPump, 0x89, {1}, 0x8A, {1, 0}});
    }
    BusClient line(bench.pty);
    ASSERT_TRUE(line.Open()) << bench.pty;
    const Exchange table[] = {
        {"16-bit file: size is its length", kBoiler, 0x89, {40, 0xFF, 0xFE}, 0x8A, {40, 0, 10, 0xFE}},
        {"element past the length is refused", kDoser, 0x89, {85, 8}, 0x8C, {85}},
        {"unknown code is refused", kPump, 0x89, {99}, 0x8C, {99}},
        {"a property inside a Comment is not served", kBoiler, 0x89, {41}, 0x8C, {41}},
    };
    for (const Exchange& x : table) ExpectReply(line, x);

    // No device at 99: the next reply on the line is the one for the pump.
    ASSERT_TRUE(line.Send(99, 0x89, {1}));
    ExpectReply(line, {"after silence from an unknown address", kPump, 0x89, {1}, 0x8A, {1, 0}});
}

// A second master on the line is heard by the listen-only core (tests/e2e/CoreOverPtyTest.cpp).
struct FaultCase {
    const char* what;
    std::vector<std::string> args;
    std::function<void(SimProcess&, BusClient&)> check;
};

TEST(Korvasim, FaultOptionsShapeTheReplies) {
    const FaultCase cases[] = {
        {"--latency delays the reply",
         {"--latency", "300"},
         [](SimProcess&, BusClient& line) {
             ASSERT_TRUE(line.Send(kPump, 0x89, {1}));
             ASSERT_TRUE(line.Next());
             EXPECT_GE(line.chunks.front().at - line.sentAt, std::chrono::milliseconds(280));
         }},
        {"--split sends two pieces with a gap",
         {"--split"},
         [](SimProcess&, BusClient& line) {
             ASSERT_TRUE(line.Send(kPump, 0x89, {1}));
             ASSERT_TRUE(line.Next());
             ASSERT_GE(line.chunks.size(), 2u);
             EXPECT_EQ(line.chunks.front().text.find(')'), std::string::npos);
             EXPECT_GE(line.chunks.back().at - line.chunks.front().at, std::chrono::milliseconds(8));
         }},
        {"--trace prints each packet",
         {"--trace"},
         [](SimProcess& sim, BusClient& line) {
             ASSERT_TRUE(line.Send(kPump, 0x89, {1}));
             ASSERT_TRUE(line.Next());
             // Capture lines: the time, then the way and the bytes.
             EXPECT_TRUE(sim.WaitForOutput("Z rx (x22x6Cx89x01x19x01)\n")) << sim.out;
             EXPECT_TRUE(sim.WaitForOutput("Z tx (x6Cx22x8Ax02x1Bx01x00)\n")) << sim.out;
         }},
        {"--drop 1 answers nothing",
         {"--drop", "1", "--trace"},
         [](SimProcess& sim, BusClient& line) {
             ASSERT_TRUE(line.Send(kPump, 0x89, {1}));
             ASSERT_TRUE(line.Send(kBoiler, 0x89, {1}));
             // Both requests were taken; a reply would have been traced and written with them.
             ASSERT_TRUE(sim.WaitForOutput("rx (x23x6Cx89x01x1Ax01)\n")) << sim.out;
             EXPECT_EQ(sim.out.find("tx "), std::string::npos) << sim.out;
             EXPECT_EQ(line.Pending(), "");
         }},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.what);
        Bench bench;
        auto sim = bench.Start(c.args);
        BusClient line(bench.pty);
        ASSERT_TRUE(line.Open());
        c.check(*sim, line);
    }
}

// name (folded to upper case) -> device, as the program would look them up
std::map<std::string, std::string> PortsOf(const fs::path& file) {
    std::map<std::string, std::string> ports;
    XmlDocument doc;
    doc.LoadXML(file.string());
    EXPECT_EQ(doc.error, "");
    EXPECT_EQ(doc.name, "ports");
    for (const auto& child : doc.children) {
        std::string name(child->getAttribute("name"));
        for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_TRUE(ports.emplace(name, std::string(child->getAttribute("device"))).second) << "twice: " << name;
    }
    return ports;
}

struct PortsCase {
    const char* what;
    std::optional<std::string> before;
    std::string link;
    int stopSignal;
    std::map<std::string, std::string> others;
    bool linked = false;  // ports.xml is a link to a private file elsewhere
};

TEST(Korvasim, PortsFilePointsAtThePtyAndIsPutBack) {
    const PortsCase cases[] = {
        {"no file before", std::nullopt, "COM1", SIGTERM, {}},
        {"another port is kept",
         "<ports><port name=\"COM2\" device=\"/dev/ttyS9\"/></ports>",
         "COM1",
         SIGINT,
         {{"COM2", "/dev/ttyS9"}}},
        {"our port's old entry gives way",
         "<?xml version=\"1.0\"?>\n<ports>\n  <port name=\"com3\" device=\"/dev/ttyUSB7\"/>\n"
         "  <port name=\"COM4\" device='/dev/serial/by-id/usb-x'/>\n</ports>\n",
         "com3",
         SIGTERM,
         {{"COM4", "/dev/serial/by-id/usb-x"}}},
        {"a linked file stays a link and keeps its mode",
         "<ports><port name=\"COM2\" device=\"/dev/ttyS9\"/></ports>",
         "COM1",
         SIGTERM,
         {{"COM2", "/dev/ttyS9"}},
         true},
    };
    for (const PortsCase& c : cases) {
        SCOPED_TRACE(c.what);
        Bench bench;
        const fs::path target = fs::path(bench.dir.Path()) / "site/ports.xml";
        const auto stillLinked = [&] {
            EXPECT_TRUE(fs::is_symlink(bench.PortsFile()));
            EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
        };
        if (c.linked) {
            bench.dir.Write("site/ports.xml", *c.before);
            fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
            fs::create_symlink("../site/ports.xml", bench.PortsFile());
        } else if (c.before) {
            bench.dir.Write("config/ports.xml", *c.before);
        }
        auto sim = bench.Start({"--link", c.link});
        ASSERT_FALSE(bench.pty.empty());
        EXPECT_NE(sim->out.find(" as COM"), std::string::npos);

        auto expected = c.others;
        expected["COM" + c.link.substr(3)] = bench.pty;
        EXPECT_EQ(PortsOf(bench.PortsFile()), expected);
        if (c.linked) stillLinked();

        sim->Signal(c.stopSignal);
        EXPECT_EQ(sim->Wait(), 0) << sim->err;
        EXPECT_EQ(ReadFile(bench.PortsFile()), c.before);
        if (c.linked) stillLinked();
    }
}

TEST(Korvasim, BadCommandLinesExitWithOne) {
    Bench bench;
    const std::string elsewhere = bench.dir.Path() + "/settings";
    const std::vector<std::vector<std::string>> cases = {
        {"--drop", "2"}, {"--refuse", "abc"}, {"--corrupt", "nan"}, {"--drop", "-0.1"}, {"--latency", "-1"},
        {"--latency", "5x"}, {"--latency", "10001"}, {"--seed", "4294967296"}, {"--seed", "-1"}, {"--seed"},
        {"--device", "--trace"}, {"--link", "COM9"}, {"--link", "LPT1"}, {"--bogus"}, {"extra"}, {"--trace=yes"},
        {"--config-dir", ""}, {"--config-dir", elsewhere}, {"--drop="}, {"--other-master", "0"},
        {"--other-every", "0"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.front() + (args.size() > 1 ? " " + args[1] : ""));
        std::vector<std::string> all{"--config-dir", bench.ConfigDir().string()};
        all.insert(all.end(), args.begin(), args.end());
        SimProcess sim(all);
        EXPECT_EQ(sim.Wait(), 1);
        const std::string option = args.front().substr(0, args.front().find('='));
        EXPECT_NE(sim.err.find(option), std::string::npos) << sim.err;
        EXPECT_NE(sim.err.find("Usage: korvasim"), std::string::npos);
        EXPECT_FALSE(fs::exists(bench.PortsFile()));
    }
}

// What the loader reports is its own test's; korvasim passes it on and ends with 2.
TEST(Korvasim, UnloadableConfigurationExitsWithTwo) {
    Bench bench;
    fs::remove(bench.ConfigDir() / "paths.xml");
    SimProcess sim({"--config-dir", bench.ConfigDir().string()});
    EXPECT_EQ(sim.Wait(), 2);
    EXPECT_NE(sim.err.find("Invalid or missing path specification data"), std::string::npos) << sim.err;
    EXPECT_EQ(sim.out, "");
    EXPECT_FALSE(fs::exists(bench.PortsFile()));
}

}  // namespace
}  // namespace korva::test
