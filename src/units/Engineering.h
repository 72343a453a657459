#pragma once
// Engineering values: how a property's register becomes the number an engineer reads and types.
// A property names a unit and a scale (shown = raw x Scale + Offset in that unit); a units document
// gives each unit its dimension and its relation to the dimension's base unit, and unit schemes pick
// one unit per dimension. What a register holds is always the raw whole number: conversions only
// change what is shown.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "units/Ksmartunits.h"

namespace korva {

// A unit of the units document. A number in this unit is the dimension's base number x factor + offset.
struct UnitDef {
    std::string name;   // what a property's Unit attribute names
    std::string label;  // what is written after a value
    KDimensions dimension;
    double factor = 1;
    double offset = 0;
};

class UnitCatalog {
  public:
    // A name already present is replaced.
    void AddUnit(UnitDef unit);
    // Exact name; nullptr when the catalog has no such unit.
    const UnitDef* FindUnit(std::string_view name) const;
    // The units each named by the scheme; the caller has checked that they exist. A later unit of
    // the same dimension wins.
    void AddScheme(const std::string& name, const std::vector<std::string>& unitNames);
    const KUnitSchemes& Schemes() const { return schemes_; }
    // In the order they were added; the names as written.
    const std::vector<std::string>& SchemeNames() const { return schemeNames_; }

  private:
    std::vector<UnitDef> units_;
    KUnitSchemes schemes_;
    std::vector<std::string> schemeNames_;
};

struct NamedValue {
    std::int64_t raw;
    std::string name;
};
struct NamedBit {
    int bit;
    std::string name;
};

// What the configuration says about a property's value; all optional.
struct ValueFormat {
    bool given = false;  // any of the below was written: the property is an engineering value
    std::string unit;    // a unit of the catalog, or a plain label
    double scale = 1;
    double offset = 0;
    bool isSigned = false;  // the register read as two's complement
    std::optional<int> decimals;
    std::optional<double> min, max;  // in the property's own unit
    std::vector<NamedValue> values;  // enumerated values
    std::vector<NamedBit> bits;      // a flag word's bits
};

// The most decimals a shown number gets.
inline constexpr int kMaxDecimals = 6;

class EngineeringValue {
  public:
    // A plain value: raw numbers shown as they are.
    EngineeringValue() = default;
    // registerBits is 8 or 16. The catalog may be null (no units document); it is only read here.
    EngineeringValue(ValueFormat format, int registerBits, const UnitCatalog* catalog);

    bool Plain() const { return !format_.given; }
    const ValueFormat& Format() const { return format_; }

    // Shows in the scheme's unit for this value's dimension; null, or a scheme without one, shows
    // the property's own unit.
    void UseScheme(const KUnitScheme* scheme);

    // The register's low bits as the raw number: two's complement when signed.
    std::int32_t RawOf(std::uint32_t registerValue) const;
    std::int32_t RawMin() const { return rawMin_; }
    std::int32_t RawMax() const { return rawMax_; }

    double Shown(double raw) const { return value_.Shown(raw); }
    // The raw number, not rounded, that shows as `shown`.
    double RawOfShown(double shown) const { return value_.Raw(shown); }
    // The shown number alone, with the value's decimals: "65.0".
    std::string Number(double raw) const;
    // What the panel shows: a value's name, a flag word's bit names, or the number and the unit.
    std::string Text(double raw) const;
    const std::string& Unit() const { return label_; }
    int Decimals() const { return decimals_; }

    struct Parsed {
        std::optional<std::int32_t> raw;
        std::string error;  // why the text was refused, when raw is empty
    };
    // Typed text in shown units (a number, optionally followed by the unit; a value's name; bit names
    // joined by "|") to the raw number, nearest whole number, checked against the range.
    Parsed Parse(std::string_view text) const;
    // What may be typed, in shown units: "20.0 to 85.0 °C".
    std::string RangeText() const;

  private:
    std::optional<double> ParseNumber(std::string_view text) const;
    std::optional<std::int64_t> ParseFlags(std::string_view text) const;

    ValueFormat format_;
    int registerBits_ = 16;
    KValue value_;                  // carries the unit and the raw range
    const UnitDef* own_ = nullptr;  // the property's unit in the catalog, if it is one
    std::string label_;
    int ownDecimals_ = 0;
    int decimals_ = 0;
    std::int32_t rawMin_ = -32768;
    std::int32_t rawMax_ = 65535;
};

// Fixed-point in the C locale whatever the process's locale is; no "-0".
std::string FixedText(double value, int decimals);
// The decimals that show every step of `step` apart: the fewest d with 10^-d below the step.
int DecimalsFor(double step);

}  // namespace korva
