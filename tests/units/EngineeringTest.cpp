#include "units/Engineering.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace korva;

namespace {

// A temperature in tenths of a degree, a pressure in hundredths of a bar, and their US units.
UnitCatalog Catalog() {
    UnitCatalog c;
    const KDimensions temperature = KDimensions::FromName("Temperature");
    const KDimensions pressure = KDimensions::FromName("Pressure");
    c.AddUnit({"degC", "°C", temperature, 1, 0});
    c.AddUnit({"degF", "°F", temperature, 1.8, 32});
    c.AddUnit({"bar", "bar", pressure, 1, 0});
    c.AddUnit({"psi", "psi", pressure, 14.503773773, 0});
    c.AddScheme("SI", {"degC", "bar"});
    c.AddScheme("US", {"degF", "psi"});
    return c;
}

ValueFormat Format(std::string unit, double scale, double offset, bool isSigned,
                   std::optional<int> decimals = std::nullopt) {
    ValueFormat f;
    f.given = true;
    f.unit = std::move(unit);
    f.scale = scale;
    f.offset = offset;
    f.isSigned = isSigned;
    f.decimals = decimals;
    return f;
}

}  // namespace

// Register -> raw -> shown text, and the shown number typed back to the raw number.
TEST(EngineeringValue, ConvertsByTypeSignScaleOffsetAndDecimals) {
    const UnitCatalog units = Catalog();
    const struct Row {
        const char* name;
        int bits;
        ValueFormat format;
        const char* scheme;
        std::uint32_t registerValue;
        std::int32_t raw;
        std::string text;
        std::optional<std::int32_t> back = std::nullopt;  // what the text types back to, if not raw
    } rows[] = {
        {"unsigned word, tenths", 16, Format("degC", 0.1, 0, false), "", 650, 650, "65.0 °C"},
        {"unsigned word above 32767", 16, Format("", 1, 0, false), "", 0xFFE7, 65511, "65511"},
        {"signed word, negative", 16, Format("degC", 0.1, 0, true), "", 0xFFE7, -25, "-2.5 °C"},
        {"signed word at its lowest", 16, Format("", 1, 0, true), "", 0x8000, -32768, "-32768"},
        {"signed byte", 8, Format("K", 1, 0, true), "", 0xFB, -5, "-5 K"},
        {"unsigned byte", 8, Format("K", 1, 0, false), "", 0xFB, 251, "251 K"},
        {"offset and scale", 16, Format("degC", 0.5, -40, false), "", 100, 100, "10.0 °C"},
        {"decimals given", 16, Format("bar", 0.01, 0, false, 1), "", 155, 155, "1.6 bar", 160},
        {"hundreds", 16, Format("starts", 100, 0, false), "", 7, 7, "700 starts"},
        {"negative scale", 16, Format("", -0.1, 0, false), "", 25, 25, "-2.5"},
        {"US temperature", 16, Format("degC", 0.1, 0, false), "US", 650, 650, "149.0 °F"},
        {"US pressure", 16, Format("bar", 0.01, 0, false), "US", 150, 150, "21.76 psi"},
        {"SI keeps the own unit", 16, Format("degC", 0.1, 0, false), "SI", 650, 650, "65.0 °C"},
        {"a plain label takes no scheme", 16, Format("K", 1, 0, false), "US", 5, 5, "5 K"},
        {"whole degrees in US", 16, Format("degC", 1, 0, false), "US", 1, 1, "34 °F"},
    };
    for (const Row& r : rows) {
        EngineeringValue v(r.format, r.bits, &units);
        v.UseScheme(units.Schemes().Find(r.scheme));
        const std::int32_t raw = v.RawOf(r.registerValue);
        EXPECT_EQ(raw, r.raw) << r.name;
        EXPECT_EQ(v.Text(raw), r.text) << r.name;
        const auto back = v.Parse(v.Number(raw));
        EXPECT_EQ(back.raw, r.back.value_or(r.raw)) << r.name << ": " << back.error;
    }
}

TEST(EngineeringValue, TypedTextIsCheckedAgainstTheRangeAndNames) {
    const UnitCatalog units = Catalog();
    ValueFormat setpoint = Format("degC", 0.1, 0, false);
    setpoint.min = 20;
    setpoint.max = 85;
    ValueFormat flags = Format("", 1, 0, false);
    flags.values = {{0, "No alarm"}};
    flags.bits = {{0, "Dry run"}, {2, "Low water"}, {3, "Pump fault"}};
    const struct Row {
        const char* name;
        const ValueFormat& format;
        int bits;
        const char* scheme;
        const char* typed;
        std::optional<std::int32_t> raw;
        std::string error;
    } rows[] = {
        {"in range", setpoint, 16, "", "65.0", 650, ""},
        {"with its unit", setpoint, 16, "", " 65.0 °C ", 650, ""},
        {"a decimal comma", setpoint, 16, "", "65,5", 655, ""},
        {"nearest raw", setpoint, 16, "", "65.04", 650, ""},
        {"at Max", setpoint, 16, "", "85", 850, ""},
        {"above Max", setpoint, 16, "", "85.1", std::nullopt, "'85.1' is outside 20.0 to 85.0 °C"},
        {"below Min", setpoint, 16, "", "-3", std::nullopt, "'-3' is outside 20.0 to 85.0 °C"},
        {"US in range", setpoint, 16, "US", "149.0", 650, ""},
        {"US range", setpoint, 16, "US", "190", std::nullopt, "'190' is outside 68.0 to 185.0 °F"},
        {"not a number", setpoint, 16, "", "hot", std::nullopt, "'hot' is not a number in °C"},
        {"not finite", setpoint, 16, "", "inf", std::nullopt, "'inf' is not a number in °C"},
        {"empty", setpoint, 16, "", "  ", std::nullopt, "no value typed"},
        {"huge", setpoint, 16, "", "1e300", std::nullopt, "'1e300' is outside 20.0 to 85.0 °C"},
        {"a value's name", flags, 8, "", "no ALARM", 0, ""},
        {"bit names", flags, 8, "", "Low water | pump fault", 12, ""},
        {"an unnamed bit", flags, 8, "", "Dry run|bit 7", 129, ""},
        {"a bit past the register", flags, 8, "", "bit 8", std::nullopt,
         "'bit 8' is not a number nor one of: No alarm, Dry run, Low water, Pump fault"},
        {"a number for flags", flags, 8, "", "5", 5, ""},
        {"outside the unsigned byte", flags, 8, "", "256", std::nullopt, "'256' is outside 0 to 255"},
    };
    for (const Row& r : rows) {
        EngineeringValue v(r.format, r.bits, &units);
        v.UseScheme(units.Schemes().Find(r.scheme));
        const auto parsed = v.Parse(r.typed);
        EXPECT_EQ(parsed.raw, r.raw) << r.name;
        EXPECT_EQ(parsed.error, r.error) << r.name;
    }
    EngineeringValue v(flags, 8, &units);
    EXPECT_EQ(v.Text(0), "No alarm");
    EXPECT_EQ(v.Text(12), "Low water | Pump fault");
    EXPECT_EQ(v.Text(0x82), "bit 1 | bit 7");
}
