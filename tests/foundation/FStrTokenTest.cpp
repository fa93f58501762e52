#include "FoundationTestSupport.h"

using namespace FSpace;
using namespace foundation_test;

namespace {

using Token = FStrToken<char>;

std::string text(Token t) {
    return t.isEmpty() ? std::string() : std::string(*t, static_cast<std::size_t>(t.Length()));
}

} // namespace

TEST(FStrTokenTest, NullPointerGivesAnEmptyTokenEqualToEmptyStrings) {
    Token t(static_cast<char const*>(nullptr));
    EXPECT_TRUE(t.Length() == 0 && t.isEmpty() && !t && Token("abc", -4).Length() == 0);
    EXPECT_TRUE(t == FGStr<char>() && t == "" && Token("", 0) == t);
}

TEST(FStrTokenTest, SubViewsPointIntoTheSameCharactersAndAtChecksBoundsWithoutCountingFromTheEnd) {
    char const* hello = "hello";
    Token t(hello);
    EXPECT_EQ(std::string({t.at(0), t[4]}), "ho");
    EXPECT_ROWS(std::string, {thrownBy([&] { t.at(-1); }).what(), "Index out of Array"},
                {thrownBy([&] { t.at(5); }).what(), "Index out of Array"});
    EXPECT_EQ(*t.right(2), hello + 3);
    EXPECT_ROWS(std::string, {text(t.right(2)), "lo"}, {text(t.left(2)), "he"},
                {text(t.subString(-3, 2)), "ll"}, {text(t(1, -1)), "ello"});
    EXPECT_TRUE(t.left(0).isEmpty() && Token().left(3).isEmpty() && t.subString(9, 1).isEmpty());
}

TEST(FStrTokenTest, EqualityNeedsEqualLengthEvenAtTheSameAddress) {
    char const* abc = "abc";
    Token const firstTwo(abc, 2);
    EXPECT_ROWS(bool, {firstTwo == abc, false}, {firstTwo == "ab", true}, {Token(abc) == abc, true},
                {firstTwo != FMStr<char>("abc"), true}, {firstTwo < FGStr<char>("abc"), true},
                {Token("b") > Token("abc"), true});
    EXPECT_ROWS(long, {firstTwo.compare("abcd", 4), -2}, {Token("ABC").compareIgnoreCase("abc", 3), 0});
}

TEST(FStrTokenTest, ReadsOnlyTheViewedCharacters) {
    Token const t("12345678", 3); // views "123" of a longer text
    EXPECT_ROWS(long, {t.toInt32(), 123}, {t.indexOf('4'), -1}, {t.count('3'), 1}, {t.lastIndexOf("23"), 1},
                {t.indexOf("34", 2, 0), -1}, {t.s_verify('1'), 1}, {Token("ff00", 2).hexToUInt16(), 0xFF});
    EXPECT_TRUE(t.isNumeric());
    EXPECT_DOUBLE_EQ(Token("1.257", 4).toDouble(), 1.25);
}

TEST(FStrTokenTest, CaseMappingMakesANewGrowableStringOfAsciiLettersOnlyAndTokensAreNotSplit) {
    Token const t("aZ1");
    EXPECT_TRUE(t.toUpper() == "AZ1" && t.toLower() == "az1" && t == "aZ1");
    EXPECT_ROWS(long, {Token("a,b").split(',').Count(), 0}, {Token("a,b").split(Token(","), 2).Count(), 0});
    FStrToken<wchar_t> const wide(L"\u00E9t\u00E9");
    EXPECT_ROWS(long, {wide.Length(), 3}, {wide.indexOf(L't'), 1},
                {wide == FGStr<wchar_t>(L"\u00E9t\u00E9"), true}, {wide.toUpper() == L"\u00E9T\u00E9", true});
}
