#include "trace/TraceFilter.h"

#include <algorithm>

#include "model/TextConvert.h"

namespace korva {

namespace {
// The filter's text is folded once, by the caller.
bool MatchesFolded(const TraceFilter& f, const std::string& foldedText, const TraceRecord& r,
                   const TraceDecoder& decoder) {
    if (!(f.paths & (1u << static_cast<unsigned>(r.path)))) return false;
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
    return decoder.WordsContain(r, foldedText);
}
}  // namespace

bool TraceFilter::Matches(const TraceRecord& r, const TraceDecoder& decoder) const {
    return MatchesFolded(*this, FoldCase(text), r, decoder);
}

std::vector<std::uint64_t> FilterTrace(const TraceBuffer& buffer, const TraceFilter& filter,
                                       const TraceDecoder& decoder) {
    std::vector<std::uint64_t> rows;
    const std::string folded = FoldCase(filter.text);
    for (std::uint64_t n = buffer.First(); n < buffer.End(); ++n)
        if (MatchesFolded(filter, folded, buffer.At(n), decoder)) rows.push_back(n);
    return rows;
}

}  // namespace korva
