#include <gtest/gtest.h>

#include "sequence/Util.h"

namespace korva {
namespace {

std::vector<std::string> Tokens(std::string_view text) {
    TokenReader r(text);
    std::vector<std::string> out;
    while (!r.AtEnd()) out.push_back(r.Next());
    return out;
}

using V = std::vector<std::string>;

TEST(TokenReader, CutsTextIntoTokens) {
    const struct {
        std::string_view text;
        V tokens;
    } cases[] = {
        {"set Pump.Speed 1500; free text get\nwait 1 ", {"set", "Pump", "Speed", "1500", ";", "wait", "1"}},
        {"usermessage \"Hello, world. Bye\" x ", {"usermessage", "Hello, world. Bye", "x"}},
        {"12.5,7 ", {"12", "5", "7"}},
        // A quoted ";" is a token of its own but no comment.
        {"a \";\" get ", {"a", ";", "get"}},
        // An unclosed quote ends with its line; the token runs on to the next separator.
        {"\"ab cd\nef gh ", {"ab cdef", "gh"}},
        {"a\1b\200c\377d \"x\2y\351\" ", {"abcd", "xy"}},  // control codes and 128-255 dropped
        {"\"\" x ", {"", "x"}},
        {"say\"one two\"three ", {"sayone twothree"}},
        {"a\r\nb\r\n", {"a", "b"}},
        // A separator in first place ends an empty token.
        {"a , b ", {"a", "", "b"}},
        // The end of the text inside a token keeps the token.
        {"testnode abc", {"testnode", "abc"}},
        {"x \"open to the end", {"x", "open to the end"}},
        {"   \t\n", {";"}},
        {"; only a comment\n", {";"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Tokens(c.text), c.tokens) << c.text;
}

TEST(TokenReader, KeywordsIgnoreLetterCase) {
    for (const char* w : {"get", "GET", "Get"}) EXPECT_EQ(KeywordKind(w), kGet) << w;
    EXPECT_EQ(KeywordKind("DisplayTestNode"), kDisplayTestNode);
    EXPECT_EQ(KeywordKind("resetnode"), kResetNode);
    for (const char* w : {"gets", "", ";"}) EXPECT_EQ(KeywordKind(w), -1) << w;
}

}  // namespace
}  // namespace korva
