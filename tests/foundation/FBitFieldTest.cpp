#include "FoundationTestSupport.h"

#include <array>

using namespace FSpace;
using namespace foundation_test;

namespace {

/// A field from a text of '0' and '1', bit 0 first.
FBITFIELD bits(std::string const& pattern) {
    FBITFIELD f(static_cast<int>(pattern.size()));
    for (std::size_t i = 0; i < pattern.size(); ++i)
        f.set(static_cast<int>(i), pattern[i] == '1');
    return f;
}

} // namespace

TEST(FBitFieldTest, PrintsBitZeroFirst) {
    FBITFIELD f(10);
    std::string const fresh = text(f); // new fields start clear
    f += 0;
    f(9, true);
    EXPECT_TRUE(f.toWString() == L"1000000001" && f[9] && f(0) && !f.get(1));
    std::string const set = text(f);
    f -= 9;
    EXPECT_EQ(fresh + "|" + set + "|" + text(f) + "|" + text(FBITFIELD()),
              "0000000000|1000000001|1000000000|");
    EXPECT_EQ(FBITFIELD(-3).Length(), 0);
}

TEST(FBitFieldTest, IndexesOutsideTheFieldThrowAndChangeNothing) {
    FBITFIELD const original = bits("1000000001");
    std::pair<char const*, std::function<void(FBITFIELD&)>> const cases[] = {
        {"get(10)", [](FBITFIELD& f) { (void)f.get(10); }},
        {"get(-1)", [](FBITFIELD& f) { (void)f.get(-1); }},
        {"[INT_MIN]", [](FBITFIELD& f) { (void)f[INT_MIN]; }},
        {"set(10)", [](FBITFIELD& f) { f.set(10, true); }},
        {"+= INT_MAX", [](FBITFIELD& f) { f += INT_MAX; }},
        {"invert(-1)", [](FBITFIELD& f) { f.invert(-1); }},
        {"set(8, 3 bits)", [](FBITFIELD& f) { f.set(8, bits("111")); }},
        {"set(-1, 1 bit)", [](FBITFIELD& f) { f.set(-1, bits("1")); }},
        {"set(INT_MAX, 2 bits)", [](FBITFIELD& f) { f.set(INT_MAX, bits("11")); }},
        {"sub-range 8..10", [](FBITFIELD& f) { FBITFIELD const sub(f, 8, 3); }},
        {"sub-range from -1", [](FBITFIELD& f) { FBITFIELD const sub(f, -1, 2); }},
        {"sub-range INT_MAX bits", [](FBITFIELD& f) { FBITFIELD const sub(f, 1, INT_MAX); }}};
    for (auto const& [what, apply] : cases) {
        FBITFIELD f(original);
        EXPECT_EQ(describe(thrownBy<FXCOutOfBounds>([&] { apply(f); })),
                  "1026|Out of bounds|FBitField::get|(null)")
            << what;
        EXPECT_TRUE(f == original) << what;
    }
}

TEST(FBitFieldTest, EqualityIgnoresBitsBeyondTheLength) {
    using Bytes = std::array<unsigned char, 2>;
    std::tuple<Bytes, Bytes, int, bool> const cases[] = {{{0x05, 0}, {0x0D, 0}, 3, true},
                                                         {{0x05, 0}, {0x01, 0}, 3, false},
                                                         {{0xFF, 0x01}, {0xFF, 0xFF}, 9, true},
                                                         {{0xFF, 0x01}, {0xFE, 0x01}, 9, false},
                                                         {{0x00, 0x00}, {0xFF, 0xFF}, 0, true}};
    for (auto const& [a, b, n, equal] : cases) {
        EXPECT_EQ(FBITFIELD::equals(a.data(), b.data(), n), equal) << n;
        EXPECT_EQ(FBITFIELD(a.data(), n) == FBITFIELD(b.data(), n), equal) << n;
    }
    EXPECT_TRUE(bits("101") != bits("1010"));
}

TEST(FBitFieldTest, CopiesKeepEveryByteAndSubRangesAndPlacedCopiesTakeTheirBitsInOrder) {
    unsigned char const raw[3] = {0x00, 0xA5, 0x01};
    FBITFIELD const f(raw, 17);
    FBITFIELD assigned(3);
    FBITFIELD& alias = assigned;
    assigned = f;
    assigned = alias;
    EXPECT_ROWS(std::string, {text(FBITFIELD(f)), "00000000101001011"}, {text(assigned), "00000000101001011"},
                {text(FBITFIELD(static_cast<unsigned char const*>(nullptr), 4)), "0000"});
    FBITFIELD const source = bits("11101");
    FBITFIELD target = bits("000000");
    // Rows are evaluated in order.
    EXPECT_ROWS(std::string, {text(FBITFIELD(source, 2, 3)), "101"}, {text(FBITFIELD(source, 0, 5)), "11101"},
                {text(FBITFIELD(source, 7, 0)), ""}, {(target.set(3, bits("111")), text(target)), "000111"},
                {(target.set(0, target), text(target)), "000111"},
                {(target.clear(), text(target)), "000000"});
}

TEST(FBitFieldTest, AppendingPutsTheOtherBitsAfterTheOwn) {
    // The second row crosses a byte boundary.
    std::tuple<char const*, char const*, char const*> const cases[] = {
        {"11", "101", "11101"}, {"1010101", "011", "1010101011"}, {"", "101", "101"}, {"101", "", "101"}};
    for (auto const& [first, second, expected] : cases) {
        FBITFIELD f = bits(first);
        f += bits(second);
        EXPECT_TRUE(text(f) == expected && f.Length() == static_cast<int>(text(f).size())) << expected;
    }
    FBITFIELD self = bits("10");
    EXPECT_EQ(text(self += self), "1010");
}

TEST(FBitFieldTest, CombinationsWorkOnTheCommonPositions) {
    FBITFIELD const a = bits("1100");
    // Positions beyond the other field keep their bits.
    EXPECT_ROWS(std::string, {text(a | bits("10101")), "1110"}, {text(a & bits("10101")), "1000"},
                {text(a & bits("0")), "0100"}, {text(~a), "0011"});
    FBITFIELD c = a;
    EXPECT_ROWS(std::string, {text(c |= bits("0011")), "1111"}, {text(c &= bits("0110")), "0110"},
                {(c.invert(), text(c)), "1001"}, {(c.invert(1), text(c)), "1101"});
    unsigned char raw[1] = {0x01};
    EXPECT_TRUE(FBITFIELD::bitOr(raw, 1, true) && !FBITFIELD::bitAnd(raw, 0, false) && raw[0] == 0x02);
}
