#include "FoundationTestSupport.h"

using namespace FSpace;
using namespace foundation_test;

namespace {

using Str = FGStr<char>;
using WStr = FGStr<wchar_t>;

auto const raw = [](Str const& s) -> char const* { return s; };
/// The text that streaming a value into an empty string gives.
auto const rendered = [](auto const& value) { return text(Str() << value); };

/// Takes an array made by a static function and frees it.
std::string owned(char* p) {
    std::string result(p);
    Str::release(p);
    return result;
}

} // namespace

TEST(FGStrTest, EmptyTextHasANullFormAndAnAllocatedOne) {
    Str s;
    EXPECT_TRUE(s.isEmpty() && !s && s.length() == 0 && raw(s) == nullptr);
    EXPECT_EQ(text(s.append("abc")), "abc");
    s.clear(); // keeps the array
    EXPECT_TRUE(s.isEmpty() && s == Str() && raw(s) != nullptr);
    // Copies of empty text, and empty sources, give the null form.
    for (Str const& empty : {Str(s), Str(FStrToken<char>()), Str("abc", 0), Str(nullptr, 3)})
        EXPECT_EQ(raw(empty), nullptr);
    EXPECT_EQ(text(Str("abcdef", 3)), "abc");
}

TEST(FGStrTest, OwnTextAsSourceIsSafeAndMovesAndSwapsExchangeArrays) {
    Str s("hello"), r("abab");
    Str& alias = s;
    // Rows are evaluated in order; s(1, 3) is a view into the string's own array.
    EXPECT_ROWS(std::string, {text(s = s(1, 3)), "ell"}, {text(s = alias), "ell"},
                {text(s.append(s)), "ellell"}, {std::to_string(r.replace(r(0, 1), r(1, 1))), "2"},
                {text(r), "bbbb"});
    Str moved(std::move(r));
    moved.swap(s);
    EXPECT_TRUE(raw(r) == nullptr && text(moved) + text(s) == "ellellbbbb");
}

TEST(FGStrTest, GetBufferGivesAZeroedWritableArray) {
    Str s("old");
    char* buffer = s.getBuffer(3);
    EXPECT_TRUE(buffer[0] == 0 && buffer[4] == 0);
    std::memcpy(buffer, "xyz", 3);
    EXPECT_TRUE(text(s) == "xyz" && s.getBuffer(0) == buffer);
}

TEST(FGStrTest, AtCountsNegativeIndexesFromTheEndAndThrowsOutside) {
    Str s("abc");
    s[1] = 'X';
    EXPECT_ROWS(std::string, {std::string{s.at(-1), s[0]}, "ca"}, {text(s), "aXc"});
    EXPECT_ROWS(std::string, {thrownBy([&] { s.at(3); }).what(), "Index out of range"},
                {thrownBy([&] { s.at(-4); }).what(), "Index out of range"},
                {thrownBy([] { Str().at(0); }).what(), "Index out of range"});
}

TEST(FGStrTest, NumbersRenderAsPlainDecimal) {
    // Doubles go through the fraction digit loop, which stops after 20 digits;
    // floats are widened first; the most negative value of each width is whole.
    EXPECT_ROWS(std::string, {rendered(-7LL), "-7"}, {rendered(0LL), "0"},
                {rendered(LLONG_MIN), "-9223372036854775808"}, {rendered(LLONG_MAX), "9223372036854775807"},
                {rendered(int8_t{-128}), "-128"}, {rendered(INT_MIN), "-2147483648"},
                {rendered(ULLONG_MAX), "18446744073709551615"},
                {text(Str() << uint8_t{255} << '|' << true << false), "255|10"}, {rendered(2.0), "2"},
                {rendered(-1.5), "-1.5"}, {rendered(0.1), "0.1"}, {rendered(0.0), "0"},
                {rendered(3.14159), "3.14158999999999988261"}, {rendered(1e20), "100000000000000000000"},
                {text(Str() << 0.5f << ' ' << 0.1f), "0.5 0.10000000149011611938"},
                {owned(Str::valueOf(1.0 / 0.0, false)), "inf"},
                {owned(Str::valueOf(-1.0 / 0.0, false)), "-inf"},
                {owned(Str::valueOf(0.0 / 0.0, false)), "nan"});
    // The empty-when-zero flag drops zeros.
    Str s("[");
    s.appendValueOf(0, true).appendValueOf(false, true).appendValueOf(5, true).appendValueOf(0.0, true);
    EXPECT_EQ(text(s) + owned(Str::valueOf(0.5, true)), "[5.5");
}

