#include "FoundationTestSupport.h"

using namespace FSpace;
using namespace foundation_test;

namespace {

FGUID const kSample(0x12345678, 0x9ABC, 0xDEF0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88);
char const* const kCleared = "{00000000-0000-0000-0000-000000000000}";

} // namespace

TEST(FGUIDTest, TextFormShowsEveryByteInStorageOrder) {
    // The fourth part goes to bytes 8 and 9 low byte first; a node text shorter
    // than 5 characters gives zeros, a 5-character one its terminator as byte 15.
    std::pair<FGUID, char const*> const cases[] = {
        {FGUID(), kCleared},
        {kSample, "{12345678-9abc-def0-1122-334455667788}"},
        {FGUID(1, 2, 3, 0x1234, 0xA, 0xB, 0xC, 0xD, 0xE, 0xF), "{00000001-0002-0003-3412-0a0b0c0d0e0f}"},
        {FGUID(1, 2, 3, 0x1234, "ABCDEFGH"), "{00000001-0002-0003-3412-414243444546}"},
        {FGUID(1, 2, 3, 0x1234, "ABCDE"), "{00000001-0002-0003-3412-414243444500}"},
        {FGUID(1, 2, 3, 0x1234, "ABCD"), "{00000001-0002-0003-3412-000000000000}"},
        {FGUID(1, 2, 3, 0x1234, static_cast<char const*>(nullptr)),
         "{00000001-0002-0003-3412-000000000000}"}};
    for (auto const& [guid, expected] : cases)
        EXPECT_TRUE(text(guid) == expected && guid.toWString() == widened(expected).c_str() &&
                    guid.toString() == widened(expected).c_str())
            << expected;
    EXPECT_TRUE(FGUID().isCleared() && !FGUID() && !kSample.isCleared());
}

TEST(FGUIDTest, ParsingNeedsExactlyFivePiecesWithOrWithoutBraces) {
    // A leading brace drops the first and the last character, whatever it is;
    // missing digits count as zero; anything else clears the identifier.
    std::pair<char const*, char const*> const cases[] = {
        {"{12345678-9abc-def0-1122-334455667788}", "{12345678-9abc-def0-1122-334455667788}"},
        {"12345678-9ABC-DEF0-1122-334455667788", "{12345678-9abc-def0-1122-334455667788}"},
        {"{12345678-9abc-def0-1122-334455667788]", "{12345678-9abc-def0-1122-334455667788}"},
        {"{1-2-3-4-56}", "{00000001-0002-0003-0000-560000000000}"},
        {"{12345678-9abc-def0-1122}", kCleared},
        {"{12345678-9abc-def0-1122-3344-55667788}", kCleared},
        {"", kCleared},
        {"{", kCleared},
        {"{}", kCleared}};
    for (auto const& [token, expected] : cases) {
        FGUID parsed(kSample);
        parsed = token;
        std::wstring const wide = widened(token);
        EXPECT_EQ(text(parsed) + text(FGUID(FStrToken<wchar_t>(wide.c_str()))),
                  std::string(expected) + expected)
            << token;
    }
}

TEST(FGUIDTest, OrderingComparesStorageBytesAsSignedNumbers) {
    FGUID const high(0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0); // byte 0 is 0x80
    FGUID const low(0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    // The first part is stored low byte first, so its low byte decides first.
    FGUID const lowByteSet(0x00000001, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    FGUID const highByteSet(0x01000000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_ROWS(bool, {high < low, true}, {low > high, true}, {highByteSet < lowByteSet, true},
                {FGUID(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1) < FGUID(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2), true},
                {kSample < kSample, false}, {kSample > kSample, false}, {kSample == FGUID(kSample), true},
                {kSample != low, true});
}

TEST(FGUIDTest, AssignmentFromAPointerCopiesAndIgnoresNull) {
    FGUID target;
    // Rows are evaluated in order.
    EXPECT_ROWS(bool, {(target = &kSample, target == kSample), true},
                {(target = static_cast<FGUID const*>(nullptr), target == kSample), true},
                {(target = &target, target == kSample), true}, {(target.clear(), target.isCleared()), true});
}

TEST(FGUIDTest, GeneratedIdentifiersDifferAcrossThreadsAndRoundTrip) {
    std::vector<std::string> made[4];
    std::vector<std::thread> threads;
    for (auto& list : made)
        threads.emplace_back([&list] {
            for (int i = 0; i < 200; ++i) {
                FGUID g;
                g.generate();
                list.push_back(text(g));
            }
        });
    std::set<std::string> distinct;
    for (int t = 0; t < 4; ++t)
        threads[t].join(), distinct.insert(made[t].begin(), made[t].end());
    EXPECT_EQ(distinct.size(), 800u);
    for (std::string const& s : made[0])
        EXPECT_EQ(text(FGUID(s.c_str())), s);
}
