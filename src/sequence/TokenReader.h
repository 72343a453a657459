#pragma once
// Cuts the text of a test sequence file into tokens.

#include <cstddef>
#include <string>
#include <string_view>

namespace korva {

class TokenReader {
  public:
    // The text as the file holds it; a carriage return before a line feed is dropped here.
    explicit TokenReader(std::string_view fileBytes);

    // The next token. ";" stands for a comment, a bare or quoted ";", and the end of the text.
    std::string Next();
    bool AtEnd() const { return pos_ >= text_.size(); }

    // Text mode: CR LF becomes LF; a lone CR stays.
    static std::string TextMode(std::string_view bytes);

  private:
    std::string text_;
    std::size_t pos_ = 0;
};

}  // namespace korva