TEST(FGStrTest, HexadecimalIsLowerCaseFixedWidthAndInMemoryOrder) {
    auto hex = [](auto value) { return text(Str().appendHexOf(value)); };
    unsigned char const bytes[] = {0x12, 0x00, 0xFF};
    EXPECT_ROWS(std::string, {hex(uint16_t{0x1F}), "001f"}, {hex(-1), "ffffffff"}, {hex(uint8_t{0xAB}), "ab"},
                {hex(int8_t{-2}), "fe"}, {hex(0x0123456789ABCDEFull), "0123456789abcdef"},
                {hex(0x10u), "00000010"}, {text(Str().appendHexOf(bytes, 3)), "1200ff"},
                {text(Str().appendHexOf(bytes, 0)), ""},
                {rendered(reinterpret_cast<unsigned char const*>(0x1234)), "3412000000000000"});
    char buffer[4] = {'x', 'x', 'x', 'x'};
    long const written = Str::hexOf(buffer, uint8_t{0x5A});
    EXPECT_EQ(std::to_string(written) + std::string(buffer, 4), "25axx"); // no terminator written
}

TEST(FGStrTest, ParsingWrapsAndStopsAtTheFirstCharacterThatDoesNotFit) {
    EXPECT_ROWS(long long, {Str("-12x").toInt32(), -12}, {Str("+5").toInt32(), 0}, {Str(" 5").toInt32(), 0},
                {Str("300").toUInt8(), 44}, {Str("-5").toUInt32(), 0}, {Str("200").toInt8(), -56},
                {Str("-9223372036854775808").toInt64(), LLONG_MIN}, {Str().toInt32(), 0},
                {Str::toInt32("123", 2), 12}, {Str::toUInt16(nullptr), 0});
    EXPECT_EQ(Str("18446744073709551615").toUInt64(), ULLONG_MAX);
    // A second point restarts the fraction: "1.2.5" is 1 + 0.2 + 0.5.
    EXPECT_ROWS(double, {Str("1.25").toDouble(), 1.25}, {Str("-0.5").toDouble(), -0.5},
                {Str("12").toDouble(), 12.0}, {Str("1.2.5").toDouble(), 1.7}, {Str("2.5").toSingle(), 2.5},
                {Str("").toDouble(), 0.0});
}

TEST(FGStrTest, HexParsingReadsFixedWidthsWithoutReadingPastTheText) {
    // A text shorter than the width gives the value of the digits it has.
    EXPECT_ROWS(unsigned long long, {Str("00Ff").hexToUInt16(), 255}, {Str::hexToNibble('g'), 0},
                {Str::hexToNibble('B'), 11}, {Str("ffffffff").hexToUInt32(), 0xFFFFFFFFu},
                {Str("0123456789abcdefXX").hexToUInt64(), 0x0123456789ABCDEFull},
                {Str("1g").hexToUInt8(), 0x10}, {Str("f").hexToUInt32(), 0xF},
                {Str::hexToUInt16(nullptr), 0});
    unsigned char bytes[4] = {};
    EXPECT_ROWS(long, {Str("0aFF1").hexTo(bytes, 4), 2}, {bytes[0] + 256 * bytes[1], 0xFF0A},
                {Str("01020304").hexTo(bytes, 3), 3}, {bytes[2] + 256 * bytes[3], 3});
}

