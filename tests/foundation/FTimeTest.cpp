#include "FoundationTestSupport.h"

#include <chrono>
#include <ctime>

using namespace FSpace;
using namespace foundation_test;

namespace {

/// The time with milliseconds, the form every check below compares.
std::string stamp(FTime const& t) {
    return text(t.toCStringEx());
}

FTime const kSample(2026, 12, 5, 14, 44, 1, 123);

/// The time made from \p value, and the one assigned it where that differs.
template <class V>
std::string madeAndAssigned(V value) {
    FTime assigned(kSample);
    assigned = value;
    std::string const made = stamp(FTime(value));
    return stamp(assigned) == made ? made : made + ", assigned " + stamp(assigned);
}

} // namespace

TEST(FTimeTest, ClearedTimeRendersAsZerosInEveryForm) {
    FTime t(kSample);
    t.clear();
    EXPECT_TRUE(t.isCleared() && t == FTime(false) && static_cast<unsigned long long>(t) == 0ULL);
    EXPECT_EQ(text(t.toCString()) + " " + text(static_cast<FGStr<char>>(t)) + " " + stamp(t),
              "0000-00-00T00:00:00 0000-00-00T00:00:00 0000-00-00T00:00:00.000");
    EXPECT_EQ(text(t.toWStringEx()) + L" " + text(t.toWString()),
              L"0000-00-00T00:00:00.000 0000-00-00T00:00:00");
}

TEST(FTimeTest, SetAndTheFieldConstructorReplaceOutOfRangeFields) {
    // Year, month, day, hour, minute, second, milliseconds. The day is not checked against the month.
    using Fields = std::tuple<unsigned short, unsigned char, unsigned char, unsigned char, unsigned char,
                              unsigned char, unsigned short>;
    std::pair<Fields, char const*> const cases[] = {
        {{2024, 13, 0, 24, 60, 60, 1000}, "2024-01-01T00:00:00.999"},
        {{1599, 12, 31, 23, 59, 59, 999}, "1970-12-31T23:59:59.999"},
        {{3001, 1, 32, 0, 0, 0, 0}, "1970-01-01T00:00:00.000"},
        {{1600, 2, 31, 1, 2, 3, 4}, "1600-02-31T01:02:03.004"},
        {{3000, 255, 255, 255, 255, 255, 65535}, "3000-01-01T00:00:00.999"}};
    for (auto const& [fields, expected] : cases) {
        FTime set(kSample);
        std::apply([&set](auto... field) { set.set(field...); }, fields);
        EXPECT_EQ(stamp(set), expected);
        EXPECT_EQ(stamp(std::make_from_tuple<FTime>(fields)), expected);
    }
}

TEST(FTimeTest, SettersStoreReplacementsAndReturnWhatTheyStored) {
    // Each row: what a setter returned and the time after it, applied to the sample.
    auto after = [](std::function<unsigned(FTime&)> const& setter) {
        FTime t(kSample);
        unsigned const stored = setter(t);
        return std::to_string(stored) + " " + stamp(t);
    };
    EXPECT_ROWS(std::string,
                {after([](FTime& t) { return t.MilliSeconds(1000); }), "0 2026-12-05T14:44:01.000"},
                {after([](FTime& t) { return t.Year(1599); }), "1970 1970-12-05T14:44:01.123"},
                {after([](FTime& t) { return t.Year(3000); }), "3000 3000-12-05T14:44:01.123"},
                {after([](FTime& t) { return t.Month(13); }), "1 2026-01-05T14:44:01.123"},
                {after([](FTime& t) { return t.Day(0); }), "1 2026-12-01T14:44:01.123"},
                {after([](FTime& t) { return t.Day(31); }), "31 2026-12-31T14:44:01.123"},
                {after([](FTime& t) { return t.Hour(24); }), "0 2026-12-05T00:44:01.123"},
                {after([](FTime& t) { return t.Minute(60); }), "0 2026-12-05T14:00:01.123"},
                {after([](FTime& t) { return t.Second(59); }), "59 2026-12-05T14:44:59.123"});
    FTime t(kSample);
    t.setTime(10, 0, 0, 1000);
    std::string const timeSet = stamp(t);
    t.setDate(1599, 0, 32);
    EXPECT_EQ(timeSet + " " + stamp(t), "2026-12-05T10:00:00.999 1970-01-01T10:00:00.999");
}

