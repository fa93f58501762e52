#include "platform/LogText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LogText, EscapesEveryControlCharacterAndTheBackslashOnly) {
    using namespace std::string_literals;
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""},
        {"plain text: /opt/a b.pkg {\"Cmd\":\"Install\"}", "plain text: /opt/a b.pkg {\"Cmd\":\"Install\"}"},
        {"one\ntwo", "one\\ntwo"},
        {"\r\n", "\\r\\n"},
        {"a\tb", "a\\tb"},
        {"back\\slash", "back\\\\slash"},
        {"\\n", "\\\\n"}, // an escape already in the text is not mistaken for a line feed
        {"\0"s, "\\x00"},
        {"\x01\x1b[31m", "\\x01\\x1b[31m"},
        {"\x7f", "\\x7f"},
        {"gr\xc3\xbc\xc3\x9f\xe2\x82\xac", "gr\xc3\xbc\xc3\x9f\xe2\x82\xac"}, // UTF-8 stays readable
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::LogText::escaped(c.in), c.out) << testing::PrintToString(c.in);
}

TEST(LogText, NoByteBelowSpaceOrDeleteSurvives) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all += static_cast<char>(byte);
    const std::string out = platform::LogText::escaped(all);
    for (const char c : out) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(byte >= 0x20 && byte != 0x7f) << static_cast<int>(byte);
    }
    // 30 bytes become "\xNN", three become "\n", "\r" or "\t", the backslash becomes two.
    EXPECT_EQ(out.size(), all.size() + 30 * 3 + 3 * 1 + 1) << out;
}

} // namespace
