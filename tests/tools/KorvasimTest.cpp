// korvasim run as the program meets it: a child process serving a copy of the demo plant on a pty.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/SimProcess.h"
#include "xml/SafeFile.h"
#include "xml/XmlDocument.h"

namespace korva::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kPump = 0x22, kBoiler = 0x23;

fs::path PortsFile(const DemoSim& bench) {
    return fs::path(bench.ConfigDir()) / "ports.xml";
}

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
    EXPECT_EQ(std::vector<int>(reply->data, reply->data + reply->length), x.replyData);
}

// The layouts of every kind of reply are the emulator's (tests/sim), writes that stay are the demo
// sequences' (tests/e2e); here the demo plant's devices answer on the line as configured.
TEST(Korvasim, AnswersAsTheConfiguredDevices) {
    DemoSim bench;
    ASSERT_TRUE(bench.Start()) << bench.sim->err;
    const Exchange pump = {"byte property starts at 0", kPump, 0x89, {1}, 0x8A, {1, 0}};
    {
        // The program may close its port and open it again: the line is served afresh.
        BusClient first(bench.pty);
        ExpectReply(first, pump);
    }
    BusClient line(bench.pty);
    const Exchange table[] = {
        pump,
        {"16-bit file: size is its length", kBoiler, 0x89, {40, 0xFF, 0xFE}, 0x8A, {40, 0, 10, 0xFE}},
        {"a property inside a Comment is not served", kBoiler, 0x89, {41}, 0x8C, {41}},
    };
    for (const Exchange& x : table) ExpectReply(line, x);

    // No device at 99: the next reply on the line is the one for the pump.
    ASSERT_TRUE(line.Send(99, 0x89, {1}));
    ExpectReply(line, pump);
}

// The emulator's refusals and decimal replies are its own test's (tests/sim); a second master on the
// line is heard by the listen-only core (tests/e2e/CoreOverPtyTest.cpp); the program's test follows
// the traced requests and replies (tests/e2e/ProgramTest.cpp).
TEST(Korvasim, FaultOptionsShapeTheReplies) {
    DemoSim late;
    ASSERT_TRUE(late.Start({"--latency", "300", "--split"})) << late.sim->err;
    BusClient line(late.pty);
    ASSERT_TRUE(line.Send(kPump, 0x89, {1}));
    ASSERT_TRUE(line.Next());
    // The reply waits out the latency, then comes in two pieces, read apart. (How far apart is the
    // reader's timing under load as much as the simulator's, so it is not measured here.)
    EXPECT_GE(line.chunks.front().at - line.sentAt, std::chrono::milliseconds(280));
    ASSERT_GE(line.chunks.size(), 2u);
    EXPECT_EQ(line.chunks.front().text.find(')'), std::string::npos);

    // --drop 1 answers nothing. Both requests were taken: a reply would have been traced and written with
    // them.
    DemoSim mute;
    ASSERT_TRUE(mute.Start({"--drop", "1", "--trace"})) << mute.sim->err;
    BusClient muted(mute.pty);
    ASSERT_TRUE(muted.Send(kPump, 0x89, {1}));
    ASSERT_TRUE(muted.Send(kBoiler, 0x89, {1}));
    // Capture lines: the time, then the way and the bytes.
    ASSERT_TRUE(mute.sim->WaitForOutput("Z rx (x23x6Cx89x01x1Ax01)\n")) << mute.sim->out;
    EXPECT_EQ(mute.sim->out.find("tx "), std::string::npos) << mute.sim->out;
    EXPECT_EQ(muted.Pending(), "");
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
        EXPECT_TRUE(ports.emplace(name, std::string(child->getAttribute("device"))).second)
            << "twice: " << name;
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
        DemoSim bench;
        const fs::path target = fs::path(bench.dir.Path()) / "site/ports.xml";
        const auto stillLinked = [&] {
            EXPECT_TRUE(fs::is_symlink(PortsFile(bench)));
            EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
                      fs::perms::owner_read | fs::perms::owner_write);
        };
        if (c.linked) {
            bench.dir.Write("site/ports.xml", *c.before);
            fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
            fs::create_symlink("../site/ports.xml", PortsFile(bench));
        } else if (c.before) {
            bench.dir.Write("config/ports.xml", *c.before);
        }
        ASSERT_TRUE(bench.Start({"--link", c.link})) << bench.sim->err;
        EXPECT_EQ(bench.sim->FirstLine(),
                  "korvasim: serving 5 devices on " + bench.pty + " as COM" + c.link.substr(3));

        auto expected = c.others;
        expected["COM" + c.link.substr(3)] = bench.pty;
        EXPECT_EQ(PortsOf(PortsFile(bench)), expected);
        if (c.linked) stillLinked();

        bench.sim->Signal(c.stopSignal);
        EXPECT_EQ(bench.sim->Wait(), 0) << bench.sim->err;
        const std::optional<std::string> after =
            fs::exists(PortsFile(bench)) ? std::optional(ReadRegularFile(PortsFile(bench))) : std::nullopt;
        EXPECT_EQ(after, c.before);
        if (c.linked) stillLinked();
    }
}

// A bad command line ends with 1 and the usage before the configuration is read; a configuration that
// cannot be loaded (no paths.xml: the first row) ends with 2 and the loader's reason, whose wording is
// the loader's test's. Neither writes ports.xml.
TEST(Korvasim, RefusedStartsExitWithTheirStatus) {
    DemoSim bench;
    fs::remove(fs::path(bench.ConfigDir()) / "paths.xml");
    const std::string elsewhere = bench.dir.Path() + "/settings";
    // A row's words are its arguments; the empty row first.
    std::vector<std::string> rows = {
        "--drop 2",         "--refuse abc",    "--corrupt nan",     "--drop -0.1",      "--latency -1",
        "--latency 5x",     "--latency 10001", "--seed 4294967296", "--seed -1",        "--seed",
        "--device --trace", "--link COM9",     "--link LPT1",       "--bogus",          "extra",
        "--trace=yes",      "--config-dir ",   "--drop=",           "--other-master 0", "--other-every 0",
        "--lose 1.5",       "--double x",
    };
    rows.insert(rows.begin(), "");
    rows.push_back("--config-dir " + elsewhere);
    for (const std::string& row : rows) {
        const std::vector<std::string> args = Words(row);
        const bool usage = !args.empty();
        const std::string says = usage ? args.front().substr(0, args.front().find('='))
                                       : "Invalid or missing path specification data";
        SCOPED_TRACE(usage ? args.front() + (args.size() > 1 ? " " + args[1] : "") : "no paths.xml");
        std::vector<std::string> all{"--config-dir", bench.ConfigDir()};
        all.insert(all.end(), args.begin(), args.end());
        SimProcess sim(all);
        EXPECT_EQ(sim.Wait(), usage ? 1 : 2);
        EXPECT_NE(sim.err.find(says), std::string::npos) << sim.err;
        EXPECT_EQ(sim.err.find("Usage: korvasim") != std::string::npos, usage) << sim.err;
        EXPECT_EQ(sim.out, "");
        EXPECT_FALSE(fs::exists(PortsFile(bench)));
    }
}

}  // namespace
}  // namespace korva::test
