#include "FoundationTestSupport.h"

#include <tuple>
#include <vector>

using namespace FSpace;
using namespace foundation_test;

namespace {

using MStr = FMStr<char>;

/// The stored text. Also checks that the stored length matches the terminator
/// and that the terminator fits the capacity.
std::string text(MStr const& s) {
    char const* p = s;
    EXPECT_LT(s.Length(), s.Capacity() == 0 ? 1 : s.Capacity());
    if (p == nullptr)
        return std::string();
    EXPECT_EQ(FGStr<char>::length(p), s.Length()) << p;
    return std::string(p, static_cast<std::size_t>(s.Length()));
}

std::vector<std::string> texts(MStr::Pieces const& pieces) {
    std::vector<std::string> result;
    for (long i = 0; i < pieces.Count(); ++i)
        result.push_back(text(pieces[i]));
    return result;
}

} // namespace

TEST(FMStrTest, AppendingOneCharacterAtATimeGrowsByHalfTheCapacity) {
    MStr s;
    EXPECT_EQ(s.Capacity(), 0);
    EXPECT_EQ(static_cast<char const*>(s), nullptr);
    std::vector<long> capacities;
    for (int i = 0; i < 10; ++i) {
        s << 'a';
        if (capacities.empty() || capacities.back() != s.Capacity())
            capacities.push_back(s.Capacity());
        text(s); // checks the length against the terminator
    }
    EXPECT_EQ(capacities, (std::vector<long>{2, 5, 9, 15}));
    EXPECT_EQ(text(s), "aaaaaaaaaa");
}

TEST(FMStrTest, CopiesAndReservationsAllocateExactly) {
    MStr const source("abc");
    MStr const copy(source);
    EXPECT_EQ(text(copy), "abc");
    EXPECT_ROWS(long, {source.Capacity(), 4}, {copy.Capacity(), 4}, {MStr("abcdef", 2).Capacity(), 3},
                {MStr(10L).Capacity(), 11}, {MStr(10L).Length(), 0}, {MStr(-5L).Capacity(), 1});
    EXPECT_EQ(static_cast<char const*>(MStr(static_cast<char const*>(nullptr))), nullptr);
}

TEST(FMStrTest, AssignmentReplacesTheContentEvenFromItself) {
    MStr s("long text here");
    EXPECT_EQ(text(s = "ab"), "ab");
    MStr& alias = s;
    EXPECT_EQ(text(s = alias), "ab");
    EXPECT_EQ(text(s = FGStr<char>("from plain")), "from plain");
    EXPECT_EQ(text(s.assign("xyz", 2)), "xy");
    MStr moved(std::move(s));
    EXPECT_EQ(text(moved), "xy");
    EXPECT_EQ(s.Capacity(), 0);
}

TEST(FMStrTest, OwnCharactersCanBeAppendedOrInsertedWhileGrowing) {
    MStr middle("abc");
    EXPECT_EQ(text(middle.insert(middle, 1)), "aabcbc"); // the source moves while it is inserted
    MStr s("abc");
    EXPECT_EQ(text(s.append(FStrToken<char>(s))), "abcabc");
    EXPECT_EQ(text(s.assign(s(1, 2))), "bc");
    EXPECT_EQ(text(s.insert(s, 0)), "bcbc");
    EXPECT_EQ(text(s.append(s[0], 3)), "bcbcbbb");
}

TEST(FMStrTest, AtCountsFromTheEndAndThrowsWithCodeOne) {
    MStr s("abc");
    EXPECT_EQ(s.at(-1), 'c');
    FException const e = thrownBy([&] { s.at(-4); });
    EXPECT_EQ(e.code(), 1u);
    EXPECT_STREQ(e.what(), "Index out of range");
    EXPECT_STREQ(thrownBy([&] { s.at(3); }).what(), "Index out of range");
    EXPECT_STREQ(thrownBy([] { MStr().at(0); }).what(), "Index out of range");
}

TEST(FMStrTest, GetBufferSetsLengthAndCapacity) {
    MStr s("anything");
    char* buffer = s.getBuffer(4);
    EXPECT_EQ(s.Length(), 4);
    EXPECT_EQ(s.Capacity(), 5);
    EXPECT_EQ(buffer[5], 0);
    EXPECT_EQ(s.getBuffer(0), buffer);
}

TEST(FMStrTest, RenderingPadsWithZerosInFrontOfTheWholeText) {
    EXPECT_ROWS(std::string, {text(MStr().appendValueOf(uint16_t{7}, 2)), "07"},
                {text(MStr().appendValueOf(uint16_t{123}, 2)), "123"},
                {text(MStr().appendValueOf(-5, 4)), "00-5"}, {text(MStr().appendValueOf(0, 3, true)), "000"},
                {text(MStr().appendValueOf(0, 0, true)), ""}, {text(MStr().appendValueOf(9LL, -3)), "9"},
                {text(MStr("x").appendValueOf(uint8_t{5}, 3)), "x005"});
    // Streaming renders like the plain string.
    MStr s;
    s << "n=" << -7 << ' ' << 0 << ' ' << 2.0 << ' ' << 0.5 << ' ' << -0.25 << ' ' << true << ' ' << L"w";
    EXPECT_EQ(text(s), "n=-7 0 2 0.5 -0.25 1 w");
    EXPECT_EQ(text(MStr() << 3.14159), "3.14158999999999988261");
}

