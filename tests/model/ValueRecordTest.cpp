#include "model/ValueRecord.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/Packets.h"

namespace korva {
namespace {

TEST(ValueRecord, StoreNumberAndReadBack) {
    struct Case {
        int kind;
        double stored;
        int number;
        int byte;
    };
    const Case cases[] = {
        {0, 40000, -25536, 0x40}, {2, 40000, -25536, 0x40}, {3, 40000, -25536, 0x40}, {1, 300, 44, 44},
        {1, -1, 255, 255},        {0, -5, -5, 0xFB},        {0, 12.9, 12, 12},        {0, -12.9, -12, 0xF4},
        {0, 65536 + 7, 7, 7},     {0, 1e300, 0, 0},         {0, NAN, 0, 0},           {0, -INFINITY, 0, 0},
        {3, 0x8000, -32768, 0},   {1, 255.99, 255, 255},
    };
    for (const Case& c : cases) {
        ValueRecord r;
        r.kind = static_cast<std::uint8_t>(c.kind);
        r.StoreNumber(c.stored);
        EXPECT_EQ(r.ReadAsNumber(), c.number) << c.kind << " " << c.stored;
        EXPECT_EQ(r.ReadAsByte(), c.byte) << c.kind << " " << c.stored;
    }
}

TEST(ValueRecord, OptionOnlyForKindThreeAndCopyOnlyBetweenEqualKinds) {
    ValueRecord three;
    three.kind = 3;
    three.StoreNumber(7);
    three.StoreNumberAndOption(-2, 9);
    EXPECT_EQ(three.ReadAsNumber(), -2);
    EXPECT_EQ(three.byte, 9);
    three.StoreNumber(5);  // storing a plain number clears the option
    EXPECT_EQ(three.byte, 0);

    for (int kind : {0, 1, 2}) {
        ValueRecord r;
        r.kind = static_cast<std::uint8_t>(kind);
        r.StoreNumber(17);
        r.StoreNumberAndOption(99, 3);  // refused, quietly
        EXPECT_EQ(r.ReadAsNumber(), 17) << kind;
        ValueRecord before = r;
        r.CopyFrom(three);  // another kind: refused, quietly
        EXPECT_EQ(r.word, before.word);
        EXPECT_EQ(r.byte, before.byte);
    }
    ValueRecord other;
    other.kind = 3;
    other.CopyFrom(three);
    EXPECT_EQ(other.ReadAsNumber(), 5);
}

TEST(ValueRecord, DecodeAndEncodeFollowTheKind) {
    struct Case {
        int kind;
        std::vector<int> data;  // after the code byte
        bool lengthOk;
        int number;
        std::vector<int> encoded;
    };
    const Case cases[] = {
        {0, {0x9C, 0x40}, true, -25536, {0x9C, 0x40}},
        {2, {0xFF, 0xFB}, true, -5, {0xFF, 0xFB}},
        {1, {0xC8}, true, 200, {0xC8}},
        {3, {0x12, 0x34, 0x56}, true, 0x1234, {0x12, 0x34, 0x56}},
        {0, {0x12}, false, 0, {0x00, 0x00}},
        {1, {0x12, 0x34}, false, 0, {0x00}},
        {3, {0x12, 0x34}, false, 0, {0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        ValueRecord r;
        r.kind = static_cast<std::uint8_t>(c.kind);
        std::vector<int> data{5};
        data.insert(data.end(), c.data.begin(), c.data.end());
        const BusPacket p = test::MakePacket({108, 0x23, 0x8A}, data);
        if (c.lengthOk) {
            r.DecodeReply(p);
        } else {
            EXPECT_THROW(r.DecodeReply(p), KvEx_WrongPacketLength) << c.kind;
        }
        EXPECT_EQ(r.ReadAsNumber(), c.number) << c.kind;
        std::uint8_t out[3] = {};
        const int n = r.Encode(out);
        ASSERT_EQ(n, static_cast<int>(c.encoded.size()));
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(out[i], c.encoded[static_cast<std::size_t>(i)]) << c.kind << " " << i;
    }
    ValueRecord bad;
    bad.kind = 4;
    std::uint8_t out[3];
    EXPECT_THROW(bad.Encode(out), KvEx_BadPropertyType);
    EXPECT_THROW(bad.DecodeReply(test::MakePacket({108, 0x23, 0x8A}, {5, 1, 2})), KvEx_BadPropertyType);
}

}  // namespace
}  // namespace korva
