#include "packet/Receiver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Packets.h"

namespace korva {
namespace {

using test::MakePacket;

class RecordingSink : public ReceiverSink {
  public:
    void OnPacket(const BusPacket& p) override { events.push_back("ok:" + TraceBytes(p)); }
    void OnChecksumError(const BusPacket& p, std::uint8_t computed) override {
        events.push_back("crc:" + TraceBytes(p) + "/" + HexByte(computed));
    }
    std::vector<std::string> events;
};

std::vector<std::string> Scan(const std::string& text) {
    RecordingSink sink;
    Receiver r(sink);
    for (char ch : text) r.Feed(ch);
    return sink.events;
}

std::string Decimal(const BusPacket& p) {
    std::string s = "(";
    for (std::size_t i = 0; i < p.WireSize(); ++i) {
        const std::string d = std::to_string(p.ByteAt(i));
        s += std::string(3 - d.size(), '0') + d;
    }
    return s + ")";
}

const BusPacket kReply = MakePacket({0x6C, 0x23, 0x8A}, {0x05, 0x9C, 0x40});
const BusPacket kShort = MakePacket({0x6C, 0x26, 0x7A});
const std::string kReplyOk = "ok:" + TraceBytes(kReply);
const std::string kShortOk = "ok:" + TraceBytes(kShort);

TEST(Receiver, GrammarTable) {
    const std::string wire = EncodeSerial(kReply);
    std::string badSum = wire;
    badSum.replace(14, 2, "00");  // the checksum token
    const std::string sum = HexByte(kReply.checksum), decimalSum = std::to_string(kReply.checksum);
    std::string longPacket = "(";
    for (int i = 0; i < 100; ++i) longPacket += "x00";
    struct Case {
        const char* what;
        std::string input;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"hex form", wire, {kReplyOk}},
        {"decimal form", Decimal(kReply), {kReplyOk}},
        {"decimal and hex mixed", "(108x23138x03x" + sum + "005x9C064)", {kReplyOk}},
        {"blank between tokens rejects", "(x6C x23x8Ax03x" + sum + "x05x9Cx40)", {}},
        {"blanks inside tokens skipped", "(x 6Cx2 3x8Ax03x" + sum + "x05x9Cx4 0)", {kReplyOk}},
        {"lowercase hex skipped", "(x6cCx23x8Ax03x" + sum + "x05x9Cx40)", {kReplyOk}},
        {"256 abandoned at the 6", "(256" + wire.substr(1), {kReplyOk}},
        {"26 abandoned at the 6", "(26" + wire.substr(1), {kReplyOk}},
        {"3 abandoned, next digits a new number", "(3108035138003" + decimalSum + "005156064)", {kReplyOk}},
        {"unfinished packet dropped by a new bracket", "(x01x02" + wire, {kReplyOk}},
        {"close bracket inside a token is skipped", "(x6)" + wire, {kReplyOk}},
        {"garbage around",
         "hello)x41 99" + wire + "zz)" + EncodeSerial(kShort) + "\r\n",
         {kReplyOk, kShortOk}},
        {"bad checksum traced with the computed sum", badSum, {"crc:6C 23 8A 03 00 05 9C 40 /" + sum}},
        {"length 5 never passes", "(x6Cx23x8Ax05x00x05x9Cx40x00x00)", {"crc:6C 23 8A 05 00 05 9C 40 00 /FF"}},
        {"100 byte tokens are taken", longPacket + ")", {"ok:00 00 00 00 00 "}},
        {"101 byte tokens drop the packet", longPacket + "x00)", {}},
        {"empty packet after a good one is not the good one again", wire + "()" + "(x6C)", {kReplyOk}},
        {"packet shorter than its length byte", "(x6Cx23x8Ax03x00x05)", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(Scan(c.input), c.expected) << c.what;
}

TEST(Receiver, ScannerKeepsStateBetweenClustersAndResets) {
    RecordingSink sink;
    Receiver r(sink);
    for (char c : std::string("(x6Cx2")) r.Feed(c);
    EXPECT_EQ(r.state(), Receiver::Hex);
    r.ResetScanner();
    EXPECT_EQ(r.state(), Receiver::Idle);
    for (char c : std::string("3x8A)")) r.Feed(c);  // nothing: the reset dropped the start
    EXPECT_TRUE(sink.events.empty());
}

}  // namespace
}  // namespace korva