TEST(FGStrTest, ComparisonGivesLengthDifferencesAfterAnEqualPrefix) {
    // "member/static" results. Bytes above 0x7F are negative, so they sort first.
    auto both = [](char const* a, char const* b) {
        return std::to_string(Str(a).compare(b)) + "/" + std::to_string(Str::compare(a, b));
    };
    EXPECT_ROWS(std::string, {both("abc", "abcde"), "-2/-2"}, {both("abcde", "a"), "4/4"},
                {both("abc", "abc"), "0/0"}, {both("abd", "abc"), "1/1"}, {both("a", "b"), "-1/-1"},
                {both("", "xyz"), "-3/-3"}, {both("\xE9", "a"), "-1/-1"});
    EXPECT_ROWS(long, {Str("ABC").compareIgnoreCase("abc"), 0}, {Str::compareIgnoreCase("ABCD", "abc"), 1},
                {Str::compareRange("abcX", "abcY", 3), 0}, {Str::compareRange("ab", "abcY", 3), -1});
    EXPECT_ROWS(bool, {Str("abc") < Str("abd"), true}, {Str("b") > "abc", true}, {Str("abc") != "ab", true},
                {Str("abc").isLike("abc"), true}, {Str("abc").isLike("ABC"), false});
}

TEST(FGStrTest, SearchCountAndVerifyUseSignedPositions) {
    Str const s("abcabc");
    EXPECT_ROWS(long, {s.indexOf('b'), 1}, {s.indexOf('b', 2), 4}, {s.indexOf('b', -2), 4},
                {s.indexOf('b', 6), -1}, {s.indexOf("ca"), 2}, {s.indexOf(""), -1}, {s.lastIndexOf('a'), 3},
                {s.lastIndexOf('a', 2), 0}, {s.lastIndexOf('c', 99), 5}, {s.lastIndexOf('a', -7), -1},
                {s.lastIndexOf("abc"), 3}, {s.lastIndexOf("abc", 5), 0}, {s.lastIndexOf("abc", 6), 3},
                {s.lastIndexOf("x"), -1}, {Str().indexOf('a'), -1}, {Str().lastIndexOf('a'), -1});
    // Occurrences are counted without overlap.
    EXPECT_ROWS(long, {Str("aaaa").count("aa"), 2}, {Str("aaaa").count('a'), 4}, {Str("abc").count(""), 0});
    // s_verify finds the first element outside the set.
    Str const blanks("  x y");
    EXPECT_ROWS(long, {blanks.s_verify(' '), 2}, {blanks.s_verify(FStrToken<char>(" x")), 4},
                {Str("aaa").s_verify('a'), -1}, {blanks.s_verify(FStrToken<char>("")), 0},
                {blanks.s_verify(' ', 10), -1}, {Str::stripIndexOf("xxyz", 4, "yx", 2), 3});
}

TEST(FGStrTest, CharacterClassesAndCaseMappingAreAscii) {
    EXPECT_ROWS(bool, {Str("-1.5").isNumeric(), true}, {Str("").isNumeric(), true},
                {Str("1e5").isNumeric(), false}, {Str("a1").isAlpha(), true}, {Str("1a").isAlpha(), false},
                {Str("").isAlpha(), false}, {Str("\xE9").isAlpha(), false});
    Str mixed("aZ\xC9-");
    EXPECT_EQ(text(mixed.toUpper()) + text(mixed.toLower()), "AZ\xC9-az\xC9-");
}

TEST(FGStrTest, SubstringsClampTheirRangeAndRemoveDeletesInPlace) {
    Str const s("hello");
    std::tuple<long, long, char const*> const cases[] = {{1, 3, "ell"}, {-2, -1, "lo"}, {-9, 2, "he"},
                                                         {3, 99, "lo"}, {7, 2, ""},     {0, 0, ""}};
    for (auto const& [start, count, expected] : cases)
        EXPECT_TRUE(text(s.subString(start, count)) == expected && s(start, count) == expected)
            << start << "," << count;
    EXPECT_ROWS(std::string, {text(s.left(2)), "he"}, {text(s.left(0)), ""}, {text(s.right(3)), "llo"},
                {text(s.right(10)), "hello"}, {text(Str("abcdef").remove(1, 2)), "adef"},
                {text(Str("abcdef").remove(4)), "abcd"}, {text(Str("abcdef").remove(-2, 1)), "abcdf"},
                {text(Str("abc").remove(5, 1)), "abc"}, {text(Str().remove(0, 1)), ""});
}

