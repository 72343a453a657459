#include "trace/TraceColumns.h"

namespace korva {

namespace {
std::string Bytes(const TraceRow& row) {
    std::string bytes = TraceBytes(row.packet);
    if (!bytes.empty()) bytes.pop_back();  // the space after the last byte
    return bytes;
}

constexpr std::array<TraceColumnInfo, kTraceColumnCount> kColumns{{
    {TraceColumn::Time, "Time", false,
     [](const TraceRow& r) {
         return r.record.timeUs >= 0 ? FormatCaptureTime(r.record.timeUs) : std::string();
     }},
    {TraceColumn::Direction, "Direction", true,
     [](const TraceRow& r) { return std::string(PathWords(r.record.path)); }},
    {TraceColumn::From, "From", false, [](const TraceRow& r) { return std::to_string(r.packet.source); }},
    {TraceColumn::To, "To", false, [](const TraceRow& r) { return std::to_string(r.packet.dest); }},
    {TraceColumn::Device, "Device", true,
     [](const TraceRow& r) { return r.decoded.device != nullptr ? r.decoded.device->name : std::string(); }},
    {TraceColumn::Property, "Property", true, [](const TraceRow& r) { return r.decoded.property; }},
    {TraceColumn::Value, "Value", true, [](const TraceRow& r) { return r.decoded.value; }},
    {TraceColumn::Kind, "Kind", true, [](const TraceRow& r) { return r.decoded.kind; }},
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
