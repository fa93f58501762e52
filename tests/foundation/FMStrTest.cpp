#include "FType.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace FSpace;

namespace {

using MStr = FMStr<char>;

std::string text(MStr const& s) {
    char const* p = s;
    return p == nullptr ? std::string() : std::string(p, static_cast<std::size_t>(s.Length()));
}

/// The stored length must match the terminator, and the terminator must fit.
void expectConsistent(MStr const& s) {
    EXPECT_LT(s.Length(), s.Capacity() == 0 ? 1 : s.Capacity());
    if (static_cast<char const*>(s) != nullptr) {
        EXPECT_EQ(FGStr<char>::length(s), s.Length());
    }
}

} // namespace

TEST(FMStrTest, AppendingOneCharacterAtATimeGrowsByHalfTheCapacity) {
    MStr s;
    EXPECT_EQ(s.Capacity(), 0);
    EXPECT_EQ(static_cast<char const*>(s), nullptr);
    std::vector<long> capacities;
    for (int i = 0; i < 10; ++i) {
        s << 'a';
        if (capacities.empty() || capacities.back() != s.Capacity()) {
            capacities.push_back(s.Capacity());
        }
        expectConsistent(s);
    }
    EXPECT_EQ(capacities, (std::vector<long>{2, 5, 9, 15}));
    EXPECT_EQ(text(s), "aaaaaaaaaa");
    EXPECT_EQ(s.Length(), 10);
}

TEST(FMStrTest, CopiesAllocateExactlyTheText) {
    MStr const source("abc");
    EXPECT_EQ(source.Capacity(), 4);
    MStr copy(source);
    EXPECT_EQ(copy.Capacity(), 4);
    EXPECT_EQ(text(copy), "abc");
    EXPECT_EQ(MStr("abcdef", 2).Capacity(), 3);
    EXPECT_EQ(MStr(10L).Capacity(), 11);
    EXPECT_EQ(MStr(10L).Length(), 0);
    EXPECT_EQ(MStr(-5L).Capacity(), 1);
    EXPECT_EQ(static_cast<char const*>(MStr(static_cast<char const*>(nullptr))), nullptr);
}

TEST(FMStrTest, AssignmentReplacesTheContent) {
    MStr s("long text here");
    s = "ab";
    EXPECT_EQ(text(s), "ab");
    expectConsistent(s);
    MStr& alias = s;
    s = alias;
    EXPECT_EQ(text(s), "ab");
    s = FGStr<char>("from plain");
    EXPECT_EQ(text(s), "from plain");
    s.assign("xyz", 2);
    EXPECT_EQ(text(s), "xy");
    MStr moved(std::move(s));
    EXPECT_EQ(text(moved), "xy");
    EXPECT_EQ(s.Capacity(), 0);
}

TEST(FMStrTest, OwnCharactersCanBeAppendedWhileGrowing) {
    MStr s("abc");
    s.append(FStrToken<char>(s));
    EXPECT_EQ(text(s), "abcabc");
    s.assign(s(1, 2));
    EXPECT_EQ(text(s), "bc");
    s.insert(s, 0);
    EXPECT_EQ(text(s), "bcbc");
    s.append(s[0], 3);
    EXPECT_EQ(text(s), "bcbcbbb");
    expectConsistent(s);
}

TEST(FMStrTest, AtCountsFromTheEndAndThrowsWithCodeOne) {
    MStr s("abc");
    EXPECT_EQ(s.at(-1), 'c');
    try {
        s.at(-4);
        ADD_FAILURE() << "no exception";
    } catch (FException const& e) {
        EXPECT_EQ(e.code(), 1u);
        EXPECT_STREQ(e.what(), "Index out of range");
    }
    EXPECT_THROW(s.at(3), FException);
    EXPECT_THROW(MStr().at(0), FException);
}

