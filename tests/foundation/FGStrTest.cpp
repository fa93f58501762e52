#include "FType.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace FSpace;

namespace {

using Str = FGStr<char>;
using WStr = FGStr<wchar_t>;

std::string text(Str const& s) {
    char const* p = s;
    return p == nullptr ? std::string() : std::string(p);
}

std::wstring text(WStr const& s) {
    wchar_t const* p = s;
    return p == nullptr ? std::wstring() : std::wstring(p);
}

/// Takes an array made by a static function and frees it.
std::string owned(char* p) {
    std::string result(p);
    Str::release(p);
    return result;
}

} // namespace

// --- Construction and the two empty forms ---

TEST(FGStrTest, DefaultStringIsTheNullFormOfEmpty) {
    Str s;
    EXPECT_TRUE(s.isEmpty());
    EXPECT_TRUE(!s);
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(static_cast<char const*>(s), nullptr);
    s.append("abc");
    EXPECT_EQ(text(s), "abc");
}

TEST(FGStrTest, ClearKeepsAnAllocatedEmptyText) {
    Str s("abc");
    s.clear();
    EXPECT_TRUE(s.isEmpty());
    EXPECT_NE(static_cast<char const*>(s), nullptr);
    EXPECT_TRUE(s == Str());
}

TEST(FGStrTest, CopiesOfEmptyTextAreTheNullForm) {
    Str cleared("x");
    cleared.clear();
    Str copy(cleared);
    EXPECT_EQ(static_cast<char const*>(copy), nullptr);
    EXPECT_EQ(static_cast<char const*>(Str(FStrToken<char>())), nullptr);
    EXPECT_EQ(static_cast<char const*>(Str("abc", 0)), nullptr);
    EXPECT_EQ(static_cast<char const*>(Str(nullptr, 3)), nullptr);
    EXPECT_EQ(text(Str("abcdef", 3)), "abc");
}

TEST(FGStrTest, AssigningItsOwnTextIsSafe) {
    Str s("hello");
    s = s(1, 3); // a view into its own array
    EXPECT_EQ(text(s), "ell");
    Str& alias = s;
    s = alias;
    EXPECT_EQ(text(s), "ell");
    s.append(s);
    EXPECT_EQ(text(s), "ellell");
}

TEST(FGStrTest, MovesAndSwapsExchangeOwnership) {
    Str a("a");
    Str b(std::move(a));
    EXPECT_EQ(static_cast<char const*>(a), nullptr);
    Str c("c");
    c.swap(b);
    EXPECT_EQ(text(c), "a");
    EXPECT_EQ(text(b), "c");
    b = std::move(c);
    EXPECT_EQ(text(b), "a");
}

TEST(FGStrTest, GetBufferGivesAZeroedWritableArray) {
    Str s("old");
    char* buffer = s.getBuffer(3);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[4], 0);
    buffer[0] = 'x';
    buffer[1] = 'y';
    buffer[2] = 'z';
    EXPECT_EQ(text(s), "xyz");
    EXPECT_EQ(s.getBuffer(0), buffer);
}

TEST(FGStrTest, AtCountsNegativeIndexesFromTheEndAndThrowsOutside) {
    Str s("abc");
    EXPECT_EQ(s.at(-1), 'c');
    EXPECT_EQ(s[0], 'a');
    s[1] = 'X';
    EXPECT_EQ(text(s), "aXc");
    for (long index : {3L, -4L, 100L}) {
        try {
            s.at(index);
            ADD_FAILURE() << "no exception for " << index;
        } catch (FException const& e) {
            EXPECT_STREQ(e.what(), "Index out of range");
        }
    }
    EXPECT_THROW(Str().at(0), FException);
}

// --- Number rendering ---

TEST(FGStrTest, IntegersRenderAsPlainDecimal) {
    struct Case {
        long long value;
        char const* expected;
    } const cases[] = {
        {-7, "-7"},
        {0, "0"},
        {42, "42"},
        {LLONG_MIN, "-9223372036854775808"},
        {LLONG_MAX, "9223372036854775807"},
    };
    for (auto const& c : cases) {
        Str s;
        s << c.value;
        EXPECT_EQ(text(s), c.expected);
    }
}

