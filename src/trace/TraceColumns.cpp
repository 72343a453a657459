#include "trace/TraceColumns.h"

#include <algorithm>

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

constexpr std::array<TraceColumnInfo, kTraceColumnCount> kColumns{{
    {TraceColumn::Time, "Time", false,
     [](const TraceRow& r, std::string& scratch) -> std::string_view {
         if (r.record.timeUs < 0) return {};
         return scratch = FormatCaptureTime(r.record.timeUs);
     }},
    {TraceColumn::Direction, "Direction", true,
     [](const TraceRow& r, std::string&) -> std::string_view { return PathWords(r.record.path); }},
    {TraceColumn::From, "From", false,
     [](const TraceRow& r, std::string& scratch) -> std::string_view {
         return scratch = std::to_string(r.packet.source);
     }},
    {TraceColumn::To, "To", false,
     [](const TraceRow& r, std::string& scratch) -> std::string_view {
         return scratch = std::to_string(r.packet.dest);
     }},
    {TraceColumn::Device, "Device", true,
     [](const TraceRow& r, std::string&) -> std::string_view {
         if (r.decoded.device == nullptr) return {};
         return r.decoded.device->name;
     }},
    {TraceColumn::Property, "Property", true,
     [](const TraceRow& r, std::string&) -> std::string_view { return r.decoded.property; }},
    {TraceColumn::Value, "Value", true,
     [](const TraceRow& r, std::string&) -> std::string_view { return r.decoded.value; }},
    {TraceColumn::Kind, "Kind", true,
     [](const TraceRow& r, std::string&) -> std::string_view { return r.decoded.kind; }},
    {TraceColumn::Bytes, "Bytes", true, Bytes},
}};

constexpr bool InOrder() {
    for (std::size_t i = 0; i < kColumns.size(); ++i)
        if (static_cast<std::size_t>(kColumns[i].id) != i) return false;
    return true;
}
static_assert(InOrder(), "the table is indexed by TraceColumn");
}  // namespace

const std::array<TraceColumnInfo, kTraceColumnCount>& TraceColumns() {
    return kColumns;
}

}  // namespace korva
