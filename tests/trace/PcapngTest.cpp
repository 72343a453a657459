// The trace's pcapng file as the analyzer reads it: Debian's tshark prints each packet's time,
// length, comment, direction and bytes, and they are the trace's.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/Packets.h"
#include "support/TempDir.h"
#include "trace/CaptureFile.h"
#include "trace/Pcapng.h"
#include "trace/TraceDecoder.h"
#include "xml/SafeFile.h"

namespace korva {
namespace {

// What a command prints on stdout, its lines.
std::vector<std::string> Output(const std::string& command) {
    std::vector<std::string> lines;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return lines;
    std::string text;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0;) text.append(chunk, n);
    for (std::size_t from = 0, at; (at = text.find('\n', from)) != std::string::npos; from = at + 1)
        lines.push_back(text.substr(from, at - from));
    return lines;
}

TEST(Pcapng, TsharkReadsEveryPacketAsTheTraceHasIt) {
    const char* tshark = "/usr/bin/tshark";
    ASSERT_TRUE(std::filesystem::exists(tshark)) << "tshark is not installed (Debian package tshark)";
    const struct {
        const char* line;    // as the capture file has it
        const char* fields;  // time|length|comment|direction|bytes, as tshark prints them
    } cases[] = {
        {"2026-12-07T12:00:00Z tx (x22x6Cx89x01xB7x10)",
         "1796644800.000000000|6|sent|0x00000002|226c8901b710"},
        {"2026-12-07T12:00:00.250001Z rx COM2 (x6Cx22x8Ax03xBBx10x00x05)",
         "1796644800.250001000|8|received COM2|0x00000001|6c228a03bb100005"},
        {"2026-12-07T12:00:01Z bus (x70x22x8Ax02x00x11x04)",
         "1796644801.000000000|7|not for us|0x00000001|70228a02001104"},
        {"2026-12-07T12:00:02Z relay COM1 (x22x6Cx89x01xB7x10)",
         "1796644802.000000000|6|relayed COM1|0x00000002|226c8901b710"},
    };
    std::string capture = std::string(kCaptureHeaderLines) + "\n";
    for (const auto& c : cases) capture += std::string(c.line) + "\n";
    TraceBuffer trace;
    ASSERT_EQ(ReadCapture(capture, trace).Summary(), "4 packets");
    test::TempDir dir;
    const std::string file = dir.Path() + "/bus.pcapng";
    ReplaceFileSafely(file, PcapngText(trace));
    // The user link type is shown as plain data, so that its bytes can be compared.
    const std::vector<std::string> got = Output(
        std::string(tshark) + " -r " + file +
        " -o 'uat:user_dlts:\"User 0 (DLT=147)\",\"data\",\"0\",\"\",\"0\",\"\"' -T fields -E separator='|'"
        " -e frame.time_epoch -e frame.len -e frame.comment -e frame.packet_flags_direction -e data.data"
        " 2>/dev/null");
    ASSERT_EQ(got.size(), std::size(cases));
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], cases[i].fields) << cases[i].line;
    // Only the rows asked for.
    const std::vector<std::uint64_t> rows{trace.First() + 2};
    ReplaceFileSafely(file, PcapngText(trace, &rows));
    EXPECT_EQ(Output(std::string(tshark) + " -r " + file + " -T fields -e frame.comment 2>/dev/null"),
              std::vector<std::string>{"not for us"});
}

