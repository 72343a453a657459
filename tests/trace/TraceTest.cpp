#include <gtest/gtest.h>

#include <filesystem>

#include "protocol/Comms.h"
#include "support/FakeHost.h"
#include "support/Packets.h"
#include "support/TempDir.h"
#include "trace/CaptureFile.h"
#include "trace/Pcapng.h"
#include "trace/TraceFilter.h"

namespace korva {
namespace {

using test::MakePacket;

constexpr std::int64_t kNoon = 1796644800LL * 1000000;  // 2026-12-07T12:00:00Z

TEST(CaptureLine, WhatEachLineBecomes) {
    const struct {
        const char* line;
        CaptureFault fault;
        std::int64_t time;
    } cases[] = {
        {"2026-12-07T12:00:00.5Z rx (x6Cx22x8Ax02x1Bx01x00)", CaptureFault::None, kNoon + 500000},
        {"rx (x22x6Cx89x01x19x01)", CaptureFault::None, -1},     // korvasim --trace without a time
        {"  crc\t(x16x6CxE8x00x00)\r", CaptureFault::None, -1},  // kept though its checksum fails
        {"2026-12-07T12:00:00Z relay (022108232000106)", CaptureFault::None, kNoon},  // decimal bytes
        {"", CaptureFault::Comment, -1},
        {"# a note", CaptureFault::Comment, -1},
        {"2026-13-07T12:00:00Z tx (x16x6CxE8x00x6A)", CaptureFault::BadTime, -1},
        {"12:00:00 tx (x16x6CxE8x00x6A)", CaptureFault::BadTime, -1},
        {"2026-12-07T12:00:00Z sent (x16x6CxE8x00x6A)", CaptureFault::BadPath, -1},
        {"2026-12-07T12:00:00Z", CaptureFault::BadPath, -1},
        {"tx 16 6C E8 00 6A", CaptureFault::BadPacket, -1},
        {"tx (x16x6CxE8x00", CaptureFault::BadPacket, -1},      // cut short
        {"tx (x16x6CxE8x01x6A)", CaptureFault::BadPacket, -1},  // fewer bytes than its length
        {"tx (x16x6CxE8x00x6A)(x16x6CxE8x00x6A)", CaptureFault::BadPacket, -1},
        {"tx (x16 x6CxE8x00x6A)", CaptureFault::BadPacket, -1},
    };
    for (const auto& c : cases) {
        CapturedPacket p;
        EXPECT_EQ(ParseCaptureLine(c.line, p), c.fault) << c.line;
        if (c.fault == CaptureFault::None) EXPECT_EQ(p.timeUs, c.time) << c.line;
    }
    // Written, with and without a time, and read back.
    const BusPacket p = MakePacket({0x23, 0x6C, 0x89}, {5});
    EXPECT_EQ(FormatCaptureLine(kNoon + 42, PacketPath::Sent, p),
              "2026-12-07T12:00:00.000042Z tx (x23x6Cx89x01x1Ex05)");
    EXPECT_EQ(FormatCaptureLine(-1, PacketPath::Heard, p), "bus (x23x6Cx89x01x1Ex05)");
    CapturedPacket back;
    ASSERT_EQ(ParseCaptureLine(FormatCaptureLine(kNoon + 42, PacketPath::Relayed, p), back),
              CaptureFault::None);
    EXPECT_EQ(back.timeUs, kNoon + 42);
    EXPECT_EQ(back.path, PacketPath::Relayed);
    EXPECT_EQ(TraceBytes(back.packet), TraceBytes(p));
}

TEST(CaptureLine, NamesTheLineAfterTheDirection) {
    const struct {
        const char* line;
        CaptureFault fault;
        std::uint8_t number;
    } cases[] = {
        {"tx COM2 (x16x6CxE8x00x6A)", CaptureFault::None, 2},
        {"2026-12-07T12:00:00Z crc\tcom6  (x16x6CxE8x00x00)", CaptureFault::None, 6},
        {"tx (x16x6CxE8x00x6A)", CaptureFault::None, 0},
        {"tx COM7 (x16x6CxE8x00x6A)", CaptureFault::BadPacket, 0},
        {"tx COM0 (x16x6CxE8x00x6A)", CaptureFault::BadPacket, 0},
        {"tx COM2", CaptureFault::BadPacket, 0},
        {"tx COM2 COM3 (x16x6CxE8x00x6A)", CaptureFault::BadPacket, 0},
    };
    for (const auto& c : cases) {
        CapturedPacket p;
        EXPECT_EQ(ParseCaptureLine(c.line, p), c.fault) << c.line;
        EXPECT_EQ(p.line, c.number) << c.line;
    }
    const BusPacket p = MakePacket({0x23, 0x6C, 0x89}, {5});
    EXPECT_EQ(FormatCaptureLine(-1, PacketPath::Sent, p, 2), "tx COM2 (x23x6Cx89x01x1Ex05)");
    EXPECT_EQ(FormatCaptureLine(-1, PacketPath::Sent, p, 7), "tx (x23x6Cx89x01x1Ex05)");
}

TEST(TraceBuffer, KeepsTheNewest) {
    TraceBuffer b(3);
    for (int i = 0; i < 5; ++i) b.Append(TraceRecord::From(i, PacketPath::Sent, MakePacket({i, 0, 0})));
    EXPECT_EQ(b.Size(), 3u);
    EXPECT_EQ(b.First(), 2u);
    EXPECT_EQ(b.End(), 5u);
    EXPECT_EQ(b.Dropped(), 2u);
    EXPECT_FALSE(b.Holds(1));
    for (std::uint64_t n = 2; n < 5; ++n) EXPECT_EQ(b.At(n).Packet().dest, n);
    b.Clear();
    EXPECT_EQ(b.Size(), 0u);
    b.Append(TraceRecord::From(9, PacketPath::Received, MakePacket({9, 0, 0}, {1, 2, 3, 4})));
    EXPECT_EQ(b.At(b.First()).Packet().data[3], 4);
    EXPECT_EQ(sizeof(TraceRecord), 24u);
}

// A pump with properties of every value type and a file of each index width.
struct Plant {
    Plant() {
        KDevice& pump = model.MakeDevice("FeedPump", 0x22);
        model.MakeProperty(pump, LinkSpec("Speed", 0, 16));
        model.MakeProperty(pump, LinkSpec("Mode", 1, 17));
        model.MakeProperty(pump, LinkSpec("Valve", 3, 18));
        model.MakeFileHandle(pump, LinkSpec("Curve", 4, 40), 8);
        model.MakeFileHandle(pump, LinkSpec("Table", 5, 41), 8);
        LinkSpec temp("Temp", 2, 19);
        temp.format.given = temp.format.isSigned = true;
        temp.format.unit = "°C";
        temp.format.scale = 0.1;
        model.MakeProperty(pump, temp);
        LinkSpec alarms("Alarms", 1, 20);
        alarms.format.given = true;
        alarms.format.bits = {{0, "Dry run"}, {2, "Low water"}};
        model.MakeProperty(pump, alarms);
        model.MakeDevice("Boiler", 0x23);
    }
    KModel model;
};

TEST(TraceDecoder, NamesAndValues) {
    Plant plant;
    const TraceDecoder d(plant.model);
    const struct {
        BusPacket packet;
        PacketPath path;
        const char *device, *property, *value, *kind;
        bool problem;
    } cases[] = {
        {MakePacket({0x22, 0x6C, 0x89}, {16}), PacketPath::Sent, "FeedPump", "Speed", "", "read request",
         false},
        {MakePacket({0x6C, 0x22, 0x8A}, {16, 0xFF, 0xFE}), PacketPath::Received, "FeedPump", "Speed", "-2",
         "read reply", false},
        {MakePacket({0x6C, 0x22, 0x8A}, {17, 200}), PacketPath::Received, "FeedPump", "Mode", "200",
         "read reply", false},
        {MakePacket({0x22, 0x6C, 0x79}, {18, 1, 2, 9}), PacketPath::Sent, "FeedPump", "Valve", "258",
         "write request", false},
        {MakePacket({0x6C, 0x22, 0x7A}, {18}), PacketPath::Received, "FeedPump", "Valve", "", "write reply",
         false},
        // An engineering value as the engineer reads it, the raw number beside it where it differs.
        {MakePacket({0x6C, 0x22, 0x8A}, {19, 0xFF, 0xE7}), PacketPath::Received, "FeedPump", "Temp",
         "-2.5 °C (-25)", "read reply", false},
        {MakePacket({0x22, 0x6C, 0x79}, {20, 5}), PacketPath::Sent, "FeedPump", "Alarms",
         "Dry run | Low water (5)", "write request", false},
        {MakePacket({0x6C, 0x22, 0x8C}, {16}), PacketPath::Received, "FeedPump", "Speed", "", "refusal",
         true},
        {MakePacket({0x6C, 0x22, 0x8A}, {16, 1}), PacketPath::Received, "FeedPump", "Speed",
         "<Unexpected packet length>", "read reply", true},
        {MakePacket({0x22, 0x6C, 0x89}, {40, 0xFE}), PacketPath::Sent, "FeedPump", "Curve[-2]", "",
         "read request", false},
        {MakePacket({0x6C, 0x22, 0x8A}, {40, 0, 7, 3}), PacketPath::Received, "FeedPump", "Curve[3]", "7",
         "read reply", false},
        {MakePacket({0x22, 0x6C, 0x79}, {41, 0x33, 1, 2}), PacketPath::Sent, "FeedPump", "Table[258]", "51",
         "write request", false},
        {MakePacket({0x23, 0x6C, 0x89}, {16}), PacketPath::Sent, "Boiler", "", "", "read request", false},
        {MakePacket({0x16, 0x6C, 0xE8}), PacketPath::Sent, "", "", "", "boot loader", false},
        {MakePacket({6, 0x6C, 0x89}, {16}), PacketPath::Sent, "", "", "", "broadcast", false},
        {MakePacket({0x6C, 0x22, 0x59}), PacketPath::Received, "", "", "", "close request", false},
        {MakePacket({0x22, 0x6C, 0x5A}), PacketPath::Sent, "", "", "", "acknowledgement", false},  // from us
        {MakePacket({0x22, 0x6C, 0x89}, {16}), PacketPath::ChecksumError, "FeedPump", "Speed", "",
         "CHECKSUM ERROR, read request", true},
    };
    for (const auto& c : cases) {
        const DecodedPacket got = d.Decode(c.packet, c.path);
        const std::string bytes = TraceBytes(c.packet);
        EXPECT_EQ(got.device ? got.device->name : "", c.device) << bytes;
        EXPECT_EQ(got.property, c.property) << bytes;
        EXPECT_EQ(got.value, c.value) << bytes;
        EXPECT_EQ(got.kind, c.kind) << bytes;
        EXPECT_EQ(got.problem, c.problem) << bytes;
    }
}

TEST(TraceFilter, Chooses) {
    Plant plant;
    const TraceDecoder d(plant.model);
    TraceBuffer b;
    b.Append(TraceRecord::From(1, PacketPath::Sent, MakePacket({0x22, 0x6C, 0x89}, {16})));
    b.Append(TraceRecord::From(2, PacketPath::Received, MakePacket({0x6C, 0x22, 0x8A}, {16, 0, 5})));
    b.Append(TraceRecord::From(3, PacketPath::Sent, MakePacket({0x23, 0x6C, 0x79}, {16, 0, 1})));
    b.Append(TraceRecord::From(4, PacketPath::Heard, MakePacket({0x70, 0x22, 0x8A}, {17, 4})));
    b.Append(TraceRecord::From(5, PacketPath::ChecksumError, MakePacket({0x6C, 0x22, 0x8A}, {17, 4})));
    const auto only = [](PacketPath p) { return 1u << static_cast<unsigned>(p); };
    const struct {
        TraceFilter filter;
        std::vector<std::uint64_t> rows;
    } cases[] = {
        {{}, {0, 1, 2, 3, 4}},
        {{0x22, -1, TraceFilter::kAllPaths, -1, ""}, {0, 1, 3, 4}},
        {{0x22, 17, TraceFilter::kAllPaths, -1, ""}, {3, 4}},
        {{-1, -1, only(PacketPath::Sent), -1, ""}, {0, 2}},
        {{-1, -1, only(PacketPath::Heard) | only(PacketPath::ChecksumError), -1, ""}, {3, 4}},
        {{-1, -1, TraceFilter::kAllPaths, 0x78, ""}, {2}},
        {{-1, -1, TraceFilter::kAllPaths, -1, "boiler"}, {2}},
        {{-1, -1, TraceFilter::kAllPaths, -1, "mode"}, {3, 4}},
        {{-1, -1, TraceFilter::kAllPaths, -1, "not for"}, {3}},
        {{-1, -1, TraceFilter::kAllPaths, -1, "8a 02"}, {3, 4}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FilterTrace(b, c.filter, d), c.rows) << c.filter.text << " " << c.filter.device;
        EXPECT_EQ(c.filter.Empty(), c.rows.size() == 5u);
    }
}

TEST(CaptureFile, ReadsWhatItCanAndSaysWhatNot) {
    TraceBuffer b;
    const CaptureReport r = ReadCapture(std::string(kCaptureHeader) +
                                            "\n2026-12-07T12:00:00Z tx (x22x6Cx89x01xB7x10)\n"
                                            "rx (x6Cx22x8Ax03xBBx10x00x05)\n"
                                            "garbage\n"
                                            "tx (x22x6Cx89\n"
                                            "2026-12-07T12:00:01Z bus (x70x22x8Ax02x00x11x04)",
                                        b);
    EXPECT_EQ(r.taken, 3u);
    EXPECT_EQ(r.Skipped(), 2u);
    EXPECT_EQ(r.Summary(),
              "3 packets; 2 lines skipped (1 time not understood, 1 not one whole packet in the "
              "bus's text encoding), the first at line 4");
    ASSERT_EQ(b.Size(), 3u);
    EXPECT_EQ(b.At(1).timeUs, kNoon);  // a line without a time takes the one before it
    EXPECT_EQ(b.At(2).path, PacketPath::Heard);
    // Saved and read again, the records are the same.
    TraceBuffer again;
    EXPECT_EQ(ReadCapture(CaptureText(b, nullptr), again).Summary(), "3 packets");
    EXPECT_EQ(CaptureText(again, nullptr), CaptureText(b, nullptr));
    // A byte-order mark before the first line costs that line nothing.
    TraceBuffer marked;
    EXPECT_EQ(ReadCapture("\xEF\xBB\xBF"
                          "2026-12-07T12:00:00Z tx (x22x6Cx89x01xB7x10)\n",
                          marked)
                  .Summary(),
              "1 packet");
    const std::vector<std::uint64_t> rows{2};
    Plant plant;
    EXPECT_EQ(
        CsvText(b, &rows, TraceDecoder(plant.model)),
        "Time,Direction,From,To,Device,Property,Value,Kind,Bytes\n"
        "2026-12-07T12:00:01.000000Z,not for us,34,112,FeedPump,Mode,4,read reply,70 22 8A 02 00 11 04\n");
}

// A file read piece by piece gives what the whole text gives, lines cut between pieces included;
// a load asked to stop stops.
TEST(CaptureFile, ReadInPiecesAsAWholeAndStopsWhenAsked) {
    std::string text = "\xEF\xBB\xBF" + std::string(kCaptureHeader) + "\n";
    for (int i = 0; i < 50000; ++i)  // about 2 MB: more than one piece
        text += FormatCaptureLine(kNoon + i, PacketPath::Sent, MakePacket({0x22, 0x6C, 0x89}, {1})) +
                (i % 1000 == 7 ? "\nnoise\n" : "\n");
    text += "2026-12-07T12:00:01Z bus (x70x22x8Ax02x00x11x04)";  // no line end at the end
    test::TempDir dir;
    dir.Write("big.kcap", text);
    TraceBuffer whole(60000), pieces(60000);
    const CaptureReport expected = ReadCapture(text, whole);
    const CaptureReport got = LoadCaptureFile(dir.Path() + "/big.kcap", pieces);
    EXPECT_EQ(got.Summary(), expected.Summary());
    EXPECT_EQ(got.taken, 50001u);
    EXPECT_FALSE(got.cancelled);
    EXPECT_EQ(CaptureText(pieces, nullptr), CaptureText(whole, nullptr));
    const std::atomic<bool> stop{true};
    TraceBuffer none;
    const CaptureReport stopped = LoadCaptureFile(dir.Path() + "/big.kcap", none, &stop);
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(stopped.taken, 0u);
}

// Each file holds whole lines or blocks, up to the limit, and together they hold every packet.
TEST(CaptureFile, RecorderStartsANewFileAtTheLimit) {
    const struct {
        const char* name;
        CaptureFormat format;
        const char* ext;
    } rows[] = {{"capture lines", CaptureFormat::Lines, ".kcap"},
                {"pcapng", CaptureFormat::Pcapng, ".pcapng"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const std::string base = dir.Path() + "/bus";
        CaptureRecorder rec(base, 4096, false, row.format);
        TraceBuffer all;
        std::string blocks;
        for (int i = 0; i < 300; ++i) {
            // Packets of differing length, so that a file's end falls inside one now and then.
            const auto r =
                TraceRecord::From(kNoon + i, PacketPath::Sent,
                                  MakePacket({0x22, 0x6C, 0x89}, std::vector<int>(1 + i % 4, i & 0xFF)));
            rec.Add(r);
            all.Append(r);
            blocks += PcapngPacket(r);
            if (i % 50 == 49) rec.Flush();
        }
        rec.Flush();
        EXPECT_GE(rec.Files(), 4);
        TraceBuffer back;
        std::string backBlocks;
        for (int f = 1; f <= rec.Files(); ++f) {
            const std::string name = base + "-00" + std::to_string(f) + row.ext;
            EXPECT_LE(std::filesystem::file_size(name), 4096u) << name;
            if (row.format == CaptureFormat::Lines) {
                EXPECT_EQ(LoadCaptureFile(name, back).Skipped(), 0u);
                continue;
            }
            const std::string file = ReadRegularFile(name);
            ASSERT_EQ(file.substr(0, PcapngHead().size()), PcapngHead()) << name;
            backBlocks += file.substr(PcapngHead().size());
        }
        if (row.format == CaptureFormat::Lines)
            EXPECT_EQ(CaptureText(back, nullptr), CaptureText(all, nullptr));
        else
            EXPECT_EQ(backBlocks, blocks);
    }
}

// A new recording to the same base goes on after the files there, and writes into none of them.
TEST(CaptureFile, RecorderNeverWritesIntoAFileThatWasThere) {
    const struct {
        const char* name;
        std::vector<std::string> there;  // in the words of TempDir::Plant, sorted
        std::string first;               // the recording's first file
    } cases[] = {
        {"after a recording", {"bus-001.kcap: 1", "bus-002.kcap: 2"}, "bus-003.kcap"},
        {"after the highest; other names do not count",
         {"ab-9.kcap: a", "bus-001.kcap: 1", "bus-007.kcap: 7", "bus-1000000000.kcap: b", "bus-x.kcap: x"},
         "bus-008.kcap"},
        {"a link planted at the next name", {"bus-001.kcap>v", "v: mine"}, "bus-002.kcap"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        dir.Plant(c.there);
        {
            CaptureRecorder rec(dir.Path() + "/bus", 1 << 20);
            rec.Add(TraceRecord::From(kNoon, PacketPath::Sent, MakePacket({0x22, 0x6C, 0x89}, {1})));
        }
        std::vector<std::string> after = dir.Entries();
        std::erase(after, c.first + ": " + kCaptureHeader +
                              "\n2026-12-07T12:00:00.000000Z tx (x22x6Cx89x01x19x01)\n");
        EXPECT_EQ(after, c.there) << c.name;
    }
}

// The protocol reports every packet it routes, and while it only listens it sends nothing.
TEST(PacketObserver, EveryWayIsReported) {
    struct Recorder : PacketObserver {
        void OnPacket(const std::string&, PacketPath path, const BusPacket& p) override {
            seen.push_back(std::string(PathToken(path)) + " " + TraceBytes(p));
        }
        std::vector<std::string> seen;
    };
    for (const bool listen : {false, true}) {
        test::FakeHost host;
        Engine comms(host);
        host.Wire(comms);
        host.serialPort.hold = BusPort::Hold::Master;
        Recorder rec;
        comms.Line().SetPacketObserver(&rec);
        comms.Line().SetListenOnly(listen);
        comms.Line().Route(MakePacket({0x22, 0x6C, 0x89}, {16}));  // the program's own request
        comms.Line().Feed(EncodeSerial(MakePacket({0x6C, 0x22, 0x8A}, {16, 0, 5})));
        comms.Line().Feed(EncodeSerial(MakePacket({0x70, 0x22, 0x8A}, {16, 0, 5})));  // for another master
        comms.Line().Feed(EncodeSerial(MakePacket({0x21, 0x70, 0x89}, {16})));  // another master's request
        comms.Line().Feed(
            EncodeSerial(MakePacket({0x26, 0x70, 0x89}, {16})));  // passed on by the router's rule
        comms.Line().Feed("(x6Cx22x8Ax01x00x10)");                // checksum error
        comms.Line().RunBootLoader();
        comms.Tick();
        const std::vector<std::string> expected =
            listen
                ? std::vector<std::string>{"rx 6C 22 8A 03 30 10 00 05 ", "bus 70 22 8A 03 34 10 00 05 ",
                                           "bus 21 70 89 01 2B 10 ", "bus 26 70 89 01 30 10 ",
                                           "crc 6C 22 8A 01 00 10 "}
                : std::vector<std::string>{
                      "tx 22 6C 89 01 28 10 ",  "rx 6C 22 8A 03 30 10 00 05 ", "bus 70 22 8A 03 34 10 00 05 ",
                      "bus 21 70 89 01 2B 10 ", "relay 26 70 89 01 30 10 ",    "crc 6C 22 8A 01 00 10 ",
                      "tx 16 6C E8 00 6A "};
        EXPECT_EQ(rec.seen, expected) << listen;
        EXPECT_EQ(host.serial.size(), listen ? 0u : 3u);
        EXPECT_EQ(comms.Line().Queue().Empty(), true);
    }
}

}  // namespace
}  // namespace korva
