#pragma once
// The byte enumerations and their name tables.

#include <cstdint>
#include <string>

namespace korva {

namespace LinkState {
constexpr std::uint8_t UNKNOWN = 10;
constexpr std::uint8_t KNOWN = 11;
constexpr std::uint8_t STALE = 12;  // named, but nothing enters it
constexpr std::uint8_t GET = 13;
constexpr std::uint8_t SET = 14;
constexpr std::uint8_t ERROR = 15;
}  // namespace LinkState

namespace TestState {
constexpr std::uint8_t UNTESTED = 0;
constexpr std::uint8_t FAILED = 1;
constexpr std::uint8_t ERROR = 2;
constexpr std::uint8_t PASSED = 3;
}  // namespace TestState

namespace UpdateMode {
constexpr std::uint8_t DONT_CARE = 20;
constexpr std::uint8_t SYNC_ON_CHANGE = 21;
}  // namespace UpdateMode

// The types of the configuration's properties and file handles, by their numbers.
namespace PropertyType {
constexpr std::uint8_t Word = 0;        // 16 bits
constexpr std::uint8_t Byte = 1;        // 8 bits
constexpr std::uint8_t SignedWord = 2;  // 16 bits, the same layout as a word
constexpr std::uint8_t WordOption = 3;  // 16 bits and an option byte
constexpr std::uint8_t File8 = 4;       // a file whose element index travels as one byte
constexpr std::uint8_t File16 = 5;      // a file whose element index travels as 16 bits
}  // namespace PropertyType

// Names for every byte value: a value outside a table is shown as its number,
// since a file handle's state byte also carries the device's status word.
std::string LinkStateName(std::uint8_t state);
std::string TestStateName(std::uint8_t state);
std::string UpdateModeName(std::uint8_t mode);

}  // namespace korva
