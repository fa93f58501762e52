#include "FType.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace FSpace;

namespace {

std::string text(FGUID const& g) {
    FGStr<char> const s = g.toCString();
    char const* p = s;
    return p == nullptr ? std::string() : std::string(p);
}

std::wstring widened(std::string const& s) {
    return std::wstring(s.begin(), s.end());
}

FGUID const kSample(0x12345678, 0x9ABC, 0xDEF0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88);

} // namespace

TEST(FGUIDTest, TextFormShowsEveryByteInStorageOrder) {
    struct Case {
        FGUID guid;
        char const* expected;
    } const cases[] = {
        {FGUID(), "{00000000-0000-0000-0000-000000000000}"},
        {kSample, "{12345678-9abc-def0-1122-334455667788}"},
        {FGUID(1, 2, 3, 0x1234, 0xA, 0xB, 0xC, 0xD, 0xE, 0xF), "{00000001-0002-0003-3412-0a0b0c0d0e0f}"},
        {FGUID(1, 2, 3, 0x1234, "ABCDEFGH"), "{00000001-0002-0003-3412-414243444546}"},
        {FGUID(1, 2, 3, 0x1234, "ABCDE"), "{00000001-0002-0003-3412-414243444500}"},
        {FGUID(1, 2, 3, 0x1234, "ABCD"), "{00000001-0002-0003-3412-000000000000}"},
        {FGUID(1, 2, 3, 0x1234, static_cast<char const*>(nullptr)), "{00000001-0002-0003-3412-000000000000}"},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(text(c.guid), c.expected);
        EXPECT_TRUE(c.guid.toWString() == widened(c.expected).c_str()) << c.expected;
        EXPECT_TRUE(c.guid.toString() == widened(c.expected).c_str()) << c.expected;
        EXPECT_TRUE(static_cast<FGStr<char>>(c.guid) == c.expected);
    }
    EXPECT_TRUE(FGUID().isCleared());
    EXPECT_TRUE(!FGUID());
    EXPECT_FALSE(kSample.isCleared());
}

TEST(FGUIDTest, ParsingNeedsExactlyFivePiecesWithOrWithoutBraces) {
    struct Case {
        char const* token;
        char const* expected;
    } const cases[] = {
        {"{12345678-9abc-def0-1122-334455667788}", "{12345678-9abc-def0-1122-334455667788}"},
        {"12345678-9ABC-DEF0-1122-334455667788", "{12345678-9abc-def0-1122-334455667788}"},
        {"{12345678-9abc-def0-1122-334455667788]", "{12345678-9abc-def0-1122-334455667788}"},
        {"{1-2-3-4-56}", "{00000001-0002-0003-0000-560000000000}"}, // missing digits count as zero
        {"{12345678-9abc-def0-1122}", "{00000000-0000-0000-0000-000000000000}"},
        {"{12345678-9abc-def0-1122-3344-55667788}", "{00000000-0000-0000-0000-000000000000}"},
        {"", "{00000000-0000-0000-0000-000000000000}"},
        {"{", "{00000000-0000-0000-0000-000000000000}"},
        {"{}", "{00000000-0000-0000-0000-000000000000}"},
    };
    for (Case const& c : cases) {
        FGUID parsed(kSample);
        parsed = c.token;
        EXPECT_EQ(text(parsed), c.expected) << c.token;
        std::wstring const wide = widened(c.token);
        EXPECT_EQ(text(FGUID(FStrToken<wchar_t>(wide.c_str()))), c.expected) << c.token;
    }
}

TEST(FGUIDTest, OrderingComparesStorageBytesAsSignedNumbers) {
    FGUID const high(0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0); // byte 0 is 0x80
    FGUID const low(0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_TRUE(high < low);
    EXPECT_TRUE(low > high);
    // The first part is stored low byte first, so its low byte decides first.
    FGUID const lowByteSet(0x00000001, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    FGUID const highByteSet(0x01000000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_TRUE(highByteSet < lowByteSet);
    EXPECT_TRUE(FGUID(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1) < FGUID(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2));
    EXPECT_FALSE(kSample < kSample);
    EXPECT_FALSE(kSample > kSample);
    EXPECT_TRUE(kSample == FGUID(kSample));
    EXPECT_TRUE(kSample != low);
}

TEST(FGUIDTest, AssignmentFromAPointerCopiesAndIgnoresNull) {
    FGUID target;
    target = &kSample;
    EXPECT_TRUE(target == kSample);
    target = static_cast<FGUID const*>(nullptr);
    EXPECT_TRUE(target == kSample);
    target = &target;
    EXPECT_TRUE(target == kSample);
    target.clear();
    EXPECT_TRUE(target.isCleared());
}

TEST(FGUIDTest, GeneratedIdentifiersDifferAcrossThreadsAndRoundTrip) {
    constexpr int kThreads = 4;
    constexpr int kEach = 200;
    std::vector<std::vector<std::string>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&made, t] {
            for (int i = 0; i < kEach; ++i) {
                FGUID g;
                g.generate();
                made[t].push_back(text(g));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::set<std::string> distinct;
    for (auto const& list : made) {
        distinct.insert(list.begin(), list.end());
    }
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kEach));
    for (std::string const& s : made[0]) {
        EXPECT_EQ(text(FGUID(s.c_str())), s);
    }
}