TEST(FTimeTest, PackedFormRoundTripsAndReplacesBadFieldsWhenUnpacked) {
    EXPECT_TRUE(static_cast<unsigned long long>(kSample) == 0x7EAC2BAC047BULL &&
                kSample == 0x7EAC2BAC047BULL);
    // Bits 48-63 are not part of it; month 15, day 0 and 1023 ms are replaced.
    EXPECT_ROWS(std::string, {madeAndAssigned(0x7EAC2BAC047BULL), "2026-12-05T14:44:01.123"},
                {madeAndAssigned(0xFFFF7EAC2BAC047BULL), "2026-12-05T14:44:01.123"},
                {madeAndAssigned(0x7EAF03AC07FFULL), "2026-01-01T14:44:01.999"},
                {madeAndAssigned(0ULL), "1970-01-01T00:00:00.000"});
}

TEST(FTimeTest, ComparisonsFollowTheCalendarAndATimeEqualsItsTextOnlyWithoutMilliseconds) {
    FTime const earlier(2024, 12, 31, 23, 59, 59, 999);
    FTime const later(2025, 1, 1, 0, 0, 0, 0);
    FTime const t(2026, 12, 5, 14, 44, 1, 0), withMilliseconds(2026, 12, 5, 14, 44, 1, 1);
    EXPECT_ROWS(bool, {earlier < later, true}, {later > earlier, true}, {later < earlier, false},
                {earlier != later, true}, {earlier < static_cast<unsigned long long>(later), true},
                {t == "2026-12-05T14:44:01", true}, {t == L"2026-12-05T14:44:01", true},
                {t > "2026-12-05T14:44:00", true}, {t < L"2026-12-05T14:44:02", true},
                {withMilliseconds != "2026-12-05T14:44:01", true});
    EXPECT_ROWS(long long, {later - earlier, 1}, {earlier - later, -1},
                {FTime(2024, 3, 1, 0, 0, 0, 0) - FTime(2024, 2, 28, 0, 0, 0, 500), 2 * 86400});
}

TEST(FTimeTest, ParsingAcceptsOnlyTheFullForm) {
    // What parsing a text gives a copy of the sample ("unchanged" or the time), and the wide form's if other.
    auto parsed = [](char const* input) {
        FTime narrow(kSample);
        FTime wide(kSample);
        narrow = input;
        wide = FGStr<wchar_t>(widened(input != nullptr ? input : "").c_str());
        std::string const result = stamp(narrow) == stamp(kSample) ? "unchanged" : stamp(narrow);
        return stamp(wide) == stamp(narrow) ? result : result + ", wide " + stamp(wide);
    };
    EXPECT_ROWS(std::string, {parsed("2026-12-05T14:44:01"), "2026-12-05T14:44:01.000"},
                {parsed("1500-1-2T3:4:5"), "1970-01-02T03:04:05.000"},
                {parsed("2026-13-05T25:44:01"), "2026-01-05T00:44:01.000"},
                {parsed("2026-12-05 14:44:01"), "unchanged"}, {parsed("2026-12-05"), "unchanged"},
                {parsed("2026-12-05T14:44"), "unchanged"}, {parsed("2026-12-05-01T14:44:01"), "unchanged"},
                {parsed("2026-12-05T14:44:01T"), "unchanged"}, {parsed(""), "unchanged"},
                {parsed(nullptr), "unchanged"});
    EXPECT_TRUE(FTime("nonsense").isCleared());
}

TEST(FTimeTest, MovingNormalisesTheCalendarInUtc) {
    std::tuple<FTime, long long, char const*> const cases[] = {
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
        {FTime(false), 5, "0000-00-00T00:00:00.000"}, // nothing to move
        {FTime(false), -5, "0000-00-00T00:00:00.000"}};
    for (auto const& [start, seconds, expected] : cases) {
        auto const n = static_cast<unsigned int>(seconds < 0 ? -seconds : seconds);
        FTime moved(start);
        seconds < 0 ? moved -= n : moved += n;
        EXPECT_EQ(stamp(moved) + " " + stamp(seconds < 0 ? start - n : start + n),
                  std::string(expected) + " " + expected)
            << stamp(start) << " by " << seconds;
    }
}

