#include "FType.h"

#include <gtest/gtest.h>

#include <string>

using namespace FSpace;

namespace {

using Token = FStrToken<char>;

std::string text(Token t) {
    return t.isEmpty() ? std::string() : std::string(*t, static_cast<std::size_t>(t.Length()));
}

} // namespace

TEST(FStrTokenTest, NullPointerGivesAnEmptyTokenEqualToEmptyStrings) {
    Token t(static_cast<char const*>(nullptr));
    EXPECT_EQ(t.Length(), 0);
    EXPECT_TRUE(t.isEmpty());
    EXPECT_TRUE(!t);
    EXPECT_TRUE(t == FGStr<char>());
    EXPECT_TRUE(t == "");
    EXPECT_TRUE(Token("", 0) == t);
    EXPECT_EQ(Token("abc", -4).Length(), 0);
}

TEST(FStrTokenTest, AtChecksBoundsWithoutCountingFromTheEnd) {
    Token t("abc");
    EXPECT_EQ(t.at(0), 'a');
    EXPECT_EQ(t[2], 'c');
    for (long index : {-1L, 3L}) {
        try {
            t.at(index);
            ADD_FAILURE() << "no exception for " << index;
        } catch (FException const& e) {
            EXPECT_STREQ(e.what(), "Index out of Array");
        }
    }
}

TEST(FStrTokenTest, SubViewsPointIntoTheSameCharacters) {
    char const* hello = "hello";
    Token t(hello);
    Token right = t.right(2);
    EXPECT_EQ(*right, hello + 3);
    EXPECT_EQ(text(right), "lo");
    EXPECT_EQ(text(t.left(2)), "he");
    EXPECT_TRUE(t.left(0).isEmpty());
    EXPECT_TRUE(Token().left(3).isEmpty());
    EXPECT_EQ(text(t.subString(-3, 2)), "ll");
    EXPECT_EQ(text(t(1, -1)), "ello");
    EXPECT_TRUE(t.subString(9, 1).isEmpty());
}

TEST(FStrTokenTest, EqualityNeedsEqualLengthEvenAtTheSameAddress) {
    char const* abc = "abc";
    Token const firstTwo(abc, 2);
    EXPECT_FALSE(firstTwo == abc);
    EXPECT_TRUE(firstTwo == "ab");
    EXPECT_TRUE(Token(abc) == abc);
    EXPECT_TRUE(firstTwo != FMStr<char>("abc"));
    EXPECT_TRUE(firstTwo < FGStr<char>("abc"));
    EXPECT_TRUE(Token("b") > Token("abc"));
    EXPECT_EQ(firstTwo.compare("abcd", 4), -2);
    EXPECT_EQ(Token("ABC").compareIgnoreCase("abc", 3), 0);
}

TEST(FStrTokenTest, ReadsOnlyTheViewedCharacters) {
    Token const t("12345678", 3); // views "123" of a longer text
    EXPECT_EQ(t.toInt32(), 123);
    EXPECT_EQ(t.indexOf('4'), -1);
    EXPECT_EQ(t.count('3'), 1);
    EXPECT_EQ(t.lastIndexOf("23"), 1);
    EXPECT_EQ(t.indexOf("34", 2, 0), -1);
    EXPECT_EQ(t.s_verify('1'), 1);
    EXPECT_TRUE(t.isNumeric());
    EXPECT_EQ(Token("ff00", 2).hexToUInt16(), 0xFF);
    EXPECT_DOUBLE_EQ(Token("1.257", 4).toDouble(), 1.25);
}

TEST(FStrTokenTest, CaseMappingMakesANewGrowableString) {
    char const* source = "aZ1";
    Token const t(source);
    FMStr<char> upper = t.toUpper();
    FMStr<char> lower = t.toLower();
    EXPECT_TRUE(upper == "AZ1");
    EXPECT_TRUE(lower == "az1");
    EXPECT_TRUE(t == "aZ1");
}

TEST(FStrTokenTest, TokensAreNotSplit) {
    EXPECT_EQ(Token("a,b").split(',').Count(), 0);
    EXPECT_EQ(Token("a,b").split(Token(","), 2).Count(), 0);
}

TEST(FStrTokenTest, WideTokensViewWideText) {
    FStrToken<wchar_t> t(L"\u00E9t\u00E9");
    EXPECT_EQ(t.Length(), 3);
    EXPECT_EQ(t.indexOf(L't'), 1);
    EXPECT_TRUE(t == FGStr<wchar_t>(L"\u00E9t\u00E9"));
    FMStr<wchar_t> upper = t.toUpper();
    EXPECT_TRUE(upper == L"\u00E9T\u00E9"); // only ASCII letters change
}
