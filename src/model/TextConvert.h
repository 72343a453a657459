#pragma once
// Integer conversion of typed and configured text: blanks around the number are allowed,
// an optional sign, decimal digits or "$"/"0x" hexadecimal; the value must fit 32 bits.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korva {

// Names are compared ignoring letter case: ASCII letters only, whatever the locale says, so that a
// configuration means the same on every machine.
char FoldChar(char c);
std::string FoldCase(std::string_view s);
// The lines of a text whose lines end with CR, LF or CR LF; no empty last line.
std::vector<std::string> SplitLines(std::string_view text);
bool SameIgnoringCase(std::string_view a, std::string_view b);
// The order lines are shown in: COM2 before COM10.
bool LineBefore(std::string_view a, std::string_view b);

// Blanks around a typed or configured number: the control characters and the space.
bool IsBlank(char c);

std::optional<std::int32_t> ParseInt(std::string_view text);
// A decimal whole number only: blanks around it and a sign are allowed, "$" and "0x" are not. Files
// whose numbers are decimal by definition (sequences, device addresses) must not read "0x10" as 16.
std::optional<std::int32_t> ParseDecimal(std::string_view text);

// A decimal real number as configuration files write it: blanks around it, an optional sign, a
// decimal point and an exponent allowed; finite only. The same on every machine whatever its locale.
std::optional<double> ParseReal(std::string_view text);

}  // namespace korva
