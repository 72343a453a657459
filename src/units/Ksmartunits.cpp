#include "units/Ksmartunits.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

namespace korva {

KDimensions KDimensions::FromName(std::string_view name) {
    KDimensions d;
    if (name == "Temperature")
        d.exponents[3] = 1;
    else if (name == "Flow") {
        d.exponents[0] = 3;   // volume
        d.exponents[2] = -1;  // per time
    } else if (name == "Pressure")
        d.exponents[4] = 1;
    else if (name == "Angle")
        d.exponents[5] = 1;
    return d;
}

bool KUnitSchemes::NameLess::operator()(std::string_view a, std::string_view b) const {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
        return lower(static_cast<unsigned char>(x)) < lower(static_cast<unsigned char>(y));
    });
}

void KUnitSchemes::Add(const std::string& name, KUnitScheme scheme) {
    schemes_.insert_or_assign(name, std::move(scheme));
}

const KUnitScheme* KUnitSchemes::Find(std::string_view name) const {
    auto it = schemes_.find(name);
    return it == schemes_.end() ? nullptr : &it->second;
}

double KValue::Shown(double raw) const {
    return unit_ && unit_->toShown ? unit_->toShown(raw) : raw;
}

double KValue::Raw(double shown) const {
    return unit_ && unit_->fromShown ? unit_->fromShown(shown) : shown;
}

void KValue::SetMinShown(double shown) {
    const double r = Raw(shown);
    if (std::isnan(r)) return;
    min_ = r;
    if (max_ < min_) max_ = min_;
}

void KValue::SetMaxShown(double shown) {
    const double r = Raw(shown);
    if (std::isnan(r)) return;
    max_ = r;
    if (max_ < min_) min_ = max_;
}

bool KValue::SetRaw(double raw) {
    if (std::isnan(raw) || raw > max_ || raw < min_) return false;
    raw_ = raw;
    return true;
}

void KValue::SetUnitScheme(const KUnitScheme& scheme) {
    auto it = scheme.find(dimension_);
    if (it != scheme.end()) unit_ = it->second;
}

void KValue::SetUnitScheme(std::string_view name, const KUnitSchemes* schemes) {
    if (!schemes) return;
    if (const KUnitScheme* s = schemes->Find(name)) SetUnitScheme(*s);
}

namespace {

// Adds one unit to the last digit of a decimal digit string; may lengthen it ("999" -> "1000").
void IncrementDigits(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

}  // namespace

std::string FormatFixed(double value, int decimals) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    decimals = std::clamp(decimals, 0, 18);
    constexpr int kSignificant = 4;

    // Enough digits of the binary value that the rounding digit below is exact.
    constexpr int kDigits = 40;
    char buf[kDigits + 16];
    std::snprintf(buf, sizeof buf, "%.*e", kDigits - 1, std::fabs(value));
    std::string all(1, buf[0]);
    all.append(buf + 2, kDigits - 1);
    const int exp10 = std::atoi(std::strchr(buf, 'e') + 1);  // weight of all[0] is 10^exp10

    // Keep the digits down to weight 10^q: 4 significant digits, but never more than the decimals.
    const int q = std::max(exp10 - (kSignificant - 1), -decimals);
    const int keep = exp10 - q + 1;
    std::string digits;  // the rounded magnitude is digits * 10^q
    if (keep > 0) {
        digits = all.substr(0, static_cast<std::size_t>(keep));
        if (all[static_cast<std::size_t>(keep)] >= '5') IncrementDigits(digits);
    } else {
        digits = (keep == 0 && all[0] >= '5') ? "1" : "0";
    }
    if (digits.find_first_not_of('0') == std::string::npos)
        return decimals > 0 ? "0." + std::string(static_cast<std::size_t>(decimals), '0') : "0";
    const std::string sign = value < 0 ? "-" : "";

    const int lead = q + static_cast<int>(digits.size()) - 1;  // weight of digits[0]
    if (lead >= kSignificant) {
        char exp[16];
        std::snprintf(exp, sizeof exp, "E%+03d", lead);
        return sign + digits[0] + "." + digits.substr(1, kSignificant - 1) + exp;
    }
    // Here q <= 0: pad to the decimals, and give the integer part at least one digit.
    const auto dec = static_cast<std::size_t>(decimals);
    digits.append(static_cast<std::size_t>(decimals + q), '0');
    if (digits.size() <= dec) digits.insert(0, dec + 1 - digits.size(), '0');
    if (dec > 0) digits.insert(digits.size() - dec, ".");
    return sign + digits;
}

std::optional<double> ParseWholeNumber(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    double y = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), y);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    // "-0" is plain zero.
    return negative && y != 0 ? -y : y;
}

bool CommitText(KValue& value, std::string_view text) {
    const auto y = ParseWholeNumber(text);
    return y && value.SetShown(*y);
}

std::string ValueWithUnit(const KValue& value) {
    std::string s = FormatFixed(value.GetShown(), 2);
    if (const KUnit* u = value.Unit()) s += " " + u->label;
    return s;
}

std::optional<std::string> RangeUnitText(const KValue& value, bool showRange) {
    const KUnit* u = value.Unit();
    if (!u) return std::nullopt;
    std::string s;
    if (showRange)
        s = "[" + FormatFixed(value.GetShownMin(), 0) + " ... " + FormatFixed(value.GetShownMax(), 0) + "] ";
    return s + u->label;
}

}  // namespace korva