TEST(FGStrTest, ReplaceSubstitutesEveryOccurrenceLeftToRight) {
    // "count:text" after replacing \p from by \p to in \p source.
    auto replaced = [](char const* source, auto from, auto to) {
        Str s(source);
        long const count = s.replace(from, to);
        return std::to_string(count) + ":" + text(s);
    };
    using T = FStrToken<char>;
    long count = 0;
    std::string const made = owned(Str::replace("xxxx", 4, "x", 1, "yz", 2, 3, count));
    EXPECT_ROWS(std::string, {replaced("aaaa", T("aa"), T("b")), "2:bb"},
                {replaced("aaa", T("aa"), T("b")), "1:ba"}, {replaced("a.b.c", T("."), T("::")), "2:a::b::c"},
                {replaced("abc", T("x"), T("y")), "0:abc"}, {replaced("abc", T(""), T("y")), "0:abc"},
                {replaced("abcabc", T("abc"), T("")), "2:"}, {replaced("a-b-c", '-', '+'), "2:a+b+c"},
                {std::to_string(count) + ":" + made, "3:yzyzyzx"});
}

TEST(FGStrTest, TrimmingReturnsTheNumberRemoved) {
    // UTF-8 bytes are not blanks.
    auto trimmed = [](char const* source, long (Str::*trim)()) {
        Str s(source);
        long const removed = (s.*trim)();
        return std::to_string(removed) + ":" + text(s);
    };
    EXPECT_ROWS(std::string, {trimmed("\t x", &Str::lTrim), "2:x"}, {trimmed("x \r\n", &Str::rTrim), "3:x"},
                {trimmed("  x  ", &Str::trim), "4:x"}, {trimmed("   ", &Str::trim), "3:"},
                {trimmed("x", &Str::trim), "0:x"}, {trimmed("", &Str::lTrim), "0:"},
                {trimmed("\xC3\xA9 ", &Str::trim), "1:\xC3\xA9"}, {trimmed(nullptr, &Str::trim), "0:"});
}

TEST(FGStrTest, SplitKeepsEmptyPiecesAndHonoursTheMaximum) {
    // The pieces joined by '|'.
    auto split = [](char const* source, auto sep, long max = 0) {
        auto const pieces = Str(source).split(sep, max);
        std::string got;
        for (long i = 0; i < pieces.Count(); ++i)
            got += (i > 0 ? "|" : "") + text(pieces[i]);
        return std::to_string(pieces.Count()) + ":" + got;
    };
    using T = FStrToken<char>;
    EXPECT_ROWS(std::string, {split("a,,b,", T(",")), "4:a||b|"}, {split("a,b,c", T(","), 2), "2:a|b,c"},
                {split(",a", T(",")), "2:|a"}, {split("abc", T(",")), "1:abc"}, {split("", T(",")), "1:"},
                {split("abc", T("")), "1:abc"}, {split("a::b::c", T("::")), "3:a|b|c"},
                {split("a,b,c", T(","), 1), "1:a,b,c"}, {split("a,b", T(","), 5), "2:a|b"},
                {split("x y", ' '), "2:x|y"});
}

TEST(FGStrTest, ReverseJoinAndConcatenation) {
    char const* parts[] = {"a", nullptr, "bc", "d"};
    char const* listed[] = {"x", "y", nullptr};
    Str const a("ab");
    Str s;
    s += "x";
    s += Str("y");
    // Concatenation makes a new string and leaves its operand alone.
    EXPECT_ROWS(std::string, {text(Str("abc").reverse()), "cba"}, {text(Str("old").join(parts, 4)), "abcd"},
                {text(Str().join(listed)), "xy"}, {text(a + FStrToken<char>("cd")), "abcd"}, {text(a), "ab"},
                {text(a.concat(Str())), "ab"}, {text(s), "xy"});
    EXPECT_EQ(raw(Str("old").join(parts, 0)), nullptr);
}

