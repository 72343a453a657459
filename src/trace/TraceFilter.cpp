#include "trace/TraceFilter.h"

#include <algorithm>

#include "model/TextConvert.h"
#include "trace/TraceColumns.h"

namespace korva {

namespace {
// Whether the text, folded to lower case, is in the view text of one of the row's searched columns
// ("8a 03" finds a read reply of three bytes). Compared in place, without folded copies: a filter runs over a
// million records.
bool WordsContain(const TraceRecord& r, const TraceDecoder& decoder, std::string_view foldedText,
                  std::string& scratch) {
    const auto holds = [foldedText](std::string_view word) {
        for (std::size_t at = 0; at + foldedText.size() <= word.size(); ++at) {
            std::size_t i = 0;
            while (i < foldedText.size() && FoldChar(word[at + i]) == foldedText[i]) ++i;
            if (i == foldedText.size()) return true;
        }
        return false;
    };
    const TraceRow row(r, decoder);
    return std::any_of(TraceColumns().begin(), TraceColumns().end(), [&](const TraceColumnInfo& c) {
        return c.searched && holds(c.ViewText(row, scratch));
    });
}

// The filter's text is folded once, by the caller.
bool MatchesFolded(const TraceFilter& f, const std::string& foldedText, const TraceRecord& r,
                   const TraceDecoder& decoder, std::string& scratch) {
    if (!(f.paths & (1u << static_cast<unsigned>(r.path)))) return false;
    if (f.line >= 0 && r.line != f.line) return false;
    const std::uint8_t cmd = r.bytes[2];
    if (f.commandClass >= 0 && (cmd & code::kClassMask) != f.commandClass) return false;
    if (f.device >= 0 || f.propertyCode >= 0) {
        const bool reply = (cmd & (code::kAck | code::kRefused)) != 0;
        const std::uint8_t address = reply ? r.bytes[1] : r.bytes[0];
        if (f.device >= 0 && address != f.device) return false;
        if (f.propertyCode >= 0 && (r.size <= BusPacket::kHeaderSize || r.bytes[5] != f.propertyCode))
            return false;
    }
    if (foldedText.empty()) return true;
    return WordsContain(r, decoder, foldedText, scratch);
}
}  // namespace

bool TraceFilter::Matches(const TraceRecord& r, const TraceDecoder& decoder) const {
    std::string scratch;
    return MatchesFolded(*this, FoldCase(text), r, decoder, scratch);
}

std::vector<std::uint64_t> FilterTrace(const TraceBuffer& buffer, const TraceFilter& filter,
                                       const TraceDecoder& decoder) {
    std::vector<std::uint64_t> rows;
    const std::string folded = FoldCase(filter.text);
    std::string scratch;
    for (std::uint64_t n = buffer.First(); n < buffer.End(); ++n)
        if (MatchesFolded(filter, folded, buffer.At(n), decoder, scratch)) rows.push_back(n);
    return rows;
}

}  // namespace korva
