#include "trace/TraceColumns.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace korva {

namespace {
// "22 6C 89 01 28 10".
std::string_view Bytes(const TraceRow& row, std::string& scratch) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::size_t size = std::min<std::size_t>(row.record.size, sizeof row.record.bytes);
    scratch.assign(size == 0 ? 0 : 3 * size - 1, ' ');
    for (std::size_t i = 0; i < size; ++i) {
        scratch[3 * i] = kDigits[row.record.bytes[i] >> 4];
        scratch[3 * i + 1] = kDigits[row.record.bytes[i] & 0x0F];
    }
    return scratch;
}

// "2026-12-07T12:00:00.123456Z".
std::string_view UtcTime(const TraceRow& r, std::string& scratch) {
    if (r.record.timeUs < 0) return {};
    return scratch = FormatCaptureTime(r.record.timeUs);
}

// "14:00:00.123", the time of day here, to the millisecond below.
std::string_view LocalTime(const TraceRow& r, std::string& scratch) {
    if (r.record.timeUs < 0) return {};
    const std::int64_t ms = r.record.timeUs / 1000;
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return {};
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                                local.tm_sec, static_cast<int>(ms % 1000));
    return scratch.assign(text,
                          static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(sizeof text) - 1)));
}

// "+1.3 ms" since the row above, to the nearest tenth; an exact half goes away from zero.
std::string_view Since(const TraceRow& r, std::string& scratch) {
    if (r.record.timeUs < 0 || r.beforeUs < 0) return {};
    const std::int64_t us = r.record.timeUs - r.beforeUs;
    double ms = static_cast<double>(us) / 1000.0;
    // Of the halves between two tenths only x.25 and x.75 are exact; to_chars takes x.25 down to
    // the even tenth, where the view has always taken it up.
    if (us % 1000 == 250) ms += 0.01;
    if (us % 1000 == -250) ms -= 0.01;
    char text[48] = "+";
    const auto end = std::to_chars(text + 1, text + sizeof text, ms, std::chars_format::fixed, 1);
    return scratch.assign(text, end.ptr).append(" ms");
}

// "34 FeedPump", or "108" for an address no device has.
std::string_view Node(const TraceRow& r, std::uint8_t address, std::string& scratch) {
    scratch = std::to_string(address);
    if (const KDevice* d = r.decoder.Device(address)) scratch.append(" ").append(d->name);
    return scratch;
}

constexpr std::array<TraceColumnInfo, kTraceColumnCount> kColumns{{
    {TraceColumn::Time, "Time", 0, 0, false, UtcTime, LocalTime},
    {TraceColumn::Since, "Since", 1, -1, false, Since, nullptr},
    {TraceColumn::Direction, "Direction", 2, 1, true,
     [](const TraceRow& r, std::string&) -> std::string_view { return PathWords(r.record.path); }, nullptr},
    {TraceColumn::From, "From", 3, 2, false,
     [](const TraceRow& r, std::string& scratch) -> std::string_view {
         return scratch = std::to_string(r.packet.source);
     },
     [](const TraceRow& r, std::string& scratch) { return Node(r, r.packet.source, scratch); }},
    {TraceColumn::To, "To", 4, 3, false,
     [](const TraceRow& r, std::string& scratch) -> std::string_view {
         return scratch = std::to_string(r.packet.dest);
     },
     [](const TraceRow& r, std::string& scratch) { return Node(r, r.packet.dest, scratch); }},
    {TraceColumn::Device, "Device", -1, 4, true,
     [](const TraceRow& r, std::string&) -> std::string_view {
         if (r.decoded.device == nullptr) return {};
         return r.decoded.device->name;
     },
     nullptr},
    {TraceColumn::Property, "Property", 6, 5, true,
     [](const TraceRow& r, std::string&) -> std::string_view { return r.decoded.property; }, nullptr},
    {TraceColumn::Value, "Value", 7, 6, true,
     [](const TraceRow& r, std::string&) -> std::string_view { return r.decoded.value; }, nullptr},
    {TraceColumn::Kind, "Kind", 5, 7, true,
     [](const TraceRow& r, std::string&) -> std::string_view { return r.decoded.kind; }, nullptr},
    {TraceColumn::Bytes, "Bytes", 8, 8, true, Bytes, nullptr},
    {TraceColumn::Line, "Line", -1, -1, false,
     [](const TraceRow& r, std::string& scratch) -> std::string_view {
         return scratch = LineWord(r.record.line);
     },
     nullptr},
}};

constexpr bool InOrder() {
    for (std::size_t i = 0; i < kColumns.size(); ++i)
        if (static_cast<std::size_t>(kColumns[i].id) != i) return false;
    return true;
}
static_assert(InOrder(), "the table is indexed by TraceColumn");

// The columns of one layout by their places there; the places must be 0 to N-1, each taken once.
template <std::size_t N>
constexpr std::array<const TraceColumnInfo*, N> Layout(int TraceColumnInfo::*at) {
    std::array<const TraceColumnInfo*, N> out{};
    for (const TraceColumnInfo& c : kColumns) {
        const int place = c.*at;
        if (place < -1 || place >= static_cast<int>(N) || (place >= 0 && out[place] != nullptr))
            throw "a place out of range or taken twice";
        if (place >= 0) out[place] = &c;
    }
    for (const TraceColumnInfo* c : out)
        if (c == nullptr) throw "a place left empty";
    return out;
}

constexpr auto kView = Layout<kTraceViewColumns>(&TraceColumnInfo::viewAt);
constexpr auto kCsv = Layout<kTraceCsvColumns>(&TraceColumnInfo::csvAt);

// A layout with the line's column after the others.
template <std::size_t N>
constexpr std::array<const TraceColumnInfo*, N + 1> WithLine(
    const std::array<const TraceColumnInfo*, N>& layout) {
    std::array<const TraceColumnInfo*, N + 1> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = layout[i];
    out[N] = &kColumns[static_cast<std::size_t>(TraceColumn::Line)];
    return out;
}
constexpr auto kViewLines = WithLine(kView);
constexpr auto kCsvLines = WithLine(kCsv);

// The filter has no row above a record: what it searches must not need one.
static_assert(!kColumns[static_cast<std::size_t>(TraceColumn::Since)].searched);
}  // namespace

const std::array<TraceColumnInfo, kTraceColumnCount>& TraceColumns() {
    return kColumns;
}

const std::array<const TraceColumnInfo*, kTraceViewColumns>& TraceViewColumns() {
    return kView;
}

const std::array<const TraceColumnInfo*, kTraceCsvColumns>& TraceCsvColumns() {
    return kCsv;
}

std::span<const TraceColumnInfo* const> TraceViewColumns(bool severalLines) {
    if (severalLines) return kViewLines;
    return kView;
}

std::span<const TraceColumnInfo* const> TraceCsvColumns(bool severalLines) {
    if (severalLines) return kCsvLines;
    return kCsv;
}

}  // namespace korva
