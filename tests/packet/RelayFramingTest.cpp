// Packets out of a TCP byte stream, whatever the chunking.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "packet/RelayFraming.h"
#include "support/Packets.h"

namespace korva {
namespace {

using test::MakePacket;

struct Taken {
    RelayFramer framer;
    std::vector<std::string> packets;  // as raw bytes, to compare whole
    void Push(const std::string& bytes) {
        framer.Push(bytes, [this](const BusPacket& p) {
            EXPECT_TRUE(ChecksumOk(p));
            packets.push_back(EncodeRaw(p));
        });
        EXPECT_LT(framer.Buffered(), RelayFramer::kMaxFrame);
    }
};

const std::string kRead = EncodeRaw(MakePacket({0x22, 0x6C, 0x89}, {0x10}));
const std::string kReply = EncodeRaw(MakePacket({0x6C, 0x22, 0x8A}, {0x10, 0x05, 0xAA}));
const std::string kOption = EncodeRaw(MakePacket({0x6C, 0x23, 0x8A}, {7, 1, 2, 3}));
const std::string kBoot = EncodeRaw(MakePacket({0x16, 0x6C, 0xE8}));

std::string WithBadChecksum(std::string raw) {
    raw[4] = static_cast<char>(raw[4] + 1);
    return raw;
}

TEST(RelayFraming, PacketSplitAnywhereIsTakenWhole) {
    for (const std::string& raw : {kBoot, kRead, kReply, kOption}) {
        for (std::size_t cut = 1; cut < raw.size(); ++cut) {
            Taken t;
            t.Push(raw.substr(0, cut));
            EXPECT_TRUE(t.packets.empty()) << cut;
            t.Push(raw.substr(cut) + kRead.substr(0, 2));  // the next one starts in the same chunk
            EXPECT_EQ(t.packets, std::vector<std::string>{raw}) << cut;
        }
        Taken byteByByte;
        for (char c : raw + raw) byteByByte.Push(std::string(1, c));
        EXPECT_EQ(byteByByte.packets, (std::vector<std::string>{raw, raw}));
    }
}

TEST(RelayFraming, BadChecksumDropsTheFrameOnly) {
    Taken t;
    t.Push(kRead + WithBadChecksum(kReply) + kBoot + kOption + kReply);
    EXPECT_EQ(t.packets, (std::vector<std::string>{kRead, kBoot, kOption, kReply}));
    EXPECT_EQ(t.framer.Buffered(), 0u);
    EXPECT_EQ(t.framer.BadFrames(), 1u);
    EXPECT_EQ(t.framer.SkippedBytes(), 0u);
}

TEST(RelayFraming, GarbageAndLongLengthsResynchronise) {
    struct Case {
        const char* what;
        std::string before;
        std::size_t skipped;
    };
    std::string longLength = kReply;
    longLength[3] = 9;  // says nine data bytes: never a packet
    const Case cases[] = {
        {"nothing", "", 0},
        {"one byte", "\xFF", 1},
        {"text", "hello, peer\r\n", 13},
        {"length 5", std::string("\x22\x6C\x89\x05", 4), 4},
        {"length 9 with its data", longLength, longLength.size()},
    };
    for (const Case& c : cases) {
        Taken t;
        t.Push(c.before + kReply + kBoot);
        EXPECT_EQ(t.packets, (std::vector<std::string>{kReply, kBoot})) << c.what;
        EXPECT_EQ(t.framer.SkippedBytes(), c.skipped) << c.what;
    }
}

TEST(RelayFraming, RandomBytesStayBoundedAndNineHighBytesResynchronise) {
    std::mt19937 rng(1100);
    std::uniform_int_distribution<int> byte(0, 255), chunk(1, 40);
    for (int round = 0; round < 200; ++round) {
        Taken t;
        std::string junk;
        for (int n = chunk(rng) * 10; n > 0; --n) junk += static_cast<char>(byte(rng));
        for (std::size_t at = 0; at < junk.size();) {
            const std::size_t n = static_cast<std::size_t>(chunk(rng));
            t.Push(junk.substr(at, n));
            at += n;
        }
        // Nine bytes above 4 end any frame in progress and leave none started.
        t.Push(std::string(9, '\xFF'));
        t.packets.clear();
        t.Push(kRead);
        EXPECT_EQ(t.packets, std::vector<std::string>{kRead}) << round;
    }
}

}  // namespace
}  // namespace korva