// The dissector decodes every kind of packet in the trace's words, with the trace's device and
// property, from a names table beside it, and marks a wrong checksum.
TEST(Pcapng, TheDissectorDecodesEveryKindAsTheTraceDoes) {
    const char* tshark = "/usr/bin/tshark";
    ASSERT_TRUE(std::filesystem::exists(tshark)) << "tshark is not installed (Debian package tshark)";
    KModel model;
    KDevice& pump = model.MakeDevice("FeedPump", 34);
    model.MakeProperty(pump, LinkSpec("SpeedSetpoint", PropertyType::Word, 16));
    const TraceDecoder decoder(model);
    const struct {
        std::vector<int> header;  // dest, source, code
        std::vector<int> data;
        bool corrupt;
        const char* bytes;  // dest|source|length|checksum right|data
    } cases[] = {
        {{34, 108, 0x89}, {16}, false, "34|108|1|1|10"},
        {{108, 34, 0x8A}, {16, 0x05, 0xAA}, false, "108|34|3|1|1005aa"},
        {{34, 108, 0x79}, {16, 0x05, 0xAA}, false, "34|108|3|1|1005aa"},
        {{108, 34, 0x7A}, {16}, false, "108|34|1|1|10"},
        {{108, 35, 0x8C}, {7}, false, "108|35|1|1|07"},
        {{0x16, 108, 0xE8}, {}, false, "22|108|0|1|"},
        {{34, 108, 0x59}, {}, false, "34|108|0|1|"},
        {{108, 34, 0x5A}, {}, false, "108|34|0|1|"},
        {{6, 108, 0x89}, {1}, false, "6|108|1|1|01"},
        {{34, 108, 0x11}, {}, false, "34|108|0|1|"},
        {{108, 34, 0x8A}, {16, 0x05, 0xAA}, true, "108|34|3|0|1005aa"},
    };
    TraceBuffer trace;
    std::vector<std::string> want;
    for (const auto& c : cases) {
        BusPacket p = test::MakePacket({c.header[0], c.header[1], c.header[2]}, c.data);
        if (c.corrupt) p.checksum = static_cast<std::uint8_t>(p.checksum + 1);
        const PacketPath path = c.corrupt ? PacketPath::ChecksumError : PacketPath::Received;
        trace.Append(TraceRecord::From(0, path, p));
        const DecodedPacket d = decoder.Decode(p, path);
        want.push_back(std::string(c.bytes) + "|" + d.kind + "|" + (d.device ? d.device->name : "") + "|" +
                       d.property + "|" + (c.corrupt ? "1" : ""));
    }
    test::TempDir dir;
    ReplaceFileSafely(dir.Path() + "/korva.lua", ReadRegularFile(KORVA_DISSECTOR));
    ReplaceFileSafely(dir.Path() + "/korva_names.lua",
                      "return { devices = { [34] = \"FeedPump\" }, properties = { [34] = { [16] = "
                      "\"SpeedSetpoint\" } } }\n");
    ReplaceFileSafely(dir.Path() + "/bus.pcapng", PcapngText(trace));
    const std::string read =
        std::string(tshark) + " -X lua_script:" + dir.Path() + "/korva.lua -r " + dir.Path() + "/bus.pcapng ";
    const std::vector<std::string> got = Output(
        read +
        "-T fields -E separator='|' -e korva.dest -e korva.source -e korva.length -e korva.checksum_ok "
        "-e korva.data -e korva.kind -e korva.device -e korva.property -e korva.checksum.bad 2>/dev/null");
    ASSERT_EQ(got.size(), std::size(cases));
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], want[i]) << i;
    // The packet tree names the class of each packet's code.
    std::vector<std::string> classes;
    for (const std::string& line : Output(read + "-O korva -V 2>/dev/null"))
        if (const auto at = line.find("= Class: "); at != std::string::npos)
            classes.push_back(line.substr(at + 9));
    ASSERT_EQ(classes.size(), std::size(cases));
    EXPECT_EQ(classes[0], "read (0x11)");
    EXPECT_EQ(classes[2], "write (0x0f)");
    EXPECT_EQ(classes[5], "boot (0x1d)");
    EXPECT_EQ(classes[6], "close (0x0b)");
    EXPECT_EQ(classes[9], "Unknown (0x02)");
}

// A names file is parsed, never run: code in it does nothing and gives no names, and names of the
// wrong kind are passed over while the right ones are kept.
TEST(Pcapng, ANamesFileIsReadAsDataOnly) {
    const char* tshark = "/usr/bin/tshark";
    ASSERT_TRUE(std::filesystem::exists(tshark)) << "tshark is not installed (Debian package tshark)";
    test::TempDir dir;
    const struct {
        const char* name;
        std::string text;
        const char* fields;  // device|property of a read of property 16 of device 34
    } rows[] = {
        {"as korvarun writes it",
         "-- names\nreturn {\n  devices = {\n    [34] = \"Feed\\\"Pump\\092\",\n  },\n"
         "  properties = {\n    [34] = { [16] = \"Speed\", },\n  },\n}\n",
         "Feed\"Pump\\|Speed"},
        {"code", "io.open(\"" + dir.Path() + "/ran\", \"w\") return { devices = { [34] = \"X\" } }", "|"},
        {"a loop", "while true do end", "|"},
        {"a string method", "return { devices = { [34] = (\"x\"):rep(9) } }", "|"},
        {"names of the wrong kind",
         "return { devices = { [34] = {}, [35] = \"B\" }, properties = { [34] = { [16] = {}, [17] = \"S\" } "
         "} }",
         "|"},
        {"an address beyond a byte", "return { devices = { [290] = \"X\", [34] = \"P\" } }", "P|"},
    };
    TraceBuffer trace;
    trace.Append(TraceRecord::From(0, PacketPath::Received, test::MakePacket({34, 108, 0x89}, {16})));
    ReplaceFileSafely(dir.Path() + "/korva.lua", ReadRegularFile(KORVA_DISSECTOR));
    ReplaceFileSafely(dir.Path() + "/bus.pcapng", PcapngText(trace));
    for (const auto& row : rows) {
        ReplaceFileSafely(dir.Path() + "/korva_names.lua", row.text);
        EXPECT_EQ(Output("timeout 20 " + std::string(tshark) + " -X lua_script:" + dir.Path() +
                         "/korva.lua -r " + dir.Path() +
                         "/bus.pcapng -T fields -E separator='|' -e korva.device -e korva.property "
                         "2>/dev/null"),
                  std::vector<std::string>{row.fields})
            << row.name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/ran"));
}

}  // namespace
}  // namespace korva
