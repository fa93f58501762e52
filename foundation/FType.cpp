#include "FType.h"

#include "FTypeValue.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/random.h>
#include <sys/time.h>
#include <unistd.h>

namespace FSpace {

// ---------------------------------------------------------------------------
// Exceptions

FException& FException::operator=(FException const& other) noexcept {
    if (this != &other) {
        m_what = other.what();
        m_where = other.where();
        m_why = other.why();
    }
    return *this;
}

char const* FException::what() const noexcept {
    return m_what != nullptr ? m_what : "";
}

FXCNotImplemented::FXCNotImplemented(char const* where, char const* why) noexcept
    : FException(1025, "Not implemented", where, why) {}

FXCOutOfBounds::FXCOutOfBounds(char const* where, char const* why) noexcept
    : FException(1026, "Out of bounds", where, why) {}

// ---------------------------------------------------------------------------
// Threads

FThreadLock_T<pthread_mutex_t>::FThreadLock_T() noexcept {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

FThreadLock_T<pthread_mutex_t>::~FThreadLock_T() {
    pthread_mutex_destroy(&m_mutex);
}

void FThreadLock_T<pthread_mutex_t>::lock() noexcept {
    // What these locks guard is short (a list change, the write of one log
    // line), so a thread that finds the lock taken tries again for a moment
    // before it sleeps: going to sleep and being woken costs two system calls,
    // more than the wait itself. With one processor the holder cannot run
    // while we spin, so there is no point.
    static int const spins = sysconf(_SC_NPROCESSORS_ONLN) > 1 ? kSpins : 0;
    for (int i = 0; i < spins; ++i) {
        if (pthread_mutex_trylock(&m_mutex) == 0) {
            return;
        }
        __builtin_ia32_pause();
    }
    pthread_mutex_lock(&m_mutex);
}

void FThreadLock_T<pthread_mutex_t>::unlock() noexcept {
    pthread_mutex_unlock(&m_mutex);
}

bool FThreadLock_T<pthread_mutex_t>::tryLock() noexcept {
    return pthread_mutex_trylock(&m_mutex) == 0;
}

// ---------------------------------------------------------------------------
// Debug facility

FArray<void*, FAllocationBuf<void*>> g_eventregistrations;
FThreadLock_T<pthread_mutex_t> g_eventreg_cs;
FExceptionHandlerRef g_ref_Exception_Handler_Delegate;

void f_dbg_error(char const* expression, char const* file, unsigned int line, bool fatal) {
    std::printf("%s - File: %s - Line: %u\n", expression != nullptr ? expression : "",
                file != nullptr ? file : "", line);
    std::fflush(stdout);
    if (fatal) {
        std::abort();
    }
}

void f_dbg_breakpoint() noexcept {}

void f_dbg_trace(char const*) noexcept {}

namespace {

long findRegistration(void* p) noexcept {
    for (long i = 0; i < g_eventregistrations.Count(); ++i) {
        if (g_eventregistrations.data()[i] == p) {
            return i;
        }
    }
    return -1;
}

} // namespace

void f_dbg_add_eventreg(void* p) {
    FThreadLockGuard guard(g_eventreg_cs);
    g_eventregistrations.add(p);
}

void f_dbg_rem_eventreg(void* p) {
    long index;
    {
        FThreadLockGuard guard(g_eventreg_cs);
        index = findRegistration(p);
        if (index >= 0) {
            g_eventregistrations.remove(index, 1);
        }
    }
    if (index < 0) {
        throw -1;
    }
}

void f_dbg_check_eventreg(void* p) {
    long index;
    {
        FThreadLockGuard guard(g_eventreg_cs);
        index = findRegistration(p);
    }
    if (index >= 0) {
        throw -1;
    }
}

void g_setExceptionHandler(FExceptionHandlerRef handler) noexcept {
    g_ref_Exception_Handler_Delegate = handler;
}

// ---------------------------------------------------------------------------
// Objects

FDispatchable<FThreadLock_T<pthread_mutex_t>>::~FDispatchable() {
    m_lock.lock();
    for (long i = m_methods.Count() - 1; i >= 0; --i) {
        delete m_methods[i];
    }
    m_methods.il_removeAll();
    m_lock.unlock();
}

void FDispatchable<FThreadLock_T<pthread_mutex_t>>::addInvokableMethod(FInvokableMethod* method) {
    FThreadLockGuard guard(m_lock);
    m_methods.add(method);
}

FInvokableMethod* FDispatchable<FThreadLock_T<pthread_mutex_t>>::findInvokable(char const* name,
                                                                               long& index) {
    if (name == nullptr) {
        throw FInvalidOperationException();
    }
    FThreadLockGuard guard(m_lock);
    for (long i = 0; i < m_methods.Count(); ++i) {
        if (m_methods[i]->name() == name) {
            index = i;
            return m_methods[i];
        }
    }
    throw FInvalidOperationException();
}

TFValueBase<FTypeId>
FDispatchable<FThreadLock_T<pthread_mutex_t>>::invokeByName(char const* name,
                                                            FList<TFValueBase<FTypeId>>& args) {
    long index = -1;
    FInvokableMethod* method = findInvokable(name, index);
    return method->invoke(args, index);
}

// ---------------------------------------------------------------------------
// Libraries

FLibraryResource::FLibraryResource(wchar_t const* library, wchar_t const* resource)
    : m_library(library), m_resource(resource) {}

FLibraryResource::~FLibraryResource() = default;

int FLibrary::load(wchar_t const*, wchar_t const*, int (*&entry)()) noexcept {
    entry = nullptr;
    return 0;
}

void FLibrary::clone(int (*)()) noexcept {}

void FLibrary::release(wchar_t const*, wchar_t const*) noexcept {}

void FLibrary::release(int (*)()) noexcept {}

// ---------------------------------------------------------------------------
// Time

namespace {

constexpr long long kSecondsPerDay = 86400;

long long floorDiv(long long a, long long b) noexcept {
    long long const q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

/// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
/// Months outside 1-12 and days outside the month carry over into the
/// neighbouring months and years, so any field values give a defined day.
long long daysFromCivil(long long year, long long month, long long day) noexcept {
    long long const monthIndex = month - 1;
    year += floorDiv(monthIndex, 12);
    month = monthIndex - floorDiv(monthIndex, 12) * 12 + 1;
    if (month <= 2) {
        --year;
    }
    long long const era = floorDiv(year, 400);
    long long const yearOfEra = year - era * 400;
    long long const dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;
    long long const dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468 + (day - 1);
}

struct CivilDate {
    long long year;
    unsigned month;
    unsigned day;
};

CivilDate civilFromDays(long long days) noexcept {
    days += 719468;
    long long const era = floorDiv(days, 146097);
    long long const dayOfEra = days - era * 146097;
    long long const yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    long long const dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    long long const shiftedMonth = (5 * dayOfYear + 2) / 153;
    auto const day = static_cast<unsigned>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    auto const month = static_cast<unsigned>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

unsigned short validYear(unsigned v) noexcept {
    return static_cast<unsigned short>(v >= 1600 && v <= 3000 ? v : 1970);
}
unsigned char validMonth(unsigned v) noexcept {
    return static_cast<unsigned char>(v >= 1 && v <= 12 ? v : 1);
}
unsigned char validDay(unsigned v) noexcept {
    return static_cast<unsigned char>(v >= 1 && v <= 31 ? v : 1);
}
unsigned char validHour(unsigned v) noexcept {
    return static_cast<unsigned char>(v <= 23 ? v : 0);
}
unsigned char validMinuteOrSecond(unsigned v) noexcept {
    return static_cast<unsigned char>(v <= 59 ? v : 0);
}
unsigned short validMilliseconds(unsigned v) noexcept {
    return static_cast<unsigned short>(v <= 999 ? v : 999);
}

/// The wide text narrowed to its low 8 bits, as the library converts text.
FGStr<char> narrowed(wchar_t const* text) noexcept {
    FGStr<char> result;
    result.appendValueOf(text);
    return result;
}

} // namespace

FTime::FTime(bool now) noexcept {
    if (now) {
        setNow();
    }
}

FTime::FTime(unsigned short year, unsigned char month, unsigned char day, unsigned char hour,
             unsigned char minute, unsigned char second, unsigned short milliseconds) noexcept {
    set(year, month, day, hour, minute, second, milliseconds);
}

FTime::FTime(char const* text) noexcept {
    *this = text;
}

FTime::FTime(wchar_t const* text) noexcept {
    *this = text;
}

FTime::FTime(FGStr<char> const& text) noexcept {
    *this = text;
}

FTime::FTime(FGStr<wchar_t> const& text) noexcept {
    *this = text;
}

FTime::FTime(unsigned int seconds) noexcept {
    *this = seconds;
}

FTime::FTime(unsigned long long packed) noexcept {
    *this = packed;
}

FTime& FTime::operator=(char const* text) noexcept {
    parse(FGStr<char>(text));
    return *this;
}

FTime& FTime::operator=(wchar_t const* text) noexcept {
    parse(narrowed(text));
    return *this;
}

FTime& FTime::operator=(FGStr<char> const& text) noexcept {
    parse(text);
    return *this;
}

FTime& FTime::operator=(FGStr<wchar_t> const& text) noexcept {
    parse(narrowed(text));
    return *this;
}

FTime& FTime::operator=(unsigned int seconds) noexcept {
    setFromSeconds(seconds);
    m_milliseconds = 0;
    return *this;
}

FTime& FTime::operator=(unsigned long long packed) noexcept {
    set(static_cast<unsigned short>(packed >> 36 & 0xFFF), static_cast<unsigned char>(packed >> 32 & 0xF),
        static_cast<unsigned char>(packed >> 27 & 0x1F), static_cast<unsigned char>(packed >> 22 & 0x1F),
        static_cast<unsigned char>(packed >> 16 & 0x3F), static_cast<unsigned char>(packed >> 10 & 0x3F),
        static_cast<unsigned short>(packed & 0x3FF));
    return *this;
}

void FTime::set(unsigned short year, unsigned char month, unsigned char day, unsigned char hour,
                unsigned char minute, unsigned char second, unsigned short milliseconds) noexcept {
    setDate(year, month, day);
    setTime(hour, minute, second, milliseconds);
}

void FTime::setNow() noexcept {
    // One clock read for both parts, so the milliseconds belong to the second.
    timeval now{};
    gettimeofday(&now, nullptr);
    setFromSeconds(now.tv_sec);
    m_milliseconds = static_cast<unsigned short>(now.tv_usec / 1000);
    long long const days = floorDiv(now.tv_sec, kSecondsPerDay);
    m_dayOfWeek = static_cast<unsigned char>(days + 4 - floorDiv(days + 4, 7) * 7); // 1970-01-01: Thursday
}

void FTime::setDate(unsigned short year, unsigned char month, unsigned char day) noexcept {
    m_year = validYear(year);
    m_month = validMonth(month);
    m_day = validDay(day);
}

void FTime::setTime(unsigned char hour, unsigned char minute, unsigned char second,
                    unsigned short milliseconds) noexcept {
    m_hour = validHour(hour);
    m_minute = validMinuteOrSecond(minute);
    m_second = validMinuteOrSecond(second);
    m_milliseconds = validMilliseconds(milliseconds);
}

void FTime::clear() noexcept {
    *this = FTime();
}

bool FTime::isCleared() const noexcept {
    return m_year == 0 && m_month == 0 && m_day == 0 && m_hour == 0 && m_minute == 0 && m_second == 0 &&
           m_milliseconds == 0;
}

unsigned short FTime::Year(unsigned short v) noexcept {
    return m_year = validYear(v);
}
unsigned char FTime::Month(unsigned char v) noexcept {
    return m_month = validMonth(v);
}
unsigned char FTime::Day(unsigned char v) noexcept {
    return m_day = validDay(v);
}
unsigned char FTime::Hour(unsigned char v) noexcept {
    return m_hour = validHour(v);
}
unsigned char FTime::Minute(unsigned char v) noexcept {
    return m_minute = validMinuteOrSecond(v);
}
unsigned char FTime::Second(unsigned char v) noexcept {
    return m_second = validMinuteOrSecond(v);
}
unsigned short FTime::MilliSeconds(unsigned short v) noexcept {
    return m_milliseconds = static_cast<unsigned short>(v <= 999 ? v : 0);
}

FTime::operator unsigned long long() const noexcept {
    return static_cast<unsigned long long>(m_year) << 36 | static_cast<unsigned long long>(m_month) << 32 |
           static_cast<unsigned long long>(m_day) << 27 | static_cast<unsigned long long>(m_hour) << 22 |
           static_cast<unsigned long long>(m_minute) << 16 | static_cast<unsigned long long>(m_second) << 10 |
           m_milliseconds;
}

FTime::operator unsigned int() const noexcept {
    return static_cast<unsigned int>(secondsSinceEpoch());
}

template <typename T>
FGStr<T> FTime::render(bool withMilliseconds) const noexcept {
    FMStr<T> text(24);
    text.appendValueOf(m_year, 4);
    text << static_cast<T>('-');
    text.appendValueOf(m_month, 2);
    text << static_cast<T>('-');
    text.appendValueOf(m_day, 2);
    text << static_cast<T>('T');
    text.appendValueOf(m_hour, 2);
    text << static_cast<T>(':');
    text.appendValueOf(m_minute, 2);
    text << static_cast<T>(':');
    text.appendValueOf(m_second, 2);
    if (withMilliseconds) {
        text << static_cast<T>('.');
        text.appendValueOf(m_milliseconds, 3);
    }
    return FGStr<T>(text);
}

FGStr<char> FTime::toCString() const noexcept {
    return render<char>(false);
}
FGStr<wchar_t> FTime::toWString() const noexcept {
    return render<wchar_t>(false);
}
FGStr<char> FTime::toCStringEx() const noexcept {
    return render<char>(true);
}
FGStr<wchar_t> FTime::toWStringEx() const noexcept {
    return render<wchar_t>(true);
}

long long FTime::operator-(FTime const& other) const noexcept {
    return secondsSinceEpoch() - other.secondsSinceEpoch();
}

FTime& FTime::operator+=(unsigned int seconds) noexcept {
    if (!isCleared()) {
        setFromSeconds(secondsSinceEpoch() + seconds);
    }
    return *this;
}

FTime& FTime::operator-=(unsigned int seconds) noexcept {
    if (!isCleared()) {
        setFromSeconds(secondsSinceEpoch() - seconds);
    }
    return *this;
}

FTime FTime::operator+(unsigned int seconds) const noexcept {
    FTime moved(*this);
    return moved += seconds;
}

FTime FTime::operator-(unsigned int seconds) const noexcept {
    FTime moved(*this);
    return moved -= seconds;
}

bool FTime::operator==(FTime const& other) const noexcept {
    return static_cast<unsigned long long>(*this) == static_cast<unsigned long long>(other);
}
bool FTime::operator<(FTime const& other) const noexcept {
    return static_cast<unsigned long long>(*this) < static_cast<unsigned long long>(other);
}
bool FTime::operator>(FTime const& other) const noexcept {
    return static_cast<unsigned long long>(*this) > static_cast<unsigned long long>(other);
}
bool FTime::operator==(unsigned long long packed) const noexcept {
    return static_cast<unsigned long long>(*this) == packed;
}
bool FTime::operator<(unsigned long long packed) const noexcept {
    return static_cast<unsigned long long>(*this) < packed;
}
bool FTime::operator>(unsigned long long packed) const noexcept {
    return static_cast<unsigned long long>(*this) > packed;
}
bool FTime::operator==(unsigned int seconds) const noexcept {
    return static_cast<unsigned int>(*this) == seconds;
}
bool FTime::operator<(unsigned int seconds) const noexcept {
    return static_cast<unsigned int>(*this) < seconds;
}
bool FTime::operator>(unsigned int seconds) const noexcept {
    return static_cast<unsigned int>(*this) > seconds;
}

long long FTime::secondsSinceEpoch() const noexcept {
    return daysFromCivil(m_year, m_month, m_day) * kSecondsPerDay + m_hour * 3600LL + m_minute * 60LL +
           m_second;
}

void FTime::setFromSeconds(long long seconds) noexcept {
    long long const days = floorDiv(seconds, kSecondsPerDay);
    long long const clock = seconds - days * kSecondsPerDay;
    CivilDate const date = civilFromDays(days);
    // Years stay far inside 16 bits: from a valid date, 32 bits of seconds move
    // it by at most 137 years.
    m_year = static_cast<unsigned short>(date.year);
    m_month = static_cast<unsigned char>(date.month);
    m_day = static_cast<unsigned char>(date.day);
    m_hour = static_cast<unsigned char>(clock / 3600);
    m_minute = static_cast<unsigned char>(clock / 60 % 60);
    m_second = static_cast<unsigned char>(clock % 60);
}

void FTime::parse(FGStr<char> const& text) noexcept {
    FGStr<char>::Pieces const halves = text.split('T');
    if (halves.Count() != 2) {
        return;
    }
    FGStr<char>::Pieces const date = halves[0].split('-');
    FGStr<char>::Pieces const clock = halves[1].split(':');
    if (date.Count() != 3 || clock.Count() != 3) {
        return;
    }
    set(date[0].toUInt16(), date[1].toUInt8(), date[2].toUInt8(), clock[0].toUInt8(), clock[1].toUInt8(),
        clock[2].toUInt8(), 0);
}

void fill_tm(std::tm& record, int second, int minute, int hour, int day, int month, int year) noexcept {
    record = std::tm{};
    record.tm_sec = second;
    record.tm_min = minute;
    record.tm_hour = hour;
    record.tm_mday = day;
    record.tm_mon = month - 1;
    record.tm_year = year - 1900;
    record.tm_isdst = 0;
}

unsigned long long GetSystemTimeMillis() noexcept {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<unsigned long long>(now.tv_sec) * 1000ULL +
           static_cast<unsigned long long>(now.tv_usec) / 1000ULL;
}

unsigned int GetTickCount() noexcept {
    return static_cast<unsigned int>(GetSystemTimeMillis() / 10);
}

// ---------------------------------------------------------------------------
// GUIDs

namespace {

/// Fills \p buffer from the kernel's random source; false if it could not be read.
bool readRandom(unsigned char* buffer, std::size_t n) noexcept {
    std::size_t done = 0;
    while (done < n) {
        ssize_t const got = getrandom(buffer + done, n - done, 0);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
        } else if (got < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

} // namespace

FGUID::FGUID(unsigned int first, unsigned short second, unsigned short third, unsigned char b8,
             unsigned char b9, unsigned char b10, unsigned char b11, unsigned char b12, unsigned char b13,
             unsigned char b14, unsigned char b15) noexcept
    : m_data1(first), m_data2(second), m_data3(third), m_data4{b8, b9, b10, b11, b12, b13, b14, b15} {}

FGUID::FGUID(unsigned int first, unsigned short second, unsigned short third, unsigned short fourth,
             unsigned char b10, unsigned char b11, unsigned char b12, unsigned char b13, unsigned char b14,
             unsigned char b15) noexcept
    : FGUID(first, second, third, static_cast<unsigned char>(fourth & 0xFF),
            static_cast<unsigned char>(fourth >> 8), b10, b11, b12, b13, b14, b15) {}

FGUID::FGUID(unsigned int first, unsigned short second, unsigned short third, unsigned short fourth,
             char const* node) noexcept
    : FGUID(first, second, third, fourth, 0, 0, 0, 0, 0, 0) {
    // Look at no more than six characters, so a short text is never overrun.
    int length = 0;
    while (node != nullptr && length < 6 && node[length] != 0) {
        ++length;
    }
    if (length >= 5) {
        for (int i = 0; i < length; ++i) {
            m_data4[2 + i] = static_cast<unsigned char>(node[i]);
        }
    }
}

FGUID::FGUID(FStrToken<char> token) noexcept {
    parse(token);
}

FGUID::FGUID(FStrToken<wchar_t> token) noexcept {
    parse(token);
}

FGUID& FGUID::operator=(FGUID const* other) noexcept {
    if (other != nullptr) {
        *this = *other;
    }
    return *this;
}

FGUID& FGUID::operator=(FStrToken<char> token) noexcept {
    parse(token);
    return *this;
}

FGUID& FGUID::operator=(FStrToken<wchar_t> token) noexcept {
    parse(token);
    return *this;
}

template <typename T>
void FGUID::parse(FStrToken<T> token) noexcept {
    if (token.Length() > 0 && token[0] == static_cast<T>('{')) {
        token = token.subString(1, token.Length() - 2 < 0 ? 0 : token.Length() - 2);
    }
    typename FGStr<T>::Pieces const pieces = FGStr<T>(token).split(static_cast<T>('-'));
    clear();
    if (pieces.Count() != 5) {
        return;
    }
    m_data1 = pieces[0].hexToUInt32();
    m_data2 = pieces[1].hexToUInt16();
    m_data3 = pieces[2].hexToUInt16();
    pieces[3].hexTo(m_data4, 2);
    pieces[4].hexTo(m_data4 + 2, 6);
}

void FGUID::clear() noexcept {
    *this = FGUID();
}

void FGUID::generate() noexcept {
    unsigned char bytes[16];
    if (readRandom(bytes, sizeof bytes)) {
        fromBytes(bytes);
    } else {
        clear();
    }
}

bool FGUID::isCleared() const noexcept {
    return *this == FGUID();
}

bool FGUID::operator==(FGUID const& other) const noexcept {
    return m_data1 == other.m_data1 && m_data2 == other.m_data2 && m_data3 == other.m_data3 &&
           std::memcmp(m_data4, other.m_data4, sizeof m_data4) == 0;
}

bool FGUID::operator<(FGUID const& other) const noexcept {
    unsigned char mine[16];
    unsigned char theirs[16];
    toBytes(mine);
    other.toBytes(theirs);
    for (int i = 0; i < 16; ++i) {
        auto const a = static_cast<signed char>(mine[i]);
        auto const b = static_cast<signed char>(theirs[i]);
        if (a != b) {
            return a < b;
        }
    }
    return false;
}

template <typename T>
FMStr<T> FGUID::render() const noexcept {
    FMStr<T> text(40);
    text << static_cast<T>('{');
    text.appendHexOf(m_data1);
    text << static_cast<T>('-');
    text.appendHexOf(m_data2);
    text << static_cast<T>('-');
    text.appendHexOf(m_data3);
    text << static_cast<T>('-');
    for (int i = 0; i < 8; ++i) {
        if (i == 2) {
            text << static_cast<T>('-');
        }
        text.appendHexOf(m_data4[i]);
    }
    text << static_cast<T>('}');
    return text;
}

FGStr<char> FGUID::toCString() const noexcept {
    return FGStr<char>(render<char>());
}

FMStr<wchar_t> FGUID::toString() const noexcept {
    return render<wchar_t>();
}

FGStr<wchar_t> FGUID::toWString() const noexcept {
    return FGStr<wchar_t>(render<wchar_t>());
}

void FGUID::toBytes(unsigned char (&bytes)[16]) const noexcept {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>(m_data1 >> (8 * i));
    }
    bytes[4] = static_cast<unsigned char>(m_data2);
    bytes[5] = static_cast<unsigned char>(m_data2 >> 8);
    bytes[6] = static_cast<unsigned char>(m_data3);
    bytes[7] = static_cast<unsigned char>(m_data3 >> 8);
    std::memcpy(bytes + 8, m_data4, sizeof m_data4);
}

void FGUID::fromBytes(unsigned char const (&bytes)[16]) noexcept {
    m_data1 = 0;
    for (int i = 0; i < 4; ++i) {
        m_data1 |= static_cast<unsigned int>(bytes[i]) << (8 * i);
    }
    m_data2 = static_cast<unsigned short>(bytes[4] | bytes[5] << 8);
    m_data3 = static_cast<unsigned short>(bytes[6] | bytes[7] << 8);
    std::memcpy(m_data4, bytes + 8, sizeof m_data4);
}

// ---------------------------------------------------------------------------
// Bit fields

namespace {

long bytesFor(int bits) noexcept {
    return bits < 1 ? 0 : (static_cast<long>(bits) + 7) / 8;
}

constexpr char const* kBitFieldPlace = "FBitField::get";

} // namespace

unsigned char* FBITFIELD::create(int n) {
    // Zeroed, so that no bit is ever read before it has a value.
    return n < 1 ? nullptr : new unsigned char[static_cast<std::size_t>(bytesFor(n))]();
}

void FBITFIELD::release(unsigned char* buffer) noexcept {
    delete[] buffer;
}

void FBITFIELD::bit(unsigned char* buffer, int i, bool value) noexcept {
    auto const mask = static_cast<unsigned char>(1U << (i % 8));
    if (value) {
        buffer[i / 8] = static_cast<unsigned char>(buffer[i / 8] | mask);
    } else {
        buffer[i / 8] = static_cast<unsigned char>(buffer[i / 8] & ~mask);
    }
}

bool FBITFIELD::bit(unsigned char const* buffer, int i) noexcept {
    return (buffer[i / 8] >> (i % 8) & 1U) != 0;
}

bool FBITFIELD::bitOr(unsigned char* buffer, int i, bool value) noexcept {
    bool const result = bit(buffer, i) || value;
    bit(buffer, i, result);
    return result;
}

bool FBITFIELD::bitAnd(unsigned char* buffer, int i, bool value) noexcept {
    bool const result = bit(buffer, i) && value;
    bit(buffer, i, result);
    return result;
}

void FBITFIELD::bit(unsigned char* target, int start, unsigned char const* source, int n) noexcept {
    for (int k = 0; k < n; ++k) {
        bit(target, start + k, bit(source, k));
    }
}

void FBITFIELD::bitOr(unsigned char* target, int start, unsigned char const* source, int n) noexcept {
    for (int k = 0; k < n; ++k) {
        bitOr(target, start + k, bit(source, k));
    }
}

void FBITFIELD::bitAnd(unsigned char* target, int start, unsigned char const* source, int n) noexcept {
    for (int k = 0; k < n; ++k) {
        bitAnd(target, start + k, bit(source, k));
    }
}

bool FBITFIELD::equals(unsigned char const* a, unsigned char const* b, int n) noexcept {
    if (n < 1) {
        return true;
    }
    auto const whole = static_cast<std::size_t>(n / 8);
    if (std::memcmp(a, b, whole) != 0) {
        return false;
    }
    int const rest = n % 8;
    if (rest == 0) {
        return true;
    }
    auto const mask = static_cast<unsigned char>((1U << rest) - 1);
    return (a[whole] & mask) == (b[whole] & mask);
}

unsigned char* FBITFIELD::copy(unsigned char const* buffer, int n) {
    return n < 1 ? nullptr : FGStr<unsigned char>::copy(buffer, bytesFor(n));
}

void FBITFIELD::clear(unsigned char* buffer, int n) noexcept {
    if (n >= 1) {
        std::memset(buffer, 0, static_cast<std::size_t>(bytesFor(n)));
    }
}

FBITFIELD::FBITFIELD(int n) : m_pBuffer(create(n)), m_length(n < 1 ? 0 : n) {}

FBITFIELD::FBITFIELD(unsigned char const* buffer, int n)
    : m_pBuffer(buffer != nullptr ? copy(buffer, n) : create(n)), m_length(n < 1 ? 0 : n) {}

FBITFIELD::FBITFIELD(FBITFIELD const& source, int start, int n) {
    if (n < 1) {
        return;
    }
    source.checkRange(start, n);
    m_pBuffer = create(n);
    m_length = n;
    for (int k = 0; k < n; ++k) {
        bit(m_pBuffer, k, bit(source.m_pBuffer, start + k));
    }
}

FBITFIELD::FBITFIELD(FBITFIELD const& other)
    : m_pBuffer(copy(other.m_pBuffer, other.m_length)), m_length(other.m_length) {}

FBITFIELD::FBITFIELD(FBITFIELD&& other) noexcept
    : m_pBuffer(std::exchange(other.m_pBuffer, nullptr)), m_length(std::exchange(other.m_length, 0)) {}

FBITFIELD& FBITFIELD::operator=(FBITFIELD const& other) {
    if (this != &other) {
        unsigned char* fresh = copy(other.m_pBuffer, other.m_length);
        release(m_pBuffer);
        m_pBuffer = fresh;
        m_length = other.m_length;
    }
    return *this;
}

FBITFIELD& FBITFIELD::operator=(FBITFIELD&& other) noexcept {
    if (this != &other) {
        release(m_pBuffer);
        m_pBuffer = std::exchange(other.m_pBuffer, nullptr);
        m_length = std::exchange(other.m_length, 0);
    }
    return *this;
}

FBITFIELD::~FBITFIELD() {
    release(m_pBuffer);
}

bool FBITFIELD::get(int i) const {
    check(i);
    return bit(m_pBuffer, i);
}

void FBITFIELD::set(int i, bool value) {
    check(i);
    bit(m_pBuffer, i, value);
}

FBITFIELD& FBITFIELD::operator+=(int i) {
    set(i, true);
    return *this;
}

FBITFIELD& FBITFIELD::operator-=(int i) {
    set(i, false);
    return *this;
}

void FBITFIELD::set(int start, FBITFIELD const& other) {
    if (other.m_length < 1) {
        return;
    }
    checkRange(start, other.m_length);
    if (&other != this) { // otherwise start is 0 and the bits are in place
        bit(m_pBuffer, start, other.m_pBuffer, other.m_length);
    }
}

void FBITFIELD::clear() noexcept {
    clear(m_pBuffer, m_length);
}

FBITFIELD& FBITFIELD::operator+=(FBITFIELD const& other) {
    long long const total = static_cast<long long>(m_length) + other.m_length;
    if (total > 0x7FFFFFFF) {
        throw FXCOutOfBounds("FBitField::operator+=", "length beyond 32 bits");
    }
    int const otherLength = other.m_length;
    unsigned char* fresh = create(static_cast<int>(total));
    if (fresh != nullptr) {
        bit(fresh, 0, m_pBuffer, m_length);
        bit(fresh, m_length, other.m_pBuffer, otherLength);
    }
    release(m_pBuffer);
    m_pBuffer = fresh;
    m_length = static_cast<int>(total);
    return *this;
}

FBITFIELD FBITFIELD::operator|(FBITFIELD const& other) const {
    FBITFIELD result(*this);
    return result |= other;
}

FBITFIELD FBITFIELD::operator&(FBITFIELD const& other) const {
    FBITFIELD result(*this);
    return result &= other;
}

FBITFIELD& FBITFIELD::operator|=(FBITFIELD const& other) noexcept {
    bitOr(m_pBuffer, 0, other.m_pBuffer, other.m_length < m_length ? other.m_length : m_length);
    return *this;
}

FBITFIELD& FBITFIELD::operator&=(FBITFIELD const& other) noexcept {
    bitAnd(m_pBuffer, 0, other.m_pBuffer, other.m_length < m_length ? other.m_length : m_length);
    return *this;
}

FBITFIELD FBITFIELD::operator~() const {
    FBITFIELD result(*this);
    result.invert();
    return result;
}

void FBITFIELD::invert() noexcept {
    for (long b = 0; b < bytesFor(m_length); ++b) {
        m_pBuffer[b] = static_cast<unsigned char>(~m_pBuffer[b]);
    }
}

void FBITFIELD::invert(int i) {
    set(i, !get(i));
}

bool FBITFIELD::operator==(FBITFIELD const& other) const noexcept {
    return m_length == other.m_length && equals(m_pBuffer, other.m_pBuffer, m_length);
}

template <typename T>
FGStr<T> FBITFIELD::render() const noexcept {
    FMStr<T> text(m_length);
    for (int i = 0; i < m_length; ++i) {
        text << static_cast<T>(bit(m_pBuffer, i) ? '1' : '0');
    }
    return FGStr<T>(text);
}

FGStr<char> FBITFIELD::toCString() const noexcept {
    return render<char>();
}

FGStr<wchar_t> FBITFIELD::toWString() const noexcept {
    return render<wchar_t>();
}

void FBITFIELD::check(int i) const {
    if (i < 0 || i >= m_length) {
        throw FXCOutOfBounds(kBitFieldPlace, nullptr);
    }
}

void FBITFIELD::checkRange(int start, int n) const {
    if (start < 0 || static_cast<long long>(start) + n > m_length) {
        throw FXCOutOfBounds(kBitFieldPlace, nullptr);
    }
}

} // namespace FSpace
