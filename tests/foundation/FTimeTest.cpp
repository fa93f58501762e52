#include "FType.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <tuple>

using namespace FSpace;

namespace {

std::string text(FGStr<char> const& s) {
    char const* p = s;
    return p == nullptr ? std::string() : std::string(p);
}

/// The time with milliseconds, the form every check below compares.
std::string stamp(FTime const& t) {
    return text(t.toCStringEx());
}

FTime const kSample(2026, 12, 5, 14, 44, 1, 123);

} // namespace

// --- Fields and the replacement rule ---

TEST(FTimeTest, ClearedTimeRendersAsZerosInEveryForm) {
    FTime t(false);
    EXPECT_TRUE(t.isCleared());
    EXPECT_EQ(text(t.toCString()), "0000-00-00T00:00:00");
    EXPECT_EQ(stamp(t), "0000-00-00T00:00:00.000");
    EXPECT_TRUE(t.toWStringEx() == L"0000-00-00T00:00:00.000");
    EXPECT_TRUE(t.toWString() == L"0000-00-00T00:00:00");
    EXPECT_EQ(text(static_cast<FGStr<char>>(t)), "0000-00-00T00:00:00");
    EXPECT_EQ(static_cast<unsigned long long>(t), 0ULL);
    FTime set(kSample);
    set.clear();
    EXPECT_TRUE(set == t);
}

TEST(FTimeTest, SetAndTheFieldConstructorReplaceOutOfRangeFields) {
    struct Case {
        unsigned short year;
        unsigned char month, day, hour, minute, second;
        unsigned short ms;
        char const* expected;
    } const cases[] = {
        {2024, 13, 0, 24, 60, 60, 1000, "2024-01-01T00:00:00.999"},
        {1599, 12, 31, 23, 59, 59, 999, "1970-12-31T23:59:59.999"},
        {3001, 1, 32, 0, 0, 0, 0, "1970-01-01T00:00:00.000"},
        {1600, 2, 31, 1, 2, 3, 4, "1600-02-31T01:02:03.004"}, // the day is not checked against the month
        {3000, 255, 255, 255, 255, 255, 65535, "3000-01-01T00:00:00.999"},
    };
    for (Case const& c : cases) {
        FTime set(kSample);
        set.set(c.year, c.month, c.day, c.hour, c.minute, c.second, c.ms);
        EXPECT_EQ(stamp(set), c.expected);
        EXPECT_EQ(stamp(FTime(c.year, c.month, c.day, c.hour, c.minute, c.second, c.ms)), c.expected);
    }
}

TEST(FTimeTest, SettersStoreReplacementsAndReturnWhatTheyStored) {
    struct Case {
        char const* what;
        std::function<unsigned(FTime&)> apply;
        unsigned stored;
        char const* expected;
    } const cases[] = {
        {"MilliSeconds(1000)", [](FTime& t) { return t.MilliSeconds(1000); }, 0, "2026-12-05T14:44:01.000"},
        {"MilliSeconds(999)", [](FTime& t) { return t.MilliSeconds(999); }, 999, "2026-12-05T14:44:01.999"},
        {"setTime(10, 0, 0, 1000)",
         [](FTime& t) {
             t.setTime(10, 0, 0, 1000);
             return t.MilliSeconds();
         },
         999, "2026-12-05T10:00:00.999"},
        {"setDate(1599, 0, 32)",
         [](FTime& t) {
             t.setDate(1599, 0, 32);
             return t.Year();
         },
         1970, "1970-01-01T14:44:01.123"},
        {"Year(1599)", [](FTime& t) { return t.Year(1599); }, 1970, "1970-12-05T14:44:01.123"},
        {"Year(3001)", [](FTime& t) { return t.Year(3001); }, 1970, "1970-12-05T14:44:01.123"},
        {"Year(3000)", [](FTime& t) { return t.Year(3000); }, 3000, "3000-12-05T14:44:01.123"},
        {"Year(1600)", [](FTime& t) { return t.Year(1600); }, 1600, "1600-12-05T14:44:01.123"},
        {"Month(13)", [](FTime& t) { return t.Month(13); }, 1, "2026-01-05T14:44:01.123"},
        {"Day(0)", [](FTime& t) { return t.Day(0); }, 1, "2026-12-01T14:44:01.123"},
        {"Day(31)", [](FTime& t) { return t.Day(31); }, 31, "2026-12-31T14:44:01.123"},
        {"Hour(24)", [](FTime& t) { return t.Hour(24); }, 0, "2026-12-05T00:44:01.123"},
        {"Minute(60)", [](FTime& t) { return t.Minute(60); }, 0, "2026-12-05T14:00:01.123"},
        {"Second(59)", [](FTime& t) { return t.Second(59); }, 59, "2026-12-05T14:44:59.123"},
    };
    for (Case const& c : cases) {
        FTime t(kSample);
        EXPECT_EQ(c.apply(t), c.stored) << c.what;
        EXPECT_EQ(stamp(t), c.expected) << c.what;
    }
}

