#include "FoundationTestSupport.h"

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
    EXPECT_TRUE(s.Capacity() == 0 && static_cast<char const*>(s) == nullptr);
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

TEST(FMStrTest, CopiesReservationsAndBuffersAllocateExactly) {
    MStr const source("abc");
    MStr const copy(source);
    EXPECT_ROWS(long, {source.Capacity(), 4}, {copy.Capacity(), 4}, {text(copy) == "abc", true},
                {MStr("abcdef", 2).Capacity(), 3}, {MStr(10L).Capacity(), 11}, {MStr(10L).Length(), 0},
                {MStr(-5L).Capacity(), 1});
    EXPECT_EQ(static_cast<char const*>(MStr(static_cast<char const*>(nullptr))), nullptr);
    // getBuffer sets the length and allocates exactly too.
    MStr s("anything");
    char* buffer = s.getBuffer(4);
    EXPECT_ROWS(long, {s.Length(), 4}, {s.Capacity(), 5}, {buffer[5], 0}, {s.getBuffer(0) == buffer, true});
}

TEST(FMStrTest, AssignmentReplacesTheContentEvenFromItself) {
    MStr s("long text here");
    MStr& alias = s;
    EXPECT_ROWS(std::string, {text(s = "ab"), "ab"}, {text(s = alias), "ab"},
                {text(s = FGStr<char>("from plain")), "from plain"}, {text(s.assign("xyz", 2)), "xy"});
    MStr moved(std::move(s));
    EXPECT_TRUE(text(moved) == "xy" && s.Capacity() == 0);
}

TEST(FMStrTest, OwnCharactersCanBeAppendedOrInsertedWhileGrowingAndInsertAtMinusOneAppends) {
    MStr middle("abc");
    MStr s("abc");
    // Rows are evaluated in order; the source moves while it is inserted.
    EXPECT_ROWS(std::string, {text(middle.insert(middle, 1)), "aabcbc"},
                {text(s.append(FStrToken<char>(s))), "abcabc"}, {text(s.assign(s(1, 2))), "bc"},
                {text(s.insert(s, 0)), "bcbc"}, {text(s.append(s[0], 3)), "bcbcbbb"});
    auto at = [](long position) { return text(MStr("abc").insert("X", 1, position)); };
    EXPECT_ROWS(std::string, {at(0), "Xabc"}, {at(1), "aXbc"}, {at(2), "abcX"}, {at(-1), "abcX"},
                {at(-2), "aXbc"}, {at(-9), "Xabc"}, {at(7), "abcX"},
                {text(MStr().insert(FStrToken<char>("ab"), -1)), "ab"});
}

TEST(FMStrTest, AtCountsFromTheEndAndThrowsWithCodeOne) {
    MStr s("abc");
    FException const e = thrownBy([&] { s.at(-4); });
    EXPECT_ROWS(std::string, {std::string(1, s.at(-1)), "c"},
                {std::to_string(e.code()) + "|" + e.what(), "1|Index out of range"},
                {thrownBy([&] { s.at(3); }).what(), "Index out of range"},
                {thrownBy([] { MStr().at(0); }).what(), "Index out of range"});
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
}

TEST(FMStrTest, HexadecimalIsWrittenInPlace) {
    unsigned char const bytes[] = {0xDE, 0xAD};
    EXPECT_ROWS(std::string,
                {text(MStr().appendHexOf(uint16_t{0x1F}).appendHexOf(-1).appendHexOf(uint8_t{0xA})),
                 "001fffffffff0a"},
                {text(MStr().appendHexOf(bytes, 2)), "dead"},
                {text(MStr().appendHexOf(0xFEDCBA9876543210ull)), "fedcba9876543210"});
    // Thirty-two bit hex grows by its own rule; rows are evaluated in order.
    auto withCapacity = [](MStr const& s) { return text(s) + "/" + std::to_string(s.Capacity()); };
    MStr grown;
    EXPECT_ROWS(std::string, {withCapacity(grown.appendHexOf(1u)), "00000001/17"},
                {withCapacity(grown.appendHexOf(2u)), "0000000100000002/42"});
}

TEST(FMStrTest, EditingAndFillingKeepTheLengthUpToDateAndReportTheCount) {
    // "count:text" after each call; rows are evaluated in order; -1 is the end for fill.
    auto after = [](long count, MStr const& s) { return std::to_string(count) + ":" + text(s); };
    MStr s("  Hello, World \t"), number("42"), word("abcd"), middle("ad"), end("ab");
    EXPECT_ROWS(
        std::string, {after(s.trim(), s), "4:Hello, World"},
        {after(s.replace(FStrToken<char>("l"), FStrToken<char>("LL")), s), "3:HeLLLLo, WorLLd"},
        {text(s.remove(5, 5)), "HeLLLorLLd"}, {text(s.toLower()), "helllorlld"},
        {text(s.reverse()), "dllrollleh"}, {text(s.remove(-3)), "dllroll"},
        {after(s.replace('l', 'L'), s), "4:dLLroLL"}, {after(number.lFill('0', 5), number), "3:00042"},
        {after(word.rFill(' ', 3), word), "0:abcd"}, {after(word.rFill('.', 6), word), "2:abcd.."},
        {after(middle.fill('-', 4, 1), middle), "2:a--d"}, {after(end.fill('*', 3, -1), end), "1:ab*"});
    EXPECT_ROWS(long, {MStr(" x").lTrim(), 1}, {MStr("x  ").rTrim(), 2});
}

TEST(FMStrTest, SplitGivesGrowableStringsAndJoinStopsAtTheFirstItemWithoutABuffer) {
    EXPECT_EQ(texts(MStr("a,,b,").split(',')), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(texts(MStr("a::b::c").split("::", 2)), (std::vector<std::string>{"a", "b::c"}));
    EXPECT_EQ(MStr("1-2").split(MStr("-"))[-1].toInt32(), 2);
    MStr items[4] = {MStr("a"), MStr("b"), MStr(), MStr("d")};
    EXPECT_EQ(text(MStr().join(items)) + "|" + text(MStr(">").join(items, 4)), "ab|>abd");
}

TEST(FMStrTest, SearchAndParseUseTheStoredLength) {
    MStr const s("12,34");
    EXPECT_ROWS(long, {s.indexOf(','), 2}, {s.lastIndexOf("3"), 3}, {s.count('3'), 1}, {s.toInt32(), 12},
                {MStr("300").toUInt8(), 44}, {MStr("abc").compare("abcde"), -2});
    EXPECT_TRUE(MStr("abc") == FGStr<char>("abc") && MStr("abc") < "abd");
    EXPECT_ROWS(std::string, {text(s.left(2)), "12"}, {text(s.right(2)), "34"}, {text(s(1, 3)), "2,3"},
                {text(s + FStrToken<char>("!")), "12,34!"}, {text(s), "12,34"});
}

TEST(FMStrTest, WideStringsConvertCharactersAboveSevenBits) {
    FMStr<wchar_t> wide;
    wide << "\xE9" << L'x';
    wide.appendValueOf(7, 3);
    EXPECT_TRUE(wide == L"\u00E9x007" && wide.Length() == 5);
    EXPECT_EQ(text(MStr() << L"\u20AC"), "\xAC");
}