TEST(FMStrTest, HexadecimalIsWrittenInPlace) {
    MStr s;
    s.appendHexOf(uint16_t{0x1F}).appendHexOf(-1).appendHexOf(uint8_t{0xA});
    EXPECT_EQ(text(s), "001fffffffff0a");
    unsigned char const bytes[] = {0xDE, 0xAD};
    EXPECT_EQ(text(MStr().appendHexOf(bytes, 2)), "dead");
    EXPECT_EQ(text(MStr().appendHexOf(0xFEDCBA9876543210ull)), "fedcba9876543210");
    // Thirty-two bit hex grows by its own rule.
    MStr grown;
    EXPECT_EQ(text(grown.appendHexOf(1u)), "00000001");
    EXPECT_EQ(grown.Capacity(), 17);
    grown.appendHexOf(2u);
    EXPECT_EQ(grown.Capacity(), 17 + 8 + 17);
    EXPECT_EQ(text(grown), "0000000100000002");
}

TEST(FMStrTest, InsertAtLengthMinusOneAppends) {
    std::pair<long, char const*> const cases[] = {{0, "Xabc"},  {1, "aXbc"},  {2, "abcX"}, {-1, "abcX"},
                                                  {-2, "aXbc"}, {-9, "Xabc"}, {7, "abcX"}};
    for (auto const& [position, expected] : cases)
        EXPECT_EQ(text(MStr("abc").insert("X", 1, position)), expected) << "position " << position;
    EXPECT_EQ(text(MStr().insert(FStrToken<char>("ab"), -1)), "ab");
}

TEST(FMStrTest, FillPadsAndReportsTheCount) {
    // "count:text" after each call.
    auto after = [](long count, MStr const& s) { return std::to_string(count) + ":" + text(s); };
    MStr number("42");
    MStr word("abcd");
    MStr middle("ad");
    MStr end("ab");
    EXPECT_EQ(after(number.lFill('0', 5), number), "3:00042");
    EXPECT_EQ(after(word.rFill(' ', 3), word), "0:abcd");
    EXPECT_EQ(after(word.rFill('.', 6), word), "2:abcd..");
    EXPECT_EQ(after(middle.fill('-', 4, 1), middle), "2:a--d");
    EXPECT_EQ(after(end.fill('*', 3, -1), end), "1:ab*"); // -1 is the end
}

TEST(FMStrTest, EditingKeepsTheLengthUpToDate) {
    MStr s("  Hello, World \t");
    EXPECT_EQ(s.trim(), 4);
    EXPECT_EQ(text(s), "Hello, World");
    EXPECT_EQ(s.replace(FStrToken<char>("l"), FStrToken<char>("LL")), 3);
    EXPECT_EQ(text(s), "HeLLLLo, WorLLd");
    EXPECT_EQ(text(s.remove(5, 5)), "HeLLLorLLd");
    EXPECT_EQ(text(s.toLower()), "helllorlld");
    EXPECT_EQ(text(s.reverse()), "dllrollleh");
    EXPECT_EQ(text(s.remove(-3)), "dllroll");
    EXPECT_EQ(s.replace('l', 'L'), 4);
    EXPECT_EQ(MStr(" x").lTrim(), 1);
    EXPECT_EQ(MStr("x  ").rTrim(), 2);
}

TEST(FMStrTest, SplitGivesGrowableStringsAndJoinStopsAtTheFirstItemWithoutABuffer) {
    EXPECT_EQ(texts(MStr("a,,b,").split(',')), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(texts(MStr("a::b::c").split("::", 2)), (std::vector<std::string>{"a", "b::c"}));
    auto const bySeparator = MStr("1-2").split(MStr("-"));
    ASSERT_EQ(bySeparator.Count(), 2);
    EXPECT_EQ(bySeparator[1].toInt32(), 2);
    MStr items[4] = {MStr("a"), MStr("b"), MStr(), MStr("d")};
    EXPECT_EQ(text(MStr().join(items)), "ab");
    EXPECT_EQ(text(MStr(">").join(items, 4)), ">abd");
}

TEST(FMStrTest, SearchAndParseUseTheStoredLength) {
    MStr const s("12,34");
    EXPECT_ROWS(long, {s.indexOf(','), 2}, {s.lastIndexOf("3"), 3}, {s.count('3'), 1}, {s.toInt32(), 12},
                {MStr("300").toUInt8(), 44}, {MStr("abc").compare("abcde"), -2});
    EXPECT_TRUE(MStr("abc") == FGStr<char>("abc"));
    EXPECT_TRUE(MStr("abc") < "abd");
    EXPECT_ROWS(std::string, {text(s.left(2)), "12"}, {text(s.right(2)), "34"}, {text(s(1, 3)), "2,3"},
                {text(s + FStrToken<char>("!")), "12,34!"}, {text(s), "12,34"});
}

TEST(FMStrTest, WideStringsConvertCharactersAboveSevenBits) {
    FMStr<wchar_t> wide;
    wide << "\xE9" << L'x';
    ASSERT_EQ(wide.Length(), 2);
    EXPECT_EQ(wide[0], L'\u00E9');
    MStr narrow;
    narrow << L"\u20AC";
    EXPECT_EQ(text(narrow), "\xAC");
    wide.appendValueOf(7, 3);
    EXPECT_TRUE(wide == L"\u00E9x007");
}