TEST(FGStrTest, MostNegativeValueOfEachWidthRendersInFull) {
    Str s;
    s << static_cast<signed char>(-128) << ' ' << static_cast<short>(SHRT_MIN) << ' ' << INT_MIN;
    EXPECT_EQ(text(s), "-128 -32768 -2147483648");
    Str u;
    u << static_cast<unsigned char>(255) << '|' << ULLONG_MAX;
    EXPECT_EQ(text(u), "255|18446744073709551615");
}

TEST(FGStrTest, EmptyWhenZeroFlagDropsTheZero) {
    Str s("[");
    s.appendValueOf(0, true).appendValueOf(false, true).appendValueOf(5, true).appendValueOf(0.0, true);
    s << "]";
    EXPECT_EQ(text(s), "[5]");
    EXPECT_EQ(owned(Str::valueOf(0.5, true)), ".5");
}

TEST(FGStrTest, BooleansRenderAsDigits) {
    Str s;
    s << true << false;
    EXPECT_EQ(text(s), "10");
}

TEST(FGStrTest, DoublesRenderByTheFractionDigitLoop) {
    struct Case {
        double value;
        char const* expected;
    } const cases[] = {
        {2.0, "2"},
        {0.5, "0.5"},
        {-1.5, "-1.5"},
        {-0.25, "-0.25"},
        {1.25, "1.25"},
        {0.1, "0.1"},
        {0.0, "0"},
        {3.14159, "3.14158999999999988261"}, // stops after 20 digits
        {1e20, "100000000000000000000"},
    };
    for (auto const& c : cases) {
        Str s;
        s << c.value;
        EXPECT_EQ(text(s), c.expected) << c.expected;
    }
}

TEST(FGStrTest, NonFiniteDoublesRenderAsWords) {
    EXPECT_EQ(owned(Str::valueOf(1.0 / 0.0, false)), "inf");
    EXPECT_EQ(owned(Str::valueOf(-1.0 / 0.0, false)), "-inf");
    EXPECT_EQ(owned(Str::valueOf(0.0 / 0.0, false)), "nan");
}

TEST(FGStrTest, FloatsAreWidenedFirst) {
    Str s;
    s << 0.5f << ' ' << 0.1f;
    EXPECT_EQ(text(s), "0.5 0.10000000149011611938");
}

TEST(FGStrTest, HexadecimalIsLowerCaseAndFixedWidth) {
    Str s;
    s.appendHexOf(static_cast<unsigned short>(0x1F));
    EXPECT_EQ(text(s), "001f");
    struct Case {
        Str rendered;
        char const* expected;
    };
    Case const cases[] = {
        {Str().appendHexOf(-1), "ffffffff"},
        {Str().appendHexOf(static_cast<unsigned char>(0xAB)), "ab"},
        {Str().appendHexOf(static_cast<signed char>(-2)), "fe"},
        {Str().appendHexOf(0x0123456789ABCDEFull), "0123456789abcdef"},
        {Str().appendHexOf(static_cast<short>(-1)), "ffff"},
        {Str().appendHexOf(0x10u), "00000010"},
    };
    for (auto const& c : cases) {
        EXPECT_EQ(text(c.rendered), c.expected);
    }
}

TEST(FGStrTest, MemoryBlocksRenderInMemoryOrder) {
    unsigned char const bytes[] = {0x12, 0x00, 0xFF};
    EXPECT_EQ(text(Str().appendHexOf(bytes, 3)), "1200ff");
    EXPECT_EQ(text(Str().appendHexOf(bytes, 0)), "");
    auto const* pointer = reinterpret_cast<unsigned char const*>(0x1234);
    Str s;
    s << pointer;
    EXPECT_EQ(text(s), "3412000000000000");
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(Str::hexOf(buffer, static_cast<unsigned char>(0x5A)), 2);
    EXPECT_EQ(std::string(buffer, 4), "5axx"); // no terminator written
}

// --- Parsing ---

