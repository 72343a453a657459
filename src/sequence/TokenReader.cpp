#include "sequence/TokenReader.h"

namespace korva {

namespace {
// Skipped before a token: codes 0-32 and 128-255, which are below 33 as signed 8-bit numbers. This is
// the file's own rule, wider than the blanks around a number.
bool SkippedBeforeToken(char c) {
    return static_cast<signed char>(c) <= 32;
}
bool Keeps(char c) {
    return static_cast<signed char>(c) >= 32;
}
bool IsSeparator(char c) {
    return c == ' ' || c == '.' || c == ',' || c == '\n' || c == ';' || c == '\t';
}
}  // namespace

TokenReader::TokenReader(std::string_view fileBytes) : text_(TextMode(fileBytes)) {}

std::string TokenReader::TextMode(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        out.push_back(bytes[i]);
    }
    return out;
}

std::string TokenReader::Next() {
    while (!AtEnd() && SkippedBeforeToken(text_[pos_])) ++pos_;
    if (AtEnd()) return ";";

    if (text_[pos_] == ';') {
        // A comment runs to the end of its line.
        const std::size_t eol = text_.find('\n', pos_);
        pos_ = eol == std::string::npos ? text_.size() : eol + 1;
        return ";";
    }

    std::string token;
    bool quoted = false;
    // The end of the text inside a token ends the token; what was read so far stands.
    while (!AtEnd()) {
        const char c = text_[pos_];
        if (c == '"') {
            quoted = !quoted;
        } else if (quoted && c == '\n') {
            // An unclosed quote ends with its line; the token itself goes on.
            quoted = false;
        } else if (!quoted && IsSeparator(c)) {
            // A ";" is left in place: it is read again as the next token.
            if (c != ';') ++pos_;
            return token;
        } else if (Keeps(c)) {
            token.push_back(c);
        }
        ++pos_;
    }
    return token;
}

}  // namespace korva
