#pragma once
// One packet as a line of text: the trace window's capture files and korvasim's --trace output
// share it. "2026-12-07T02:40:01.123456Z tx (x23x6Cx89x01x1Ex05)": the time (UTC, optional when
// read), the way the packet took as seen by the writer, the line ("COM2", only when the plant has
// several), and the packet in the bus's own text encoding, read back by the bus's own scanner.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "packet/BusPacket.h"

namespace korva {

// Sent by the writer; received for it; passed on by it; failed its checksum; heard on the bus but
// addressed to another node.
enum class PacketPath : std::uint8_t { Sent, Received, Relayed, ChecksumError, Heard };
inline constexpr int kPacketPaths = 5;

// "tx", "rx", "relay", "crc", "bus".
const char* PathToken(PacketPath path);
// "sent", "received", "relayed", "checksum error", "not for us".
const char* PathWords(PacketPath path);
std::optional<PacketPath> PathFromToken(std::string_view token);

// The COM number of a line's name, "COM2" (letter case ignored) is 2; 0 for a name outside COM1 to COM6.
std::uint8_t LineNumber(std::string_view name);
// "COM2" for 2; empty for a number outside 1 to 6.
std::string LineWord(std::uint8_t line);
inline constexpr std::uint8_t kMaxLine = 6;

// Microseconds since 1970-01-01 UTC as "2026-12-07T02:40:01.123456Z".
std::string FormatCaptureTime(std::int64_t timeUs);
std::optional<std::int64_t> ParseCaptureTime(std::string_view text);

// A time below zero is left out, and so is a line outside 1 to 6.
std::string FormatCaptureLine(std::int64_t timeUs, PacketPath path, const BusPacket& packet,
                              std::uint8_t line = 0);

// Why a line was not taken; Comment covers blank lines and lines that start with '#'.
enum class CaptureFault : std::uint8_t { None, Comment, BadTime, BadPath, BadPacket };
inline constexpr int kCaptureFaults = 5;
const char* CaptureFaultText(CaptureFault fault);

struct CapturedPacket {
    std::int64_t timeUs = -1;  // -1: the line had none
    PacketPath path = PacketPath::Sent;
    std::uint8_t line = 0;  // 0: the line had none
    BusPacket packet;
};

// Blanks around and between the fields may be any run of spaces or tabs; a trailing '\r' is dropped.
// The packet is taken as recorded, a checksum that does not fit included.
CaptureFault ParseCaptureLine(std::string_view line, CapturedPacket& out);

}  // namespace korva