TEST(FTimeTest, MovingDoesNotDependOnTheHostTimeZone) {
    // Times inside the daylight-saving gaps of the zones below.
    FTime const gaps[] = {FTime(2024, 3, 10, 2, 30, 0, 0), FTime(2024, 3, 31, 2, 30, 0, 0),
                          FTime(2024, 9, 29, 2, 50, 0, 0)};
    {
        ScopedEnv const tz("TZ", nullptr);
        for (char const* zone : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3", "IST-5:30",
                                 "<+1245>-12:45<+1345>,M9.5.0/2:45,M4.1.0/3:45"}) {
            tz.set(zone);
            tzset();
            for (FTime const& gap : gaps)
                EXPECT_EQ(stamp(gap + 0u), stamp(gap)) << zone;
            EXPECT_EQ(stamp(FTime(2024, 2, 28, 12, 0, 0, 0) + 86400u), "2024-02-29T12:00:00.000") << zone;
            EXPECT_EQ(static_cast<unsigned int>(FTime(1970, 1, 1, 0, 0, 1, 0)), 1u) << zone;
        }
    }
    tzset();
}

TEST(FTimeTest, ThirtyTwoBitSecondsConvertBothWays) {
    EXPECT_ROWS(std::string, {madeAndAssigned(0u), "1970-01-01T00:00:00.000"},
                {madeAndAssigned(1796481841u), "2026-12-05T14:44:01.000"},
                {madeAndAssigned(0xFFFFFFFFu), "2106-02-07T06:28:15.000"});
    for (unsigned int seconds : {0u, 1796481841u, 0xFFFFFFFFu})
        EXPECT_TRUE(static_cast<unsigned int>(FTime(seconds)) == seconds && FTime(seconds) == seconds)
            << seconds;
    FTime const oneSecond(1970, 1, 1, 0, 0, 1, 999); // milliseconds ignored
    EXPECT_ROWS(
        bool, {oneSecond == 1u, true}, {oneSecond < 2u, true}, {oneSecond > 0u, true},
        {static_cast<unsigned int>(FTime(1969, 12, 31, 23, 59, 59, 0)) == 0xFFFFFFFFu, true}); // 32 bits
}

TEST(FTimeTest, NowAndTheMillisecondClockFollowTheSystemClock) {
    // The readings around come from the precise clock: std::time() reads the
    // coarse one, which can still show the previous second just after a
    // second has begun.
    auto const seconds = [] {
        return static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::seconds>(
                                                   std::chrono::system_clock::now().time_since_epoch())
                                                   .count());
    };
    auto const before = seconds();
    unsigned long long const millis = GetSystemTimeMillis();
    FTime const now(true);
    unsigned int const ticks = GetTickCount();
    unsigned long long const millisAfter = GetSystemTimeMillis();
    auto const after = seconds();
    EXPECT_FALSE(now.isCleared());
    EXPECT_TRUE(before <= static_cast<unsigned int>(now) && static_cast<unsigned int>(now) <= after);
    EXPECT_TRUE(before <= millis / 1000 && millis <= millisAfter && millisAfter / 1000 <= after);
    // The ticks lie between the two readings, modulo 32 bits.
    auto const first = static_cast<unsigned int>(millis / 10);
    EXPECT_LE(ticks - first, static_cast<unsigned int>(millisAfter / 10) - first);
}

TEST(FTimeTest, FillTmClearsTheRecordAndOffsetsMonthAndYear) {
    std::tm record{};
    record.tm_wday = 5, record.tm_yday = 100, record.tm_isdst = 1;
    fill_tm(record, 1, 44, 14, 5, 12, 2026);
    EXPECT_EQ(std::make_tuple(record.tm_sec, record.tm_min, record.tm_hour, record.tm_mday, record.tm_mon,
                              record.tm_year, record.tm_wday, record.tm_yday, record.tm_isdst),
              std::make_tuple(1, 44, 14, 5, 11, 126, 0, 0, 0));
}
