#pragma once
// Reads the engineering side of the configuration: the units document, and what a KProperty element
// says about its value (unit, scale, sign, decimals, range, value and bit names).

#include <memory>

#include "units/Engineering.h"

namespace korva {

class XmlNode;

// Units, their dimensions and conversions, and the unit schemes; throws ConfigError.
std::shared_ptr<UnitCatalog> ReadUnits(const XmlNode& root);

// registerBits is 8 or 16; throws ConfigError for a value that cannot be meant.
ValueFormat ReadValueFormat(const XmlNode& property, int registerBits);

}  // namespace korva