TEST(FGStrTest, DecimalParsingWrapsAndStopsAtTheFirstNonDigit) {
    EXPECT_EQ(Str("-12x").toInt32(), -12);
    EXPECT_EQ(Str("+5").toInt32(), 0);
    EXPECT_EQ(Str(" 5").toInt32(), 0);
    EXPECT_EQ(Str("300").toUInt8(), 44);
    EXPECT_EQ(Str("-5").toUInt32(), 0u);
    EXPECT_EQ(Str("200").toInt8(), -56);
    EXPECT_EQ(Str("-32768").toInt16(), SHRT_MIN);
    EXPECT_EQ(Str("-9223372036854775808").toInt64(), LLONG_MIN);
    EXPECT_EQ(Str("18446744073709551615").toUInt64(), ULLONG_MAX);
    EXPECT_EQ(Str().toInt32(), 0);
    EXPECT_EQ(Str::toInt32("123", 2), 12);
    EXPECT_EQ(Str::toUInt16(nullptr), 0);
}

TEST(FGStrTest, FloatingParsingTakesDigitsAndPoints) {
    EXPECT_DOUBLE_EQ(Str("1.25").toDouble(), 1.25);
    EXPECT_DOUBLE_EQ(Str("-0.5").toDouble(), -0.5);
    EXPECT_DOUBLE_EQ(Str("12").toDouble(), 12.0);
    EXPECT_DOUBLE_EQ(Str("1.2.5").toDouble(), 1.7); // a second point restarts the fraction
    EXPECT_FLOAT_EQ(Str("2.5").toSingle(), 2.5f);
    EXPECT_DOUBLE_EQ(Str("").toDouble(), 0.0);
}

TEST(FGStrTest, HexParsingReadsFixedWidthsWithoutReadingPastTheText) {
    EXPECT_EQ(Str("00Ff").hexToUInt16(), 255);
    EXPECT_EQ(Str::hexToNibble('g'), 0);
    EXPECT_EQ(Str::hexToNibble('B'), 11);
    EXPECT_EQ(Str("ffffffff").hexToUInt32(), 0xFFFFFFFFu);
    EXPECT_EQ(Str("0123456789abcdefXX").hexToUInt64(), 0x0123456789ABCDEFull);
    EXPECT_EQ(Str("1g").hexToUInt8(), 0x10);
    // Shorter than the width: only the characters that are there count.
    EXPECT_EQ(Str("f").hexToUInt32(), 0xFu);
    EXPECT_EQ(Str::hexToUInt16(nullptr), 0);
    unsigned char bytes[4] = {};
    EXPECT_EQ(Str("0aFF1").hexTo(bytes, 4), 2);
    EXPECT_EQ(bytes[0], 0x0A);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(Str("01020304").hexTo(bytes, 3), 3);
    EXPECT_EQ(bytes[2], 3);
}

// --- Comparison and search ---

