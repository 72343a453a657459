#include "units/Ksmartunits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using korva::KDimensions;
using korva::KUnit;
using korva::KUnitScheme;
using korva::KValue;

namespace {

constexpr double kLimit = 3.4028234663852886e38;
constexpr double kInf = std::numeric_limits<double>::infinity();

// Shown = raw * 2 + 1, an affine unit like a temperature offset.
KUnit DoublePlusOne() {
    return KUnit{"dpo", [](double r) { return r * 2 + 1; }, [](double s) { return (s - 1) / 2; }};
}

KUnitScheme SchemeFor(const char* dimension, KUnit unit) {
    return {{KDimensions::FromName(dimension), unit}};
}

}  // namespace

TEST(KValue, FreshValueAcceptsExactlyTheSinglePrecisionRange) {
    EXPECT_EQ(KValue().GetShown(), 0);
    const std::vector<std::pair<double, bool>> cases = {
        {kLimit, true}, {-kLimit, true}, {12.5, true},   {std::nextafter(kLimit, kInf), false},
        {-1e39, false}, {kInf, false},   {-kInf, false}, {std::nan(""), false},
    };
    for (const auto& [raw, accepted] : cases) {
        KValue v;
        v.SetRaw(7);
        EXPECT_EQ(v.SetRaw(raw), accepted) << raw;
        EXPECT_EQ(v.GetRaw(), accepted ? raw : 7) << raw;
    }
}

TEST(KValue, BoundsMoveEachOtherAndAreInclusive) {
    struct Case {
        bool minFirst;
        double first, second, expMin, expMax;
    };
    const std::vector<Case> cases = {
        {true, 0, 100, 0, 100},
        {true, 50, 10, 10, 10},   // max below min drags min down
        {false, 10, 20, 20, 20},  // min above max drags max up
        {true, -5, -5, -5, -5},
        {true, std::nan(""), std::nan(""), -kLimit, kLimit},  // a NaN bound is ignored
    };
    for (const auto& c : cases) {
        KValue v;
        if (c.minFirst) {
            v.SetMinShown(c.first);
            v.SetMaxShown(c.second);
        } else {
            v.SetMaxShown(c.first);
            v.SetMinShown(c.second);
        }
        EXPECT_EQ(v.GetMin(), c.expMin);
        EXPECT_EQ(v.GetMax(), c.expMax);
        EXPECT_TRUE(v.SetRaw(c.expMin) && v.SetRaw(c.expMax));
        EXPECT_FALSE(v.SetRaw(std::nextafter(c.expMax, kInf)) || v.SetRaw(std::nextafter(c.expMin, -kInf)));
    }
}

TEST(KValue, UnitChangesWhatIsShownNeverWhatIsStored) {
    KValue v;
    for (double x : {-3.0, 0.0, 12.25}) EXPECT_TRUE(v.Shown(x) == x && v.Raw(x) == x);

    v.SetDimension("Temperature");
    v.SetRaw(10);
    v.SetUnitScheme(SchemeFor("Flow", DoublePlusOne()));  // nothing for this dimension
    EXPECT_EQ(v.Unit(), nullptr);
    v.SetUnitScheme(SchemeFor("Temperature", DoublePlusOne()));
    ASSERT_NE(v.Unit(), nullptr);
    EXPECT_EQ(v.GetRaw(), 10);
    EXPECT_EQ(v.GetShown(), 21);
    for (double x : {-4.0, 0.0, 3.5}) EXPECT_EQ(v.Raw(v.Shown(x)), x);

    // Bounds and entries are given in shown terms and stored raw.
    v.SetMinShown(1);
    v.SetMaxShown(41);
    EXPECT_TRUE(v.GetMin() == 0 && v.GetMax() == 20 && v.GetShownMin() == 1 && v.GetShownMax() == 41);
    EXPECT_TRUE(v.SetShown(31));
    EXPECT_FALSE(v.SetShown(43));
    EXPECT_EQ(v.GetRaw(), 15);
}