TEST(FMStrTest, GetBufferSetsLengthAndCapacity) {
    MStr s("anything");
    char* buffer = s.getBuffer(4);
    EXPECT_EQ(s.Length(), 4);
    EXPECT_EQ(s.Capacity(), 5);
    EXPECT_EQ(buffer[5], 0);
    EXPECT_EQ(s.getBuffer(0), buffer);
}

TEST(FMStrTest, AppendValueOfPadsWithZerosInFrontOfTheWholeText) {
    struct Case {
        MStr rendered;
        char const* expected;
    };
    Case const cases[] = {
        {MStr().appendValueOf(static_cast<unsigned short>(7), 2), "07"},
        {MStr().appendValueOf(static_cast<unsigned short>(123), 2), "123"},
        {MStr().appendValueOf(-5, 4), "00-5"},
        {MStr().appendValueOf(0, 3, true), "000"},
        {MStr().appendValueOf(0, 0, true), ""},
        {MStr().appendValueOf(9LL, -3), "9"},
        {MStr("x").appendValueOf(static_cast<unsigned char>(5), 3), "x005"},
    };
    for (auto const& c : cases) {
        EXPECT_EQ(text(c.rendered), c.expected);
        expectConsistent(c.rendered);
    }
}

TEST(FMStrTest, StreamingRendersLikeThePlainString) {
    MStr s;
    s << "n=" << -7 << ' ' << 0 << ' ' << 2.0 << ' ' << 0.5 << ' ' << -0.25 << ' ' << true << ' ' << L"w";
    EXPECT_EQ(text(s), "n=-7 0 2 0.5 -0.25 1 w");
    MStr pi;
    pi << 3.14159;
    EXPECT_EQ(text(pi), "3.14158999999999988261");
}

TEST(FMStrTest, HexadecimalIsWrittenInPlace) {
    MStr s;
    s.appendHexOf(static_cast<unsigned short>(0x1F))
        .appendHexOf(-1)
        .appendHexOf(static_cast<unsigned char>(0xA));
    EXPECT_EQ(text(s), "001fffffffff0a");
    expectConsistent(s);
    unsigned char const bytes[] = {0xDE, 0xAD};
    EXPECT_EQ(text(MStr().appendHexOf(bytes, 2)), "dead");
    EXPECT_EQ(text(MStr().appendHexOf(0xFEDCBA9876543210ull)), "fedcba9876543210");
}

TEST(FMStrTest, ThirtyTwoBitHexGrowsByItsOwnRule) {
    MStr s;
    s.appendHexOf(1u);
    EXPECT_EQ(s.Capacity(), 17);
    EXPECT_EQ(text(s), "00000001");
    s.appendHexOf(2u);
    EXPECT_EQ(s.Capacity(), 17 + 8 + 17);
    expectConsistent(s);
}

TEST(FMStrTest, InsertAtLengthMinusOneAppends) {
    struct Case {
        long position;
        char const* expected;
    } const cases[] = {{0, "Xabc"},  {1, "aXbc"},  {2, "abcX"}, {-1, "abcX"},
                       {-2, "aXbc"}, {-9, "Xabc"}, {7, "abcX"}};
    for (auto const& c : cases) {
        MStr s("abc");
        s.insert("X", 1, c.position);
        EXPECT_EQ(text(s), c.expected) << "position " << c.position;
        expectConsistent(s);
    }
    MStr empty;
    empty.insert(FStrToken<char>("ab"), -1);
    EXPECT_EQ(text(empty), "ab");
}

TEST(FMStrTest, FillPadsAndReportsTheCount) {
    MStr number("42");
    EXPECT_EQ(number.lFill('0', 5), 3);
    EXPECT_EQ(text(number), "00042");
    MStr word("abcd");
    EXPECT_EQ(word.rFill(' ', 3), 0);
    EXPECT_EQ(text(word), "abcd");
    EXPECT_EQ(word.rFill('.', 6), 2);
    EXPECT_EQ(text(word), "abcd..");
    MStr middle("ad");
    EXPECT_EQ(middle.fill('-', 4, 1), 2);
    EXPECT_EQ(text(middle), "a--d");
    MStr negative("ab");
    EXPECT_EQ(negative.fill('*', 3, -1), 1); // -1 is the end
    EXPECT_EQ(text(negative), "ab*");
    expectConsistent(negative);
}