TEST(FGStrTest, ComparisonGivesLengthDifferencesAfterAnEqualPrefix) {
    struct Case {
        char const* a;
        char const* b;
        long expected;
    } const cases[] = {
        {"abc", "abcde", -2}, {"abcde", "a", 4}, {"abc", "abc", 0}, {"abd", "abc", 1},
        {"a", "b", -1},       {"", "xyz", -3},   {"\xE9", "a", -1}, // bytes above 0x7F sort first
    };
    for (auto const& c : cases) {
        EXPECT_EQ(Str(c.a).compare(c.b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(Str::compare(c.a, c.b), c.expected);
    }
    EXPECT_EQ(Str("ABC").compareIgnoreCase("abc"), 0);
    EXPECT_EQ(Str::compareIgnoreCase("ABCD", "abc"), 1);
    EXPECT_EQ(Str::compareRange("abcX", "abcY", 3), 0);
    EXPECT_EQ(Str::compareRange("ab", "abcY", 3), -1);
    EXPECT_TRUE(Str("abc") < Str("abd"));
    EXPECT_TRUE(Str("b") > "abc");
    EXPECT_TRUE(Str("abc") != "ab");
    EXPECT_TRUE(Str("abc").isLike("abc"));
    EXPECT_FALSE(Str("abc").isLike("ABC"));
}

TEST(FGStrTest, SearchUsesSignedPositions) {
    Str s("abcabc");
    EXPECT_EQ(s.indexOf('b'), 1);
    EXPECT_EQ(s.indexOf('b', 2), 4);
    EXPECT_EQ(s.indexOf('b', -2), 4);
    EXPECT_EQ(s.indexOf('b', 6), -1);
    EXPECT_EQ(s.indexOf("ca"), 2);
    EXPECT_EQ(s.indexOf(""), -1);
    EXPECT_EQ(s.lastIndexOf('a'), 3);
    EXPECT_EQ(s.lastIndexOf('a', 2), 0);
    EXPECT_EQ(s.lastIndexOf('c', 99), 5);
    EXPECT_EQ(s.lastIndexOf('a', -7), -1);
    EXPECT_EQ(s.lastIndexOf("abc"), 3);
    EXPECT_EQ(s.lastIndexOf("abc", 5), 0);
    EXPECT_EQ(s.lastIndexOf("abc", 6), 3);
    EXPECT_EQ(s.lastIndexOf("x"), -1);
    EXPECT_EQ(Str().indexOf('a'), -1);
    EXPECT_EQ(Str().lastIndexOf('a'), -1);
}

TEST(FGStrTest, CountsOccurrencesWithoutOverlap) {
    EXPECT_EQ(Str("aaaa").count("aa"), 2);
    EXPECT_EQ(Str("aaaa").count('a'), 4);
    EXPECT_EQ(Str("abc").count(""), 0);
}

TEST(FGStrTest, VerifyFindsTheFirstElementOutsideTheSet) {
    Str s("  x y");
    EXPECT_EQ(s.s_verify(' '), 2);
    EXPECT_EQ(s.s_verify(FStrToken<char>(" x")), 4);
    EXPECT_EQ(Str("aaa").s_verify('a'), -1);
    EXPECT_EQ(s.s_verify(FStrToken<char>("")), 0);
    EXPECT_EQ(s.s_verify(' ', 10), -1);
    EXPECT_EQ(Str::stripIndexOf("xxyz", 4, "yx", 2), 3);
}

TEST(FGStrTest, CharacterClassesAreAscii) {
    EXPECT_TRUE(Str("-1.5").isNumeric());
    EXPECT_TRUE(Str("").isNumeric());
    EXPECT_FALSE(Str("1e5").isNumeric());
    EXPECT_TRUE(Str("a1").isAlpha());
    EXPECT_FALSE(Str("1a").isAlpha());
    EXPECT_FALSE(Str("").isAlpha());
    EXPECT_FALSE(Str("\xE9").isAlpha());
    Str mixed("aZ\xC9-");
    mixed.toUpper();
    EXPECT_EQ(text(mixed), "AZ\xC9-");
    mixed.toLower();
    EXPECT_EQ(text(mixed), "az\xC9-");
}

// --- Editing ---

TEST(FGStrTest, SubstringsClampTheirRange) {
    Str s("hello");
    struct Case {
        long start;
        long count;
        char const* expected;
    } const cases[] = {{1, 3, "ell"}, {-2, -1, "lo"}, {-9, 2, "he"}, {3, 99, "lo"}, {7, 2, ""}, {0, 0, ""}};
    for (auto const& c : cases) {
        EXPECT_EQ(text(s.subString(c.start, c.count)), c.expected) << c.start << "," << c.count;
        EXPECT_TRUE(s(c.start, c.count) == c.expected);
    }
    EXPECT_EQ(text(s.left(2)), "he");
    EXPECT_EQ(text(s.left(0)), "");
    EXPECT_EQ(text(s.right(3)), "llo");
    EXPECT_EQ(text(s.right(10)), "hello");
}

TEST(FGStrTest, RemoveDeletesInPlace) {
    EXPECT_EQ(text(Str("abcdef").remove(1, 2)), "adef");
    EXPECT_EQ(text(Str("abcdef").remove(4)), "abcd");
    EXPECT_EQ(text(Str("abcdef").remove(-2, 1)), "abcdf");
    EXPECT_EQ(text(Str("abc").remove(5, 1)), "abc");
    EXPECT_EQ(text(Str().remove(0, 1)), "");
}

TEST(FGStrTest, ReplaceSubstitutesEveryOccurrenceLeftToRight) {
    struct Case {
        char const* text;
        char const* from;
        char const* to;
        long replaced;
        char const* expected;
    } const cases[] = {
        {"aaaa", "aa", "b", 2, "bb"},
        {"aaa", "aa", "b", 1, "ba"},
        {"a.b.c", ".", "::", 2, "a::b::c"},
        {"abc", "x", "y", 0, "abc"},
        {"abc", "", "y", 0, "abc"},
        {"abcabc", "abc", "", 2, ""},
        {"path/to/x", "/", "\\", 2, "path\\to\\x"},
    };
    for (auto const& c : cases) {
        Str s(c.text);
        EXPECT_EQ(s.replace(FStrToken<char>(c.from), FStrToken<char>(c.to)), c.replaced) << c.text;
        EXPECT_EQ(text(s), c.expected);
    }
    Str chars("a-b-c");
    EXPECT_EQ(chars.replace('-', '+'), 2);
    EXPECT_EQ(text(chars), "a+b+c");
    long replaced = 0;
    EXPECT_EQ(owned(Str::replace("xxxx", 4, "x", 1, "yz", 2, 3, replaced)), "yzyzyzx");
    EXPECT_EQ(replaced, 3);
}

TEST(FGStrTest, ReplaceMayUseViewsOfItsOwnText) {
    Str s("abab");
    EXPECT_EQ(s.replace(s(0, 1), s(1, 1)), 2);
    EXPECT_EQ(text(s), "bbbb");
}

TEST(FGStrTest, TrimmingReturnsTheNumberRemoved) {
    struct Case {
        char const* text;
        long (Str::*trim)();
        long removed;
        char const* expected;
    } const cases[] = {
        {"\t x", &Str::lTrim, 2, "x"},
        {"x \r\n", &Str::rTrim, 3, "x"},
        {"  x  ", &Str::trim, 4, "x"},
        {"   ", &Str::trim, 3, ""},
        {"x", &Str::trim, 0, "x"},
        {"", &Str::lTrim, 0, ""},
        {"\xC3\xA9 ", &Str::trim, 1, "\xC3\xA9"}, // UTF-8 bytes are not blanks
    };
    for (auto const& c : cases) {
        Str s(c.text);
        EXPECT_EQ((s.*c.trim)(), c.removed) << '"' << c.text << '"';
        EXPECT_EQ(text(s), c.expected);
    }
    Str nothing;
    EXPECT_EQ(nothing.trim(), 0);
}

TEST(FGStrTest, SplitKeepsEmptyPiecesAndHonoursTheMaximum) {
    struct Case {
        char const* text;
        char const* sep;
        long max;
        std::vector<std::string> expected;
    } const cases[] = {
        {"a,,b,", ",", 0, {"a", "", "b", ""}},
        {"a,b,c", ",", 2, {"a", "b,c"}},
        {",a", ",", 0, {"", "a"}},
        {"abc", ",", 0, {"abc"}},
        {"", ",", 0, {""}},
        {"abc", "", 0, {"abc"}},
        {"a::b::c", "::", 0, {"a", "b", "c"}},
        {"a,b,c", ",", 1, {"a,b,c"}},
        {"a,b", ",", 5, {"a", "b"}},
    };
    for (auto const& c : cases) {
        auto const pieces = Str(c.text).split(FStrToken<char>(c.sep), c.max);
        ASSERT_EQ(pieces.Count(), static_cast<long>(c.expected.size())) << '"' << c.text << '"';
        for (long i = 0; i < pieces.Count(); ++i) {
            EXPECT_EQ(text(pieces[i]), c.expected[i]) << '"' << c.text << "\" piece " << i;
        }
    }
    auto const byChar = Str("x y").split(' ');
    ASSERT_EQ(byChar.Count(), 2);
    EXPECT_EQ(text(byChar[1]), "y");
}

TEST(FGStrTest, ReverseAndJoin) {
    EXPECT_EQ(text(Str("abc").reverse()), "cba");
    char const* parts[] = {"a", nullptr, "bc", "d"};
    EXPECT_EQ(text(Str("old").join(parts, 4)), "abcd");
    char const* listed[] = {"x", "y", nullptr};
    EXPECT_EQ(text(Str().join(listed)), "xy");
    EXPECT_EQ(static_cast<char const*>(Str("old").join(parts, 0)), nullptr);
}

TEST(FGStrTest, ConcatenationMakesANewString) {
    Str const a("ab");
    Str const b = a + FStrToken<char>("cd");
    EXPECT_EQ(text(a), "ab");
    EXPECT_EQ(text(b), "abcd");
    EXPECT_EQ(text(a.concat(Str())), "ab");
    Str s;
    s += "x";
    s += Str("y");
    EXPECT_EQ(text(s), "xy");
}

// --- Raw arrays ---

TEST(FGStrTest, RawCopiesStayInsideTheirCapacity) {
    char buffer[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(Str::copyTo(buffer, 4, "abcdef"), 3);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(Str::copyTo(buffer, 4, "abcdef", 2), 2);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(Str::copyTo(buffer, 4, nullptr), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(Str::copyToRev(buffer, 4, "abc", 3), 3);
    EXPECT_STREQ(buffer, "cba");
    char room[6] = "ab";
    EXPECT_EQ(Str::concatTo(room, 6, "cdefg"), 3);
    EXPECT_STREQ(room, "abcde");
    EXPECT_EQ(Str::concatTo(room, 6, "x"), 0);
    char joined[8] = "";
    char const* parts[] = {"ab", "cd", "efgh"};
    EXPECT_EQ(Str::joinTo(joined, 8, parts, 3), 7);
    EXPECT_STREQ(joined, "abcdefg");
}

TEST(FGStrTest, RawArraysFromStaticFunctions) {
    EXPECT_EQ(owned(Str::concat("ab", "cd")), "abcd");
    EXPECT_EQ(owned(Str::concat(nullptr, "cd")), "cd");
    EXPECT_EQ(owned(Str::copy("abc", 2)), "ab");
    EXPECT_EQ(owned(Str::copy(nullptr)), "");
    EXPECT_EQ(owned(Str::create(3, 'z')), "zzz");
    EXPECT_EQ(owned(Str::create(3)), "");
    char const* parts[] = {"a", "b"};
    EXPECT_EQ(owned(Str::joinFrom(parts, 2)), "ab");
    EXPECT_EQ(Str::length(nullptr), 0);
    EXPECT_TRUE(Str::isEmpty(""));
    EXPECT_EQ(Str::digitOf(13), '3');
    char s[] = "abcdef";
    EXPECT_EQ(Str::removeSubString(s, 1, 2), 2);
    EXPECT_STREQ(s, "adef");
    EXPECT_EQ(Str::charAt("abc", -1), 'c');
    EXPECT_THROW(Str::charAt(nullptr, 0), FException);
}

TEST(FGStrTest, ByteBlocksCopyExactly) {
    unsigned char const bytes[] = {0, 1, 0xFF};
    unsigned char* copy = FGStr<unsigned char>::copy(bytes, 3);
    EXPECT_EQ(copy[0], 0);
    EXPECT_EQ(copy[2], 0xFF);
    FGStr<unsigned char>::release(copy);
}

// --- Conversions between char and wchar_t ---

TEST(FGStrTest, WideningZeroExtendsAndNarrowingKeepsTheLowByte) {
    WStr wide;
    wide << "\xE9"
         << "A";
    EXPECT_EQ(wide.length(), 2);
    EXPECT_EQ(wide[0], L'\u00E9');
    EXPECT_EQ(wide[1], L'A');

    Str narrow;
    narrow << L"\u20AC" << L"\u00FF" << L"b";
    ASSERT_EQ(narrow.length(), 3);
    EXPECT_EQ(static_cast<unsigned char>(narrow[0]), 0xAC);
    EXPECT_EQ(static_cast<unsigned char>(narrow[1]), 0xFF);
    EXPECT_EQ(narrow[2], 'b');

    Str counted;
    counted.appendValueOf(L"xyz", 2);
    EXPECT_EQ(text(counted), "xy");
}

TEST(FGStrTest, WideStringsBehaveLikeNarrowOnes) {
    WStr s(L"a,b");
    s << 12 << L'|' << -0.25;
    EXPECT_EQ(text(s), L"a,b12|-0.25");
    auto const pieces = s.split(L',');
    ASSERT_EQ(pieces.Count(), 2);
    EXPECT_EQ(text(pieces[1]), L"b12|-0.25");
    EXPECT_EQ(WStr(L"abc").compare(L"abcde"), -2);
    EXPECT_EQ(WStr(L"300").toUInt8(), 44);
    EXPECT_EQ(text(WStr().appendHexOf(-1)), L"ffffffff");
    EXPECT_EQ(WStr::CRLF[0], L'\r');
    EXPECT_EQ(WStr::CRLF[1], L'\n');
    EXPECT_STREQ(WStr::BOMLE, "\xFF\xFE");
    EXPECT_STREQ(WStr::BOMBE, "\xFE\xFF");
    EXPECT_STREQ(Str::BOMLE, "\xEF\xBB\xBF");
    EXPECT_STREQ(Str::NewLine, "\n");
}