// --- Packed form ---

TEST(FTimeTest, PackedFormRoundTripsAndReplacesBadFieldsWhenUnpacked) {
    EXPECT_EQ(static_cast<unsigned long long>(kSample), 0x7EAC2BAC047BULL);
    EXPECT_TRUE(kSample == 0x7EAC2BAC047BULL);
    struct Case {
        unsigned long long packed;
        char const* expected;
    } const cases[] = {
        {0x7EAC2BAC047BULL, "2026-12-05T14:44:01.123"},
        {0xFFFF7EAC2BAC047BULL, "2026-12-05T14:44:01.123"}, // bits 48-63 are not part of it
        {0x7EAF03AC07FFULL, "2026-01-01T14:44:01.999"},     // month 15, day 0, 1023 ms
        {0ULL, "1970-01-01T00:00:00.000"},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(stamp(FTime(c.packed)), c.expected);
        FTime assigned(kSample);
        assigned = c.packed;
        EXPECT_EQ(stamp(assigned), c.expected);
    }
}

TEST(FTimeTest, ComparisonsFollowTheCalendar) {
    FTime const earlier(2024, 12, 31, 23, 59, 59, 999);
    FTime const later(2025, 1, 1, 0, 0, 0, 0);
    EXPECT_TRUE(earlier < later);
    EXPECT_TRUE(later > earlier);
    EXPECT_FALSE(later < earlier);
    EXPECT_TRUE(earlier != later);
    EXPECT_TRUE(earlier < static_cast<unsigned long long>(later));
    EXPECT_TRUE(later > static_cast<unsigned long long>(earlier));
    EXPECT_EQ(later - earlier, 1);
    EXPECT_EQ(earlier - later, -1);
    EXPECT_EQ(FTime(2024, 3, 1, 0, 0, 0, 0) - FTime(2024, 2, 28, 0, 0, 0, 500), 2 * 86400);
}

// --- Text ---

TEST(FTimeTest, ParsingAcceptsOnlyTheFullForm) {
    struct Case {
        char const* input;
        char const* expected; // null: the time stays as it was
    } const cases[] = {
        {"2026-12-05T14:44:01", "2026-12-05T14:44:01.000"},
        {"1500-1-2T3:4:5", "1970-01-02T03:04:05.000"},
        {"2026-13-05T25:44:01", "2026-01-05T00:44:01.000"},
        {"2026-12-05 14:44:01", nullptr},
        {"2026-12-05", nullptr},
        {"2026-12-05T14:44", nullptr},
        {"2026-12-05-01T14:44:01", nullptr},
        {"2026-12-05T14:44:01T", nullptr},
        {"", nullptr},
        {static_cast<char const*>(nullptr), nullptr},
    };
    for (Case const& c : cases) {
        std::string const expected = c.expected != nullptr ? c.expected : stamp(kSample);
        FTime narrow(kSample);
        narrow = c.input;
        EXPECT_EQ(stamp(narrow), expected) << (c.input ? c.input : "(null)");
        char const* const narrowInput = c.input != nullptr ? c.input : "";
        std::wstring const wide(narrowInput, narrowInput + std::strlen(narrowInput));
        FTime widened(kSample);
        widened = FGStr<wchar_t>(wide.c_str());
        EXPECT_EQ(stamp(widened), expected) << (c.input ? c.input : "(null)");
    }
    EXPECT_TRUE(FTime("nonsense").isCleared());
    EXPECT_EQ(stamp(FTime(L"2026-12-05T14:44:01")), "2026-12-05T14:44:01.000");
}

