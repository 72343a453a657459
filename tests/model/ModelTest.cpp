#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <utility>

#include "model/Kobjects.h"
#include "model/TextConvert.h"
#include "support/FakeBus.h"

namespace korva {
namespace {

using test::FakeBus;

TEST(StringMap, CaseInsensitiveOrderedReplaceInPlace) {
    TStringMap<int> m;
    int a = 1, b = 2, c = 3;
    m.Add("Pump", &a);
    m.Add("Valve", &b);
    m.Add("PUMP", &c);
    ASSERT_EQ(m.Count(), 2u);
    EXPECT_EQ(m.Name(0), "Pump");
    EXPECT_EQ(m.Object(0), &c);
    EXPECT_EQ(m.Find("pUmP"), &c);
    EXPECT_EQ(m.IndexOf("valve"), 1);
    EXPECT_EQ(m.Find("Fan"), nullptr);
    // Names added out of order, letters at both ends of the alphabet and signs between the cases:
    // each is found under its letters swapped, and the list keeps the order of adding.
    const std::vector<std::string> names{"Zone", "alpha", "Beta_2", "zeta", "A", "_x", "Mid", "ZZ", "a_"};
    TStringMap<int> many;
    std::vector<int> ids(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) many.Add(names[i], &ids[i]);
    ASSERT_EQ(many.Count(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string swapped = names[i];
        for (char& ch : swapped)
            ch = static_cast<char>(std::isupper(ch) ? std::tolower(ch) : std::toupper(ch));
        EXPECT_EQ(many.Find(swapped), &ids[i]) << swapped;
        EXPECT_EQ(many.Name(i), names[i]);
    }
}

TEST(TextConvert, WholeNumbersAsTypedAndConfigured) {
    const std::pair<const char*, std::optional<std::int32_t>> cases[] = {
        {" 42 ", 42},
        {"+3", 3},
        {"-7", -7},
        {"$1F", 31},
        {"0x1f", 31},
        {"0X100", 256},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt},
        {"0x", std::nullopt},
        {"$", std::nullopt},
        {"12a", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseInt(text), value) << '"' << text << '"';
}

TEST(Model, NewLinksStartQuiet) {
    FakeBus bus;
    KModel model(bus);
    KDevice& d = model.MakeDevice("Boiler", 0x2A);
    KRemoteLink& p = model.MakeProperty(d, {"Setpoint", 3, 12});
    KRemoteLink& f = model.MakeFileHandle(d, {"Log", 5, 13}, 8);
    for (KRemoteLink* l : {&p, &f}) {
        EXPECT_EQ(l->state, LinkState::UNKNOWN);
        EXPECT_EQ(l->updateMode, 21);
        EXPECT_FALSE(l->poll);
        EXPECT_FALSE(l->log);
        EXPECT_EQ(l->pending, nullptr);
        EXPECT_EQ(l->device, &d);
    }
    EXPECT_EQ(p.current.kind, 3);
    EXPECT_EQ(f.current.kind, 0);
    ASSERT_NE(p.logChannel, nullptr);
    EXPECT_EQ(p.logChannel->name, "Setpoint");
    EXPECT_EQ(p.logChannel->link, &p);
    EXPECT_FALSE(p.logChannel->enabled);
    EXPECT_EQ(f.logChannel, nullptr);
}

TEST(Model, NameTablesCoverEveryByte) {
    EXPECT_EQ(LinkStateName(10), "UNKNOWN");
    EXPECT_EQ(LinkStateName(12), "STALE");
    EXPECT_EQ(LinkStateName(15), "ERROR");
    EXPECT_EQ(TestStateName(0), "UNTESTED");
    EXPECT_EQ(TestStateName(3), "PASSED");
    EXPECT_EQ(UpdateModeName(20), "Dont Care");
    EXPECT_EQ(UpdateModeName(21), "Sync on Change");
    for (int v = 0; v < 256; ++v) {
        const auto b = static_cast<std::uint8_t>(v);
        if (v < 10 || v > 15) EXPECT_EQ(LinkStateName(b), std::to_string(v));
        if (v > 3) EXPECT_EQ(TestStateName(b), std::to_string(v));
        if (v != 20 && v != 21) EXPECT_EQ(UpdateModeName(b), "Poll");
    }
}

// One rule for element indices: reads reach the status, size and checksum elements too, writes and
// stored values only the elements; a 16-bit-index file carries one byte per write.
TEST(FileLink, ElementCommandsStayInsideTheFile) {
    FakeBus bus;
    KModel model(bus);
    KDevice& d = model.MakeDevice("Mixer", 0x32);
    KFileLink& narrow = model.MakeFileHandle(d, {"Recipe", 4, 20}, 16);
    KFileLink& wide = model.MakeFileHandle(d, {"Curve", 5, 21}, 16);
    struct Case {
        KFileLink* file;
        int index;
        std::int32_t value;
        bool read;
        ElementFault write;
        std::int32_t stored;  // the element's value after the write
    };
    constexpr auto ok = ElementFault::None, outside = ElementFault::OutsideFile,
                   wideValue = ElementFault::ValueTooWide;
    const Case cases[] = {
        {&narrow, 15, 1234, true, ok, 1234},  {&narrow, 0, 70000, true, wideValue, 0},
        {&narrow, 0, 65535, true, ok, -1},    {&narrow, 0, -32769, true, wideValue, 0},
        {&narrow, 16, 1, false, outside, 0},  {&narrow, 127, 1, false, outside, 0},
        {&narrow, 256, 1, false, outside, 0}, {&narrow, -1, 1, true, outside, 0},
        {&narrow, -3, 1, true, outside, 0},   {&narrow, -4, 1, false, outside, 0},
        {&narrow, -10, 1, false, outside, 0}, {&wide, 3, 255, true, ok, 255},
        {&wide, 3, -128, true, ok, -128},     {&wide, 3, 256, true, wideValue, 0},
        {&wide, 3, -129, true, wideValue, 0}, {&wide, 16, 5, false, outside, 0},
    };
    for (const Case& c : cases) {
        KFileLink& f = *c.file;
        f.SetElement(c.index, 0, LinkState::UNKNOWN);
        f.position = 7;
        f.state = LinkState::KNOWN;
        EXPECT_EQ(f.ReadElement(c.index), c.read) << c.index;
        EXPECT_EQ(f.position, c.read ? c.index : 7) << c.index;
        EXPECT_EQ(f.state, c.read ? LinkState::GET : LinkState::KNOWN) << c.index;
        f.position = 7;
        f.state = LinkState::KNOWN;
        EXPECT_EQ(f.WriteElement(c.index, c.value), c.write) << c.index << " " << c.value;
        EXPECT_EQ(f.state, c.write == ok ? LinkState::SET : LinkState::KNOWN) << c.index;
        EXPECT_EQ(f.position, c.write == ok ? c.index : 7) << c.index;
        EXPECT_EQ(f.ElementValue(c.index), c.stored) << c.index;
        f.state = LinkState::KNOWN;
        EXPECT_EQ(f.StoreElement(c.index, 9), c.write != outside) << c.index;
        EXPECT_EQ(f.state, c.write != outside ? LinkState::UNKNOWN : LinkState::KNOWN) << c.index;
    }
    EXPECT_EQ(narrow.ElementValue(-11), 0);
    EXPECT_EQ(narrow.ElementValue(16), 0);
}

}  // namespace
}  // namespace korva
