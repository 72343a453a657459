#include "model/Enums.h"

#include <array>
#include <string_view>

namespace korva {

namespace {
constexpr std::array<std::string_view, 6> kLinkStateNames = {"UNKNOWN", "KNOWN", "STALE",
                                                             "GET",     "SET",   "ERROR"};
constexpr std::array<std::string_view, 4> kTestStateNames = {"UNTESTED", "FAILED", "ERROR", "PASSED"};

template <std::size_t N>
std::string Lookup(const std::array<std::string_view, N>& table, int first, std::uint8_t value) {
    const int index = value - first;
    if (index >= 0 && index < static_cast<int>(N)) return std::string(table[static_cast<std::size_t>(index)]);
    return std::to_string(value);
}
}  // namespace

std::string LinkStateName(std::uint8_t state) {
    return Lookup(kLinkStateNames, LinkState::UNKNOWN, state);
}

std::string TestStateName(std::uint8_t state) {
    return Lookup(kTestStateNames, TestState::UNTESTED, state);
}

std::string UpdateModeName(std::uint8_t mode) {
    if (mode == UpdateMode::DONT_CARE) return "Dont Care";
    if (mode == UpdateMode::SYNC_ON_CHANGE) return "Sync on Change";
    return "Poll";
}

}  // namespace korva