TEST(FTimeTest, ATimeEqualsItsTextOnlyWithoutMilliseconds) {
    FTime t(2026, 12, 5, 14, 44, 1, 0);
    EXPECT_TRUE(t == "2026-12-05T14:44:01");
    EXPECT_TRUE(t == L"2026-12-05T14:44:01");
    EXPECT_TRUE(t > "2026-12-05T14:44:00");
    EXPECT_TRUE(t < L"2026-12-05T14:44:02");
    t.MilliSeconds(1);
    EXPECT_TRUE(t != "2026-12-05T14:44:01");
}

// --- Moving and seconds since 1970 ---

TEST(FTimeTest, MovingNormalisesTheCalendarInUtc) {
    struct Case {
        FTime start;
        long long seconds;
        char const* expected;
    } const cases[] = {
        {FTime(2024, 2, 28, 12, 0, 0, 0), 86400, "2024-02-29T12:00:00.000"},
        {FTime(2024, 2, 29, 12, 0, 0, 0), 86400, "2024-03-01T12:00:00.000"},
        {FTime(2023, 2, 28, 12, 0, 0, 0), 86400, "2023-03-01T12:00:00.000"},
        {FTime(2000, 2, 28, 0, 0, 0, 0), 86400, "2000-02-29T00:00:00.000"},
        {FTime(1900, 2, 28, 0, 0, 0, 0), 86400, "1900-03-01T00:00:00.000"},
        {FTime(1600, 3, 1, 0, 0, 0, 0), -86400, "1600-02-29T00:00:00.000"},
        {FTime(2023, 2, 31, 0, 0, 0, 0), 0, "2023-03-03T00:00:00.000"},
        {FTime(2024, 4, 31, 0, 0, 0, 0), 0, "2024-05-01T00:00:00.000"},
        {FTime(2024, 12, 31, 23, 59, 59, 250), 1, "2025-01-01T00:00:00.250"},
        {FTime(1970, 1, 1, 0, 0, 0, 0), -1, "1969-12-31T23:59:59.000"},
        {FTime(2000, 1, 1, 0, 0, 0, 0), 4294967295LL, "2136-02-07T06:28:15.000"},
        {FTime(2136, 2, 7, 6, 28, 15, 0), -4294967295LL, "2000-01-01T00:00:00.000"},
        {FTime(false), 5, "0000-00-00T00:00:00.000"}, // no time to move
        {FTime(false), -5, "0000-00-00T00:00:00.000"},
    };
    for (Case const& c : cases) {
        auto const n = static_cast<unsigned int>(c.seconds < 0 ? -c.seconds : c.seconds);
        FTime moved(c.start);
        if (c.seconds < 0) {
            moved -= n;
            EXPECT_EQ(stamp(c.start - n), c.expected);
        } else {
            moved += n;
            EXPECT_EQ(stamp(c.start + n), c.expected);
        }
        EXPECT_EQ(stamp(moved), c.expected) << stamp(c.start) << " by " << c.seconds;
    }
}