TEST(FMStrTest, EditingKeepsTheLengthUpToDate) {
    MStr s("  Hello, World \t");
    EXPECT_EQ(s.trim(), 4);
    EXPECT_EQ(text(s), "Hello, World");
    expectConsistent(s);
    EXPECT_EQ(s.replace(FStrToken<char>("l"), FStrToken<char>("LL")), 3);
    EXPECT_EQ(text(s), "HeLLLLo, WorLLd");
    expectConsistent(s);
    s.remove(5, 5);
    EXPECT_EQ(text(s), "HeLLLorLLd");
    s.toLower();
    EXPECT_EQ(text(s), "helllorlld");
    s.reverse();
    EXPECT_EQ(text(s), "dllrollleh");
    s.remove(-3);
    EXPECT_EQ(text(s), "dllroll");
    expectConsistent(s);
    EXPECT_EQ(s.replace('l', 'L'), 4);
    EXPECT_EQ(MStr(" x").lTrim(), 1);
    EXPECT_EQ(MStr("x  ").rTrim(), 2);
}

TEST(FMStrTest, SplitGivesGrowableStrings) {
    auto const pieces = MStr("a,,b,").split(',');
    ASSERT_EQ(pieces.Count(), 4);
    EXPECT_EQ(text(pieces[0]), "a");
    EXPECT_TRUE(pieces[1].isEmpty());
    EXPECT_EQ(text(pieces[2]), "b");
    EXPECT_TRUE(pieces[3].isEmpty());
    auto const limited = MStr("a::b::c").split("::", 2);
    ASSERT_EQ(limited.Count(), 2);
    EXPECT_EQ(text(limited[1]), "b::c");
    auto const bySeparator = MStr("1-2").split(MStr("-"));
    ASSERT_EQ(bySeparator.Count(), 2);
    EXPECT_EQ(bySeparator[1].toInt32(), 2);
}

TEST(FMStrTest, JoinStopsAtTheFirstItemWithoutABuffer) {
    MStr items[4] = {MStr("a"), MStr("b"), MStr(), MStr("d")};
    EXPECT_EQ(text(MStr().join(items)), "ab");
    EXPECT_EQ(text(MStr(">").join(items, 4)), ">abd");
}

TEST(FMStrTest, SearchAndParseUseTheStoredLength) {
    MStr s("12,34");
    EXPECT_EQ(s.indexOf(','), 2);
    EXPECT_EQ(s.lastIndexOf("3"), 3);
    EXPECT_EQ(s.count('3'), 1);
    EXPECT_EQ(s.toInt32(), 12);
    EXPECT_EQ(MStr("300").toUInt8(), 44);
    EXPECT_EQ(MStr("abc").compare("abcde"), -2);
    EXPECT_TRUE(MStr("abc") == FGStr<char>("abc"));
    EXPECT_TRUE(MStr("abc") < "abd");
    EXPECT_EQ(text(s.left(2)), "12");
    EXPECT_EQ(text(s.right(2)), "34");
    EXPECT_EQ(text(s(1, 3)), "2,3");
    EXPECT_EQ(text(s + FStrToken<char>("!")), "12,34!");
    EXPECT_EQ(text(s), "12,34");
}

TEST(FMStrTest, WideStringsConvertCharactersAboveSevenBits) {
    FMStr<wchar_t> wide;
    wide << "\xE9" << L'x';
    ASSERT_EQ(wide.Length(), 2);
    EXPECT_EQ(wide[0], L'\u00E9');
    MStr narrow;
    narrow << L"\u20AC";
    ASSERT_EQ(narrow.Length(), 1);
    EXPECT_EQ(static_cast<unsigned char>(narrow[0]), 0xAC);
    wide.appendValueOf(7, 3);
    EXPECT_TRUE(wide == L"\u00E9x007");
}
