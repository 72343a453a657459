#include "model/UnitsConfig.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "model/ConfigLoader.h"
#include "model/TextConvert.h"
#include "xml/XmlDocument.h"

namespace korva {

namespace {

std::string Quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

std::optional<double> Real(const XmlNode& e, const char* attribute, const std::string& owner) {
    const std::string_view written = e.getAttribute(attribute);
    if (written.empty()) return std::nullopt;
    const auto v = ParseReal(written);
    if (!v)
        throw ConfigError(std::string(attribute) + " of " + owner + " is not a number: " + Quoted(written));
    return v;
}

std::int32_t Whole(const XmlNode& e, const char* attribute, const std::string& owner) {
    const std::string_view written = e.getAttribute(attribute);
    const auto v = ParseInt(written);
    if (!v)
        throw ConfigError(std::string(attribute) + " of " + owner +
                          " is not a whole number: " + Quoted(written));
    return *v;
}

KDimensions Exponents(const XmlNode& e, const std::string& owner) {
    std::istringstream in{std::string(e.getAttribute("Exponents"))};
    KDimensions d;
    std::string word;
    std::size_t i = 0;
    while (in >> word) {
        const auto v = ParseDecimal(word);
        if (i >= d.exponents.size() || !v || *v < -128 || *v > 127)
            throw ConfigError("Exponents of " + owner + " are not eight whole numbers from -128 to 127");
        d.exponents[i++] = static_cast<std::int8_t>(*v);
    }
    if (i != d.exponents.size()) throw ConfigError("Exponents of " + owner + " are not eight whole numbers");
    return d;
}

}  // namespace

std::shared_ptr<UnitCatalog> ReadUnits(const XmlNode& root) {
    auto catalog = std::make_shared<UnitCatalog>();
    // The dimensions every units document knows; a document may add its own.
    std::map<std::string, KDimensions, std::less<>> dimensions;
    for (const char* name : {"Temperature", "Flow", "Pressure", "Angle", "Percent"})
        dimensions[name] = KDimensions::FromName(name);
    for (const XmlNode* e : root.children) {
        const std::string name(e->getAttribute("Name"));
        const std::string owner = std::string(e->name) + " " + Quoted(name);
        if (e->name == "Dimension") {
            if (name.empty()) throw ConfigError("a Dimension has no Name");
            dimensions[name] = Exponents(*e, owner);
        } else if (e->name == "Unit") {
            if (name.empty()) throw ConfigError("a Unit has no Name");
            if (catalog->FindUnit(name) != nullptr) throw ConfigError(owner + " is defined twice");
            const auto dim = dimensions.find(e->getAttribute("Dimension"));
            if (dim == dimensions.end())
                throw ConfigError("Dimension of " + owner +
                                  " is not known: " + Quoted(e->getAttribute("Dimension")));
            UnitDef u{name, std::string(e->getAttribute("Label")), dim->second, 1, 0};
            if (u.label.empty()) u.label = name;
            u.factor = Real(*e, "Factor", owner).value_or(1);
            u.offset = Real(*e, "Offset", owner).value_or(0);
            if (u.factor == 0) throw ConfigError("Factor of " + owner + " is 0");
            catalog->AddUnit(std::move(u));
        } else if (e->name == "Scheme") {
            if (name.empty()) throw ConfigError("a Scheme has no Name");
            std::vector<std::string> units;
            for (const XmlNode* use : e->children) {
                if (use->name != "Use") continue;
                const std::string unit(use->getAttribute("Unit"));
                if (catalog->FindUnit(unit) == nullptr)
                    throw ConfigError(owner + " uses " + Quoted(unit) + ", which is no Unit above it");
                units.push_back(unit);
            }
            catalog->AddScheme(name, units);
        }
    }
    return catalog;
}

ValueFormat ReadValueFormat(const XmlNode& e, int registerBits) {
    ValueFormat f;
    // Most properties of a large plant say nothing of their value: they cost one look at each
    // attribute and child.
    constexpr std::string_view kAttributes[] = {"Unit",     "Scale", "Offset", "Signed",
                                                "Decimals", "Min",   "Max"};
    for (const XmlAttribute& a : e.attributes)
        if (!a.value.empty() &&
            std::find(std::begin(kAttributes), std::end(kAttributes), a.name) != std::end(kAttributes))
            f.given = true;
    for (const XmlNode* child : e.children)
        if (child->name == "Value" || child->name == "Bit") f.given = true;
    if (!f.given) return f;
    const std::string owner = Quoted(e.getAttribute("Name"));
    f.unit = e.getAttribute("Unit");
    f.scale = Real(e, "Scale", owner).value_or(1);
    f.offset = Real(e, "Offset", owner).value_or(0);
    if (f.scale == 0) throw ConfigError("Scale of " + owner + " is 0");
    f.isSigned = e.getAttribute("Signed") == "True";
    if (!e.getAttribute("Decimals").empty()) {
        f.decimals = Whole(e, "Decimals", owner);
        if (*f.decimals < 0 || *f.decimals > kMaxDecimals)
            throw ConfigError("Decimals of " + owner + " are outside 0 to " + std::to_string(kMaxDecimals));
    }
    f.min = Real(e, "Min", owner);
    f.max = Real(e, "Max", owner);
    if (f.min && f.max && *f.min > *f.max) throw ConfigError("Min of " + owner + " is above its Max");
    for (const XmlNode* child : e.children) {
        const std::string name(child->getAttribute("Name"));
        if (child->name == "Value") {
            if (name.empty()) throw ConfigError("a Value of " + owner + " has no Name");
            f.values.push_back({Whole(*child, "Raw", "a Value of " + owner), name});
        } else if (child->name == "Bit") {
            const std::int32_t n = Whole(*child, "N", "a Bit of " + owner);
            if (n < 0 || n >= registerBits)
                throw ConfigError("Bit " + std::to_string(n) + " of " + owner + " is outside 0 to " +
                                  std::to_string(registerBits - 1));
            if (name.empty()) throw ConfigError("Bit " + std::to_string(n) + " of " + owner + " has no Name");
            f.bits.push_back({n, name});
        }
    }
    return f;
}

}  // namespace korva