TEST(FTimeTest, MovingDoesNotDependOnTheHostTimeZone) {
    char const* const saved = std::getenv("TZ");
    std::string const savedZone = saved != nullptr ? saved : "";
    // Times inside the daylight-saving gaps of the zones below.
    FTime const gaps[] = {FTime(2024, 3, 10, 2, 30, 0, 0), FTime(2024, 3, 31, 2, 30, 0, 0),
                          FTime(2024, 9, 29, 2, 50, 0, 0)};
    for (char const* zone : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3", "IST-5:30",
                             "<+1245>-12:45<+1345>,M9.5.0/2:45,M4.1.0/3:45"}) {
        setenv("TZ", zone, 1);
        tzset();
        for (FTime const& gap : gaps) {
            EXPECT_EQ(stamp(gap + 0u), stamp(gap)) << zone;
        }
        EXPECT_EQ(stamp(FTime(2024, 2, 28, 12, 0, 0, 0) + 86400u), "2024-02-29T12:00:00.000") << zone;
        EXPECT_EQ(static_cast<unsigned int>(FTime(1970, 1, 1, 0, 0, 1, 0)), 1u) << zone;
    }
    if (saved != nullptr) {
        setenv("TZ", savedZone.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(FTimeTest, ThirtyTwoBitSecondsConvertBothWays) {
    struct Case {
        unsigned int seconds;
        char const* expected;
    } const cases[] = {
        {0u, "1970-01-01T00:00:00.000"},
        {1u, "1970-01-01T00:00:01.000"},
        {1796481841u, "2026-12-05T14:44:01.000"},
        {0xFFFFFFFFu, "2106-02-07T06:28:15.000"},
    };
    for (Case const& c : cases) {
        FTime const t(c.seconds);
        EXPECT_EQ(stamp(t), c.expected);
        EXPECT_EQ(static_cast<unsigned int>(t), c.seconds);
        EXPECT_TRUE(t == c.seconds);
        FTime assigned(kSample);
        assigned = c.seconds;
        EXPECT_EQ(stamp(assigned), c.expected);
    }
    FTime const oneSecond(1970, 1, 1, 0, 0, 1, 999);
    EXPECT_TRUE(oneSecond == 1u); // milliseconds ignored
    EXPECT_TRUE(oneSecond < 2u);
    EXPECT_TRUE(oneSecond > 0u);
    EXPECT_EQ(static_cast<unsigned int>(FTime(1969, 12, 31, 23, 59, 59, 0)),
              0xFFFFFFFFu); // reduced to 32 bits
}

// --- Clock ---

TEST(FTimeTest, NowAndTheMillisecondClockFollowTheSystemClock) {
    auto const before = static_cast<unsigned long long>(std::time(nullptr));
    unsigned long long const millis = GetSystemTimeMillis();
    FTime const now(true);
    unsigned int const ticks = GetTickCount();
    unsigned long long const millisAfter = GetSystemTimeMillis();
    auto const after = static_cast<unsigned long long>(std::time(nullptr));

    EXPECT_FALSE(now.isCleared());
    EXPECT_GE(static_cast<unsigned int>(now), before);
    EXPECT_LE(static_cast<unsigned int>(now), after);
    EXPECT_GE(millis / 1000, before);
    EXPECT_LE(millis, millisAfter);
    EXPECT_LE(millisAfter / 1000, after);
    // The ticks lie between the two readings, modulo 32 bits.
    auto const first = static_cast<unsigned int>(millis / 10);
    EXPECT_LE(ticks - first, static_cast<unsigned int>(millisAfter / 10) - first);
}

TEST(FTimeTest, FillTmClearsTheRecordAndOffsetsMonthAndYear) {
    std::tm record{};
    record.tm_wday = 5;
    record.tm_yday = 100;
    record.tm_isdst = 1;
    fill_tm(record, 1, 44, 14, 5, 12, 2026);
    EXPECT_EQ(std::make_tuple(record.tm_sec, record.tm_min, record.tm_hour, record.tm_mday, record.tm_mon,
                              record.tm_year, record.tm_wday, record.tm_yday, record.tm_isdst),
              std::make_tuple(1, 44, 14, 5, 11, 126, 0, 0, 0));
}
