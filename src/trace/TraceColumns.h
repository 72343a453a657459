#pragma once
// The trace's columns in one table: the table view, the CSV export and the text filter take their
// names, their order and their cell texts from here, so that a row reads the same in all three.
// Order and names are the CSV's, which stored files and users' scripts rely on: a new column goes
// at the end.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "trace/TraceDecoder.h"

namespace korva {

enum class TraceColumn : std::uint8_t { Time, Direction, From, To, Device, Property, Value, Kind, Bytes };
inline constexpr std::size_t kTraceColumnCount = 9;

// A record with its packet decoded once, for the texts of all its columns.
struct TraceRow {
    TraceRow(const TraceRecord& r, const TraceDecoder& decoder)
        : record(r), packet(r.Packet()), decoded(decoder.Decode(packet, r.path)) {}

    TraceRecord record;
    BusPacket packet;
    DecodedPacket decoded;
};

struct TraceColumnInfo {
    TraceColumn id;
    const char* header;  // "Kind"
    bool searched;       // by the text filter
    // The row's text in this column: the row's own, or one written into scratch. The text filter asks
    // for it of a million records and passes one scratch string for all of them.
    std::string_view (*text)(const TraceRow& row, std::string& scratch);

    std::string Text(const TraceRow& row) const {
        std::string scratch;
        return std::string(text(row, scratch));
    }
};

// In the order of TraceColumn.
const std::array<TraceColumnInfo, kTraceColumnCount>& TraceColumns();

}  // namespace korva
