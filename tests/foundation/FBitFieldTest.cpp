#include "FType.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

using namespace FSpace;

namespace {

std::string text(FBITFIELD const& f) {
    FGStr<char> const s = f.toCString();
    char const* p = s;
    return p == nullptr ? std::string() : std::string(p);
}

/// A field from a text of '0' and '1', bit 0 first.
FBITFIELD bits(std::string const& pattern) {
    FBITFIELD f(static_cast<int>(pattern.size()));
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        f.set(static_cast<int>(i), pattern[i] == '1');
    }
    return f;
}

} // namespace

TEST(FBitFieldTest, PrintsBitZeroFirst) {
    FBITFIELD f(10);
    EXPECT_EQ(text(f), "0000000000"); // new fields start clear
    f += 0;
    f(9, true);
    EXPECT_EQ(text(f), "1000000001");
    EXPECT_TRUE(f.toWString() == L"1000000001");
    EXPECT_TRUE(f[9] && f(0) && !f.get(1));
    f -= 9;
    EXPECT_EQ(text(f), "1000000000");
    EXPECT_EQ(text(FBITFIELD()), "");
    EXPECT_EQ(FBITFIELD(-3).Length(), 0);
}

TEST(FBitFieldTest, IndexesOutsideTheFieldThrowAndChangeNothing) {
    FBITFIELD const original = bits("1000000001");
    struct Case {
        char const* what;
        std::function<void(FBITFIELD&)> apply;
    } const cases[] = {
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
        {"sub-range INT_MAX bits", [](FBITFIELD& f) { FBITFIELD const sub(f, 1, INT_MAX); }},
    };
    for (Case const& c : cases) {
        FBITFIELD f(original);
        try {
            c.apply(f);
            ADD_FAILURE() << "no exception for " << c.what;
        } catch (FXCOutOfBounds const& e) {
            EXPECT_EQ(e.code(), 1026u) << c.what;
            EXPECT_STREQ(e.what(), "Out of bounds") << c.what;
            EXPECT_STREQ(e.where(), "FBitField::get") << c.what;
        }
        EXPECT_TRUE(f == original) << c.what;
    }
}

TEST(FBitFieldTest, EqualityIgnoresBitsBeyondTheLength) {
    struct Case {
        unsigned char a[2];
        unsigned char b[2];
        int n;
        bool equal;
    } const cases[] = {
        {{0x05, 0}, {0x0D, 0}, 3, true},  // differ only in bit 3
        {{0x05, 0}, {0x01, 0}, 3, false}, // differ in bit 2
        {{0xFF, 0x01}, {0xFF, 0xFF}, 9, true}, {{0xFF, 0x01}, {0xFE, 0x01}, 9, false},
        {{0x00, 0x00}, {0xFF, 0xFF}, 0, true},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(FBITFIELD::equals(c.a, c.b, c.n), c.equal);
        EXPECT_EQ(FBITFIELD(c.a, c.n) == FBITFIELD(c.b, c.n), c.equal);
    }
    EXPECT_TRUE(bits("101") != bits("1010"));
}

TEST(FBitFieldTest, CopiesKeepEveryByte) {
    unsigned char const raw[3] = {0x00, 0xA5, 0x01};
    FBITFIELD const f(raw, 17);
    FBITFIELD const copy(f);
    EXPECT_EQ(text(copy), "00000000101001011");
    FBITFIELD assigned(3);
    assigned = f;
    EXPECT_TRUE(assigned == f);
    FBITFIELD& alias = assigned;
    assigned = alias;
    EXPECT_EQ(text(assigned), text(f));
    EXPECT_EQ(text(FBITFIELD(static_cast<unsigned char const*>(nullptr), 4)), "0000");
}

TEST(FBitFieldTest, AppendingPutsTheOtherBitsAfterTheOwn) {
    struct Case {
        char const* first;
        char const* second;
        char const* expected;
    } const cases[] = {
        {"11", "101", "11101"},
        {"1010101", "011", "1010101011"}, // crosses a byte boundary
        {"", "101", "101"},
        {"101", "", "101"},
    };
    for (Case const& c : cases) {
        FBITFIELD f = bits(c.first);
        f += bits(c.second);
        EXPECT_EQ(text(f), c.expected);
        EXPECT_EQ(f.Length(), static_cast<int>(std::string(c.expected).size()));
    }
    FBITFIELD self = bits("10");
    self += self;
    EXPECT_EQ(text(self), "1010");
}

TEST(FBitFieldTest, SubRangesAndPlacedCopiesTakeTheirBitsInOrder) {
    FBITFIELD const source = bits("11101");
    EXPECT_EQ(text(FBITFIELD(source, 2, 3)), "101");
    EXPECT_EQ(text(FBITFIELD(source, 0, 5)), "11101");
    EXPECT_EQ(FBITFIELD(source, 7, 0).Length(), 0);
    FBITFIELD target = bits("000000");
    target.set(3, bits("111"));
    EXPECT_EQ(text(target), "000111");
    target.set(0, target);
    EXPECT_EQ(text(target), "000111");
    target.clear();
    EXPECT_EQ(text(target), "000000");
}

TEST(FBitFieldTest, CombinationsWorkOnTheCommonPositions) {
    FBITFIELD const a = bits("1100");
    FBITFIELD const b = bits("10101");
    EXPECT_EQ(text(a | b), "1110");
    EXPECT_EQ(text(a & b), "1000");
    EXPECT_EQ(text(a & bits("0")), "0100"); // positions beyond the other stay
    EXPECT_EQ(text(~a), "0011");
    FBITFIELD c = a;
    c |= bits("0011");
    EXPECT_EQ(text(c), "1111");
    c &= bits("0110");
    EXPECT_EQ(text(c), "0110");
    c.invert();
    EXPECT_EQ(text(c), "1001");
    c.invert(1);
    EXPECT_EQ(text(c), "1101");
    unsigned char raw[1] = {0x01};
    EXPECT_TRUE(FBITFIELD::bitOr(raw, 1, true));
    EXPECT_FALSE(FBITFIELD::bitAnd(raw, 0, false));
    EXPECT_EQ(raw[0], 0x02);
}
