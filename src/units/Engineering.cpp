#include "units/Engineering.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

namespace korva {

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view Trimmed(std::string_view t) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!t.empty() && blank(t.front())) t.remove_prefix(1);
    while (!t.empty() && blank(t.back())) t.remove_suffix(1);
    return t;
}

// The fewest decimals that write x exactly (0.1 needs 1, 0.25 needs 2), at most kMaxDecimals.
int ExactDecimals(double x) {
    for (int d = 0; d < kMaxDecimals; ++d) {
        const double scaled = std::fabs(x) * std::pow(10.0, d);
        if (std::fabs(scaled - std::round(scaled)) <= 1e-9 * std::max(1.0, scaled)) return d;
    }
    return kMaxDecimals;
}

KUnit SchemeUnit(const UnitDef& u) {
    const double f = u.factor, o = u.offset;
    return KUnit{u.label, [f, o](double base) { return base * f + o; },
                 [f, o](double shown) { return (shown - o) / f; }};
}

}  // namespace

void UnitCatalog::AddUnit(UnitDef unit) {
    const auto same = [&](const UnitDef& u) { return u.name == unit.name; };
    if (auto it = std::find_if(units_.begin(), units_.end(), same); it != units_.end())
        *it = std::move(unit);
    else
        units_.push_back(std::move(unit));
}

const UnitDef* UnitCatalog::FindUnit(std::string_view name) const {
    for (const UnitDef& u : units_)
        if (u.name == name) return &u;
    return nullptr;
}

void UnitCatalog::AddScheme(const std::string& name, const std::vector<std::string>& unitNames) {
    KUnitScheme scheme;
    for (const std::string& unitName : unitNames)
        if (const UnitDef* u = FindUnit(unitName)) scheme.insert_or_assign(u->dimension, SchemeUnit(*u));
    if (schemes_.Find(name) == nullptr) schemeNames_.push_back(name);
    schemes_.Add(name, std::move(scheme));
}

std::string FixedText(double value, int decimals) {
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    if (!std::isfinite(value)) return std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
    // What rounds to zero is written without a sign.
    if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0;
    char buf[400];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

int DecimalsFor(double step) {
    step = std::fabs(step);
    int d = 0;
    while (d < kMaxDecimals && !(std::pow(10.0, -d) < step)) ++d;
    return d;
}

EngineeringValue::EngineeringValue(ValueFormat format, int registerBits, const UnitCatalog* catalog)
    : format_(std::move(format)), registerBits_(registerBits) {
    if (!format_.given) return;
    const std::int64_t span = std::int64_t{1} << registerBits_;
    rawMin_ = static_cast<std::int32_t>(format_.isSigned ? -span / 2 : 0);
    rawMax_ = static_cast<std::int32_t>(format_.isSigned ? span / 2 - 1 : span - 1);
    // Min and Max are in the property's own unit; the raw bound is the nearest raw number inside.
    const auto rawOf = [this](double own) { return (own - format_.offset) / format_.scale; };
    std::optional<double> low, high;
    if (format_.min) (format_.scale > 0 ? low : high) = rawOf(*format_.min);
    if (format_.max) (format_.scale > 0 ? high : low) = rawOf(*format_.max);
    if (low)
        rawMin_ =
            static_cast<std::int32_t>(std::clamp(std::ceil(*low - 1e-6), double(rawMin_), double(rawMax_)));
    if (high)
        rawMax_ =
            static_cast<std::int32_t>(std::clamp(std::floor(*high + 1e-6), double(rawMin_), double(rawMax_)));
    value_.SetMinShown(rawMin_);
    value_.SetMaxShown(rawMax_);
    own_ = catalog != nullptr ? catalog->FindUnit(format_.unit) : nullptr;
    if (own_ != nullptr) value_.SetDimension(own_->dimension);
    ownDecimals_ = format_.decimals ? std::clamp(*format_.decimals, 0, kMaxDecimals)
                                    : std::max(ExactDecimals(format_.scale), ExactDecimals(format_.offset));
    UseScheme(nullptr);
}

void EngineeringValue::UseScheme(const KUnitScheme* scheme) {
    if (!format_.given) return;
    const double s = format_.scale, o = format_.offset;
    value_.SetUnit(
        KUnit{"", [s, o](double raw) { return raw * s + o; }, [s, o](double own) { return (own - o) / s; }});
    label_ = own_ != nullptr ? own_->label : format_.unit;
    decimals_ = ownDecimals_;
    // A scheme converts only a unit of the catalog that has a dimension; a unit the scheme already
    // uses stays exactly as it is.
    if (scheme == nullptr || own_ == nullptr || own_->dimension == KDimensions{}) return;
    const auto it = scheme->find(own_->dimension);
    if (it == scheme->end() || it->second.label == own_->label || !it->second.toShown) return;
    const KUnit outer = it->second;
    const double nf = own_->factor, no = own_->offset;
    value_.SetUnit(KUnit{
        outer.label, [s, o, nf, no, outer](double raw) { return outer.toShown((raw * s + o - no) / nf); },
        [s, o, nf, no, outer](double shown) { return ((outer.fromShown(shown) * nf + no) - o) / s; }});
    label_ = outer.label;
    // One raw step is this far apart in the scheme's unit; the decimals must keep every step apart.
    const double step = value_.Shown(1) - value_.Shown(0);
    decimals_ = std::max(ownDecimals_, DecimalsFor(step));
}

std::int32_t EngineeringValue::RawOf(std::uint32_t registerValue) const {
    const std::uint32_t mask = registerBits_ >= 32 ? ~0u : (1u << registerBits_) - 1;
    const std::uint32_t bits = registerValue & mask;
    const bool negative = format_.isSigned && (bits >> (registerBits_ - 1)) != 0;
    return negative ? static_cast<std::int32_t>(static_cast<std::int64_t>(bits) -
                                                (std::int64_t{1} << registerBits_))
                    : static_cast<std::int32_t>(bits);
}

std::string EngineeringValue::Number(double raw) const {
    if (!format_.given) return FixedText(raw, 0);
    return FixedText(Shown(raw), decimals_);
}

std::string EngineeringValue::Text(double raw) const {
    if (!format_.given) return FixedText(raw, 0);
    for (const NamedValue& v : format_.values)
        if (static_cast<double>(v.raw) == raw) return v.name;
    if (!format_.bits.empty() && raw != 0) {
        const auto word =
            static_cast<std::uint32_t>(static_cast<std::int64_t>(raw)) & ((1u << registerBits_) - 1);
        std::string text;
        for (int b = 0; b < registerBits_; ++b) {
            if ((word >> b & 1u) == 0) continue;
            const auto named = std::find_if(format_.bits.begin(), format_.bits.end(),
                                            [b](const NamedBit& nb) { return nb.bit == b; });
            text += (text.empty() ? "" : " | ") +
                    (named != format_.bits.end() ? named->name : "bit " + std::to_string(b));
        }
        return text;
    }
    return Number(raw) + (label_.empty() ? "" : " " + label_);
}

std::optional<double> EngineeringValue::ParseNumber(std::string_view t) const {
    if (!label_.empty() && t.size() > label_.size() && t.substr(t.size() - label_.size()) == label_)
        t = Trimmed(t.substr(0, t.size() - label_.size()));
    std::string number(t);
    if (!number.empty() && number.front() == '+') number.erase(0, 1);
    // A decimal comma is what half the world types.
    if (number.find('.') == std::string::npos) std::replace(number.begin(), number.end(), ',', '.');
    if (number.empty()) return std::nullopt;
    double y = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), y);
    if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(y)) return std::nullopt;
    return y;
}