TEST(FGStrTest, StaticFunctionsMakeNewArraysAndRawCopiesStayInsideTheirCapacity) {
    // "count:text" after each raw copy.
    auto after = [](long count, char const* buffer) { return std::to_string(count) + ":" + buffer; };
    char buffer[4] = {'#', '#', '#', '#'};
    char room[6] = "ab";
    char joined[8] = "";
    char const* parts[] = {"ab", "cd", "efgh"};
    char s[] = "abcdef";
    // Rows are evaluated in order, each after the call before it.
    EXPECT_ROWS(std::string, {after(Str::copyTo(buffer, 4, "abcdef"), buffer), "3:abc"},
                {after(Str::copyTo(buffer, 4, "abcdef", 2), buffer), "2:ab"},
                {after(Str::copyTo(buffer, 4, nullptr), buffer), "0:"},
                {after(Str::copyToRev(buffer, 4, "abc", 3), buffer), "3:cba"},
                {after(Str::concatTo(room, 6, "cdefg"), room), "3:abcde"},
                {after(Str::concatTo(room, 6, "x"), room), "0:abcde"},
                {after(Str::joinTo(joined, 8, parts, 3), joined), "7:abcdefg"},
                {after(Str::removeSubString(s, 1, 2), s), "2:adef"});
    char const* pair[] = {"a", "b"};
    unsigned char const bytes[] = {0, 1, 0xFF};
    unsigned char* copy = FGStr<unsigned char>::copy(bytes, 3);
    EXPECT_EQ(std::memcmp(copy, bytes, 3), 0);
    FGStr<unsigned char>::release(copy);
    EXPECT_ROWS(std::string, {owned(Str::concat("ab", "cd")), "abcd"},
                {owned(Str::concat(nullptr, "cd")), "cd"}, {owned(Str::copy("abc", 2)), "ab"},
                {owned(Str::copy(nullptr)), ""}, {owned(Str::create(3, 'z')), "zzz"},
                {owned(Str::create(3)), ""}, {owned(Str::joinFrom(pair, 2)), "ab"});
    EXPECT_ROWS(long, {Str::length(nullptr), 0}, {Str::digitOf(13), '3'}, {Str::charAt("abc", -1), 'c'});
    EXPECT_STREQ(thrownBy([] { Str::charAt(nullptr, 0); }).what(), "Index out of range");
}

TEST(FGStrTest, WideStringsBehaveLikeNarrowOnesWideningZeroExtendsAndNarrowingKeepsTheLowByte) {
    EXPECT_ROWS(std::string, {text(Str() << L"\u20AC" << L"\u00FFz"), "\xAC\xFFz"},
                {text(Str().appendValueOf(L"xyz", 2)), "xy"});
    WStr s(L"a,b");
    s << 12 << L'|' << -0.25;
    auto const pieces = s.split(L',');
    ASSERT_EQ(pieces.Count(), 2);
    EXPECT_ROWS(std::wstring, {text(WStr() << "\xE9z"), L"\u00E9z"}, {text(s), L"a,b12|-0.25"},
                {text(pieces[1]), L"b12|-0.25"}, {text(WStr().appendHexOf(-1)), L"ffffffff"},
                {WStr::CRLF, L"\r\n"});
    EXPECT_ROWS(long, {WStr(L"abc").compare(L"abcde"), -2}, {WStr(L"300").toUInt8(), 44});
    // The byte-order marks are bytes in both forms.
    EXPECT_ROWS(std::string, {WStr::BOMLE, "\xFF\xFE"}, {WStr::BOMBE, "\xFE\xFF"},
                {Str::BOMLE, "\xEF\xBB\xBF"}, {Str::NewLine, "\n"});
}
