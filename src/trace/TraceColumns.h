#pragma once
// The trace's columns in one table: the table view, the CSV export and the text filter take their
// names, their places and their cell texts from here. The view and the CSV each show their own
// choice of columns in their own order, and a column both show has one name. The CSV's fields and
// texts are what stored files and users' scripts read: a new CSV field goes at the end.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "trace/TraceDecoder.h"

namespace korva {

enum class TraceColumn : std::uint8_t {
    Time,
    Since,
    Direction,
    From,
    To,
    Device,
    Property,
    Value,
    Kind,
    Bytes,
    Line
};
inline constexpr std::size_t kTraceColumnCount = 11;
inline constexpr std::size_t kTraceViewColumns = 9;
inline constexpr std::size_t kTraceCsvColumns = 9;

// A record with its packet decoded once, for the texts of all its columns.
struct TraceRow {
    // beforeUs is the time of the row the view shows above this one, for "Since"; -1 for none.
    TraceRow(const TraceRecord& r, const TraceDecoder& d, std::int64_t before = -1)
        : record(r), packet(r.Packet()), decoded(d.Decode(packet, r.path)), decoder(d), beforeUs(before) {}

    TraceRecord record;
    BusPacket packet;
    DecodedPacket decoded;
    const TraceDecoder& decoder;
    std::int64_t beforeUs;
};

// The row's text in a column: the row's own, or one written into scratch. The text filter asks for
// it of a million records and passes one scratch string for all of them.
using TraceText = std::string_view (*)(const TraceRow& row, std::string& scratch);

struct TraceColumnInfo {
    TraceColumn id;
    const char* header;  // the view's and the CSV's: "Kind"
    int viewAt;          // its place among the view's columns, -1 when the view does not show it
    int csvAt;           // its place among the CSV's fields, -1 when the CSV has none
    // "Line" has neither: only a plant on several lines shows it, after all the others.
    bool searched;       // by the text filter, in its view text
    TraceText text;      // as the CSV writes it
    TraceText viewText;  // as the view shows it, where that differs; nullptr: text

    std::string_view ViewText(const TraceRow& row, std::string& scratch) const {
        return (viewText != nullptr ? viewText : text)(row, scratch);
    }
    std::string ViewText(const TraceRow& row) const {
        std::string scratch;
        return std::string(ViewText(row, scratch));
    }
    std::string Text(const TraceRow& row) const {
        std::string scratch;
        return std::string(text(row, scratch));
    }
};

// Every column, in the order of TraceColumn.
const std::array<TraceColumnInfo, kTraceColumnCount>& TraceColumns();
inline const TraceColumnInfo& TraceColumnOf(TraceColumn id) {
    return TraceColumns()[static_cast<std::size_t>(id)];
}
// The view's columns from left to right, and the CSV's fields in their order.
const std::array<const TraceColumnInfo*, kTraceViewColumns>& TraceViewColumns();
const std::array<const TraceColumnInfo*, kTraceCsvColumns>& TraceCsvColumns();
// The same, and for a plant on several lines the line's column after them.
std::span<const TraceColumnInfo* const> TraceViewColumns(bool severalLines);
std::span<const TraceColumnInfo* const> TraceCsvColumns(bool severalLines);

}  // namespace korva