TEST(KValue, SchemeByName) {
    KValue v;
    v.SetDimension("Pressure");
    v.SetUnitScheme("Metric", nullptr);  // no list exists
    EXPECT_EQ(v.Unit(), nullptr);

    korva::KUnitSchemes list;
    list.Add("Metric", SchemeFor("Pressure", KUnit{"bar", nullptr, nullptr}));
    list.Add("Doubled", SchemeFor("Pressure", DoublePlusOne()));
    for (const auto& [name, label] : std::vector<std::pair<const char*, const char*>>{
             {"metric", "bar"}, {"Imperial", "bar"}, {"DOUBLED", "dpo"}}) {
        v.SetUnitScheme(name, &list);
        ASSERT_NE(v.Unit(), nullptr);
        EXPECT_EQ(v.Unit()->label, label) << name;
    }
}

TEST(Formatting, FixedWithFourSignificantDigits) {
    const std::vector<std::tuple<double, int, const char*>> cases = {
        {12, 2, "12.00"},          {0, 2, "0.00"},           {-0.0, 2, "0.00"},
        {-3.5, 2, "-3.50"},        {100, 0, "100"},          {7, 3, "7.000"},
        {1.005, 2, "1.00"},        {0.125, 2, "0.13"},       {2.5, 0, "3"},
        {-2.5, 0, "-3"},           {-0.004, 2, "0.00"},      {0.005, 2, "0.01"},
        {0.000123, 4, "0.0001"},   {123.456, 2, "123.50"},   {1234.5, 2, "1235.00"},
        {9999, 2, "9999.00"},      {9999.5, 2, "1.000E+04"}, {12345, 2, "1.235E+04"},
        {-12345, 0, "-1.235E+04"}, {kLimit, 0, "3.403E+38"}, {1e300, 2, "1.000E+300"},
        {std::nan(""), 2, "NAN"},  {-kInf, 2, "-INF"},
    };
    for (const auto& [value, decimals, expected] : cases)
        EXPECT_EQ(korva::FormatFixed(value, decimals), expected);
}

TEST(CommitText, OnlyWholeNumbersInRangeAreStored) {
    const std::string nines(400, '9'), zeros17 = std::string(400, '0') + "17", nul = std::string("1\0", 2);
    // The value starts at 5 in the range -10 to 100; a refused text leaves 5.
    const std::vector<std::pair<std::string, double>> cases = {
        {"12", 12},    {"+7", 7},   {"-0", 0},  {"0042", 42}, {"100", 100},     {"-10", -10},  {"101", 5},
        {"-11", 5},    {"12.5", 5}, {"", 5},    {"+", 5},     {"1e3", 5},       {" 12", 5},    {"12 ", 5},
        {"12 bar", 5}, {"0x1F", 5}, {"--1", 5}, {nines, 5},   {"-" + nines, 5}, {zeros17, 17}, {nul, 5},
    };
    for (const auto& [text, raw] : cases) {
        KValue v;
        v.SetMinShown(-10);
        v.SetMaxShown(100);
        v.SetRaw(5);
        EXPECT_EQ(korva::CommitText(v, text), raw != 5) << text.substr(0, 20);
        EXPECT_EQ(v.GetRaw(), raw) << text.substr(0, 20);
        EXPECT_FALSE(raw == 0 && std::signbit(v.GetRaw()));  // "-0" is stored as plain 0
    }
    EXPECT_EQ(korva::ParseWholeNumber("1" + std::string(300, '0')), 1e300);
}

TEST(LabelTexts, ValueAndRangeWithUnit) {
    KValue v;
    v.SetMinShown(0);
    v.SetMaxShown(100);
    v.SetRaw(12);
    EXPECT_EQ(korva::ValueWithUnit(v), "12.00");
    EXPECT_EQ(korva::RangeUnitText(v, true), std::nullopt);

    v.SetUnitScheme(SchemeFor("Percent", KUnit{"%", nullptr, nullptr}));
    EXPECT_EQ(korva::ValueWithUnit(v), "12.00 %");
    EXPECT_EQ(korva::RangeUnitText(v, false), "%");
    EXPECT_EQ(korva::RangeUnitText(v, true), "[0 ... 100] %");
    v.SetMinShown(-kLimit);
    EXPECT_EQ(korva::RangeUnitText(v, true), "[-3.403E+38 ... 100] %");
}
