#include "packet/CaptureLine.h"

#include "packet/Receiver.h"

#include <array>
#include <cstdio>
#include <ctime>

namespace korva {

namespace {
constexpr std::array<const char*, kPacketPaths> kTokens = {"tx", "rx", "relay", "crc", "bus"};
constexpr std::int64_t kMicro = 1'000'000;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The next field, with the blanks before it skipped; empty at the end of the line.
std::string_view NextField(std::string_view& rest) {
    std::size_t i = 0;
    while (i < rest.size() && IsBlank(rest[i])) ++i;
    std::size_t j = i;
    while (j < rest.size() && !IsBlank(rest[j])) ++j;
    const std::string_view field = rest.substr(i, j - i);
    rest.remove_prefix(j);
    return field;
}

// Keeps what the scanner made of the text: a packet, with a checksum that fits or not.
struct OnePacket : ReceiverSink {
    void OnPacket(const BusPacket& p) override { Take(p); }
    void OnChecksumError(const BusPacket& p, std::uint8_t) override { Take(p); }
    void Take(const BusPacket& p) {
        packet = p;
        ++count;
    }
    BusPacket packet;
    int count = 0;
};

// The digits of text[at, at + n) as a number, or -1.
int Digits(std::string_view text, std::size_t at, std::size_t n) {
    if (at + n > text.size()) return -1;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}
}  // namespace

const char* PathToken(PacketPath path) {
    const auto i = static_cast<std::size_t>(path);
    return i < kTokens.size() ? kTokens[i] : "?";
}

const char* PathWords(PacketPath path) {
    static constexpr std::array<const char*, kPacketPaths> kWords = {"sent", "received", "relayed",
                                                                     "checksum error", "not for us"};
    const auto i = static_cast<std::size_t>(path);
    return i < kWords.size() ? kWords[i] : "?";
}

std::optional<PacketPath> PathFromToken(std::string_view token) {
    for (std::size_t i = 0; i < kTokens.size(); ++i)
        if (token == kTokens[i]) return static_cast<PacketPath>(i);
    return std::nullopt;
}

std::uint8_t LineNumber(std::string_view name) {
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (name.size() != 4 || upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M' ||
        name[3] < '1' || name[3] > '0' + kMaxLine)
        return 0;
    return static_cast<std::uint8_t>(name[3] - '0');
}

std::string LineWord(std::uint8_t line) {
    if (line < 1 || line > kMaxLine) return {};
    return "COM" + std::to_string(line);
}

std::string FormatCaptureTime(std::int64_t timeUs) {
    std::int64_t seconds = timeUs / kMicro, micros = timeUs % kMicro;
    if (micros < 0) {
        micros += kMicro;
        --seconds;
    }
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(micros));
    return text;
}

std::optional<std::int64_t> ParseCaptureTime(std::string_view s) {
    // YYYY-MM-DDTHH:MM:SS, then an optional fraction of 1 to 9 digits, then Z.
    if (s.size() < 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':' ||
        s.back() != 'Z')
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = Digits(s, 0, 4) - 1900;
    tm.tm_mon = Digits(s, 5, 2) - 1;
    tm.tm_mday = Digits(s, 8, 2);
    tm.tm_hour = Digits(s, 11, 2);
    tm.tm_min = Digits(s, 14, 2);
    tm.tm_sec = Digits(s, 17, 2);
    if (tm.tm_year < -1900 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 ||
        tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 ||
        tm.tm_sec > 60)
        return std::nullopt;
    std::int64_t micros = 0;
    const std::string_view fraction = s.substr(19, s.size() - 20);
    if (!fraction.empty()) {
        if (fraction[0] != '.' || fraction.size() < 2 || fraction.size() > 10) return std::nullopt;
        std::int64_t scale = kMicro;
        for (std::size_t i = 1; i < fraction.size(); ++i) {
            if (fraction[i] < '0' || fraction[i] > '9') return std::nullopt;
            scale /= 10;
            micros += (fraction[i] - '0') * scale;  // digits past the sixth add nothing
        }
    }
    return static_cast<std::int64_t>(timegm(&tm)) * kMicro + micros;
}

std::string FormatCaptureLine(std::int64_t timeUs, PacketPath path, const BusPacket& packet,
                              std::uint8_t line) {
    std::string text;
    text.reserve(80);
    if (timeUs >= 0) {
        text += FormatCaptureTime(timeUs);
        text += ' ';
    }
    text += PathToken(path);
    text += ' ';
    if (line >= 1 && line <= kMaxLine) text += LineWord(line) + ' ';
    text += EncodeSerial(packet);
    return text;
}

const char* CaptureFaultText(CaptureFault fault) {
    switch (fault) {
        case CaptureFault::None:
            return "taken";
        case CaptureFault::Comment:
            return "blank or comment";
        case CaptureFault::BadTime:
            return "time not understood";
        case CaptureFault::BadPath:
            return "direction not one of tx, rx, relay, crc, bus";
        case CaptureFault::BadPacket:
            return "not one whole packet in the bus's text encoding";
    }
    return "?";
}

CaptureFault ParseCaptureLine(std::string_view line, CapturedPacket& out) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view rest = line;
    std::string_view field = NextField(rest);
    if (field.empty() || field.front() == '#') return CaptureFault::Comment;
    CapturedPacket p;
    if (!PathFromToken(field)) {
        const auto time = ParseCaptureTime(field);
        if (!time) return CaptureFault::BadTime;
        p.timeUs = *time;
        field = NextField(rest);
    }
    const auto path = PathFromToken(field);
    if (!path) return CaptureFault::BadPath;
    p.path = *path;
    // A line's word stands before the packet; what starts otherwise is left to the packet's check,
    // so that a line without one reads as it always did.
    std::string_view after = rest;
    if (const std::uint8_t n = LineNumber(NextField(after)); n != 0) {
        p.line = n;
        rest = after;
    }
    // The rest of the line is one packet as the line carries it, and nothing else.
    const std::size_t start = rest.find_first_not_of(" \t");
    const std::size_t end = rest.find_last_not_of(" \t");
    if (start == std::string_view::npos || rest[start] != '(' || rest[end] != ')')
        return CaptureFault::BadPacket;
    OnePacket one;
    Receiver scanner(one);
    for (char c : rest.substr(start, end - start + 1)) scanner.Feed(c);
    if (one.count != 1) return CaptureFault::BadPacket;
    p.packet = one.packet;
    out = p;
    return CaptureFault::None;
}

}  // namespace korva
