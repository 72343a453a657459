#include "packet/BusPacket.h"

#include <gtest/gtest.h>

#include "support/Packets.h"

namespace korva {
namespace {

using test::MakePacket;

TEST(BusPacket, WorkedExamplesByteForByte) {
    struct Case {
        BusPacket packet;
        std::uint8_t checksum;
        const char* wire;
        const char* trace;
    };
    const Case cases[] = {
        {MakePacket({0x16, 0x6C, 0xE8}), 0x6A, "(x16x6CxE8x00x6A)", "16 6C E8 00 6A "},
        {MakePacket({0x23, 0x6C, 0x89}, {0x05}), 0x1E, "(x23x6Cx89x01x1Ex05)", "23 6C 89 01 1E 05 "},
        {MakePacket({0x0A, 0x0A, 0x0A}, {0x0A, 0xFF, 0x00, 0x0A}), 0x35, "(x0Ax0Ax0Ax04x35x0AxFFx00x0A)",
         "0A 0A 0A 04 35 0A FF 00 0A "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.packet.checksum, c.checksum);
        EXPECT_TRUE(ChecksumOk(c.packet));
        EXPECT_EQ(EncodeSerial(c.packet), c.wire);
        EXPECT_EQ(TraceBytes(c.packet), c.trace);
        EXPECT_EQ(EncodeRaw(c.packet).size(), c.packet.WireSize());
    }
}

TEST(BusPacket, LengthAboveFourNeverPasses) {
    for (int length : {5, 6, 31, 200, 255}) {
        for (int stored : {0x00, 0x5A, 0xFF}) {
            BusPacket p = MakePacket({0x6C, 0x23, 0x8A});
            p.length = static_cast<std::uint8_t>(length);
            p.checksum = static_cast<std::uint8_t>(stored);
            EXPECT_FALSE(ChecksumOk(p)) << length << " " << stored;
            EXPECT_EQ(Checksum(p), static_cast<std::uint8_t>(~stored));
        }
    }
}

TEST(BusPacket, ChecksumSkipsItsOwnByteAndCountsOnlyLengthDataBytes) {
    BusPacket p = MakePacket({0x80, 0x90, 0x10});
    EXPECT_EQ(p.checksum, static_cast<std::uint8_t>(0x80 + 0x90 + 0x10));
    p.data[0] = 0x55;  // beyond the length: not counted
    EXPECT_TRUE(ChecksumOk(p));
    p.length = 1;
    EXPECT_FALSE(ChecksumOk(p));
}

}  // namespace
}  // namespace korva
