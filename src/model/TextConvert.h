#pragma once
// Integer conversion of typed and configured text: blanks around the number are allowed,
// an optional sign, decimal digits or "$"/"0x" hexadecimal; the value must fit 32 bits.

#include <cstdint>
#include <optional>
#include <string_view>

namespace korva {

std::optional<std::int32_t> ParseInt(std::string_view text);

}  // namespace korva