std::optional<std::int64_t> EngineeringValue::ParseFlags(std::string_view t) const {
    std::int64_t word = 0;
    while (true) {
        const std::size_t bar = t.find('|');
        const std::string_view part = Trimmed(t.substr(0, bar));
        const auto named = std::find_if(format_.bits.begin(), format_.bits.end(),
                                        [part](const NamedBit& nb) { return SameText(nb.name, part); });
        int bit = -1;
        if (named != format_.bits.end()) {
            bit = named->bit;
        } else if (part.size() > 4 && SameText(part.substr(0, 4), "bit ")) {
            const std::string_view digits = Trimmed(part.substr(4));
            const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), bit);
            if (ec != std::errc() || end != digits.data() + digits.size()) bit = -1;
        }
        if (bit < 0 || bit >= registerBits_) return std::nullopt;
        word |= std::int64_t{1} << bit;
        if (bar == std::string_view::npos) return word;
        t.remove_prefix(bar + 1);
    }
}

std::string EngineeringValue::RangeText() const {
    const double a = Shown(rawMin_), b = Shown(rawMax_);
    return FixedText(std::min(a, b), decimals_) + " to " + FixedText(std::max(a, b), decimals_) +
           (label_.empty() ? "" : " " + label_);
}

EngineeringValue::Parsed EngineeringValue::Parse(std::string_view text) const {
    const std::string_view t = Trimmed(text);
    const auto quoted = [t] { return "'" + std::string(t) + "'"; };
    if (t.empty()) return {std::nullopt, "no value typed"};
    std::optional<std::int64_t> raw;
    for (const NamedValue& v : format_.values)
        if (SameText(v.name, t)) raw = v.raw;
    if (!raw && !format_.bits.empty()) raw = ParseFlags(t);
    if (!raw) {
        const std::optional<double> shown = ParseNumber(t);
        if (!shown) {
            std::string names;
            for (const NamedValue& v : format_.values) names += (names.empty() ? "" : ", ") + v.name;
            for (const NamedBit& b : format_.bits) names += (names.empty() ? "" : ", ") + b.name;
            return {std::nullopt, quoted() + " is not a number" + (label_.empty() ? "" : " in " + label_) +
                                      (names.empty() ? "" : " nor one of: " + names)};
        }
        const double r = std::round(value_.Raw(*shown));
        if (!(std::fabs(r) < 4e9)) return {std::nullopt, quoted() + " is outside " + RangeText()};
        raw = static_cast<std::int64_t>(r);
    }
    // The value's range is the raw range, inclusive at both ends.
    if (static_cast<double>(*raw) < value_.GetMin() || static_cast<double>(*raw) > value_.GetMax())
        return {std::nullopt, quoted() + " is outside " + RangeText()};
    return {static_cast<std::int32_t>(*raw), ""};
}

}  // namespace korva
