#pragma once
// Unit-aware values: a dimension as a vector of exponents, a unit that converts raw numbers to
// shown numbers and back, unit schemes (one unit per dimension) and a range-checked value.
// The program defines no units of its own, so in practice every value shows its raw number.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace korva {

// Exponents of the base quantities: 0 length, 2 time, 3 temperature, 4 pressure, 5 angle
// (1, 6 and 7 are spare).
struct KDimensions {
    std::array<std::int8_t, 8> exponents{};

    // "Temperature", "Flow", "Pressure", "Angle" have their vectors; any other name is dimensionless.
    static KDimensions FromName(std::string_view name);

    bool operator==(const KDimensions&) const = default;
    // Lexicographic over the eight components: a strict weak order, so a dimension can key a map.
    // (Spelled out rather than a defaulted <=>: the meta-object compiler cannot read <compare>.)
    bool operator<(const KDimensions& other) const { return exponents < other.exponents; }
};

struct KUnit {
    std::string label;                        // written after a value, e.g. a unit symbol
    std::function<double(double)> toShown;    // raw -> shown; empty means identity
    std::function<double(double)> fromShown;  // shown -> raw; empty means identity
};

using KUnitScheme = std::map<KDimensions, KUnit>;

// Named unit schemes, names compared ignoring ASCII letter case like the program's other name lists.
// The caller owns the list; the program itself never fills one.
class KUnitSchemes {
  public:
    // A name already present has its scheme replaced.
    void Add(const std::string& name, KUnitScheme scheme);
    const KUnitScheme* Find(std::string_view name) const;
    std::size_t Count() const { return schemes_.size(); }

  private:
    struct NameLess {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    std::map<std::string, KUnitScheme, NameLess> schemes_;
};

class KValue {
  public:
    // The largest single-precision magnitude: the default range is plus or minus this.
    static constexpr double kLimit = 3.4028234663852886e38;

    double Shown(double raw) const;
    double Raw(double shown) const;

    double GetRaw() const { return raw_; }
    double GetMin() const { return min_; }
    double GetMax() const { return max_; }
    double GetShown() const { return Shown(raw_); }
    double GetShownMin() const { return Shown(min_); }
    double GetShownMax() const { return Shown(max_); }

    // The other bound follows when it would cross. A bound that converts to NaN is ignored:
    // it would silently switch the range check off.
    void SetMinShown(double shown);
    void SetMaxShown(double shown);

    // Refuses NaN and anything outside [min, max] (inclusive), leaving the value unchanged.
    bool SetRaw(double raw);
    bool SetShown(double shown) { return SetRaw(Raw(shown)); }

    void SetDimension(std::string_view name) { dimension_ = KDimensions::FromName(name); }
    void SetDimension(const KDimensions& dimension) { dimension_ = dimension; }
    const KDimensions& Dimension() const { return dimension_; }

    // Takes the scheme's unit for this value's dimension; a scheme without one leaves the unit as it is.
    void SetUnitScheme(const KUnitScheme& scheme);
    // schemes may be null (no list exists); an unknown name leaves the unit as it is.
    void SetUnitScheme(std::string_view name, const KUnitSchemes* schemes);

    // A unit made for this value alone; none again with nullopt.
    void SetUnit(std::optional<KUnit> unit) { unit_ = std::move(unit); }
    // Null when the value has no unit. The unit is held by copy, so a scheme may go away.
    const KUnit* Unit() const { return unit_ ? &*unit_ : nullptr; }

  private:
    double raw_ = 0;
    double min_ = -kLimit;
    double max_ = kLimit;
    KDimensions dimension_;
    std::optional<KUnit> unit_;
};

// Fixed-point with `decimals` decimals, rounded to at most 4 significant digits (half away from
// zero). A number whose integer part needs more than 4 digits is written as "d.dddE+XX".
std::string FormatFixed(double value, int decimals);

// A whole number: an optional sign and one or more decimal digits, nothing else (no blanks).
// Digit strings beyond the range of a double give nothing.
std::optional<double> ParseWholeNumber(std::string_view text);

// Commits typed text to a value: a whole number is stored as a shown number if it is in range.
// Returns whether the value took it; any other text changes nothing.
bool CommitText(KValue& value, std::string_view text);

// The shown value with 2 decimals, then a blank and the unit's label if there is a unit.
std::string ValueWithUnit(const KValue& value);

// The label text of an edit field: "[min ... max] " when the range is shown, then the unit's label.
// Empty optional without a unit, since the label is then left alone.
std::optional<std::string> RangeUnitText(const KValue& value, bool showRange);

}  // namespace korva
