#include "FTypeString.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace FSpace {

namespace {

template <typename T>
struct Literals;

template <>
struct Literals<char> {
    static constexpr char const* null = "";
    static constexpr char const* cr = "\r";
    static constexpr char const* lf = "\n";
    static constexpr char const* crlf = "\r\n";
    static constexpr char const* bomLE = "\xEF\xBB\xBF"; // UTF-8 mark
    static constexpr char const* bomBE = "\xEF\xBB\xBF";
};

template <>
struct Literals<wchar_t> {
    static constexpr wchar_t const* null = L"";
    static constexpr wchar_t const* cr = L"\r";
    static constexpr wchar_t const* lf = L"\n";
    static constexpr wchar_t const* crlf = L"\r\n";
    static constexpr char const* bomLE = "\xFF\xFE"; // UTF-16 marks, as bytes
    static constexpr char const* bomBE = "\xFE\xFF";
};

/// Elements compare as signed numbers of their own width.
template <typename T>
long signedValue(T c) noexcept {
    return static_cast<long>(static_cast<std::make_signed_t<T>>(c));
}

/// Blanks are the controls and the space. Bytes 0x80-0xFF are not blanks:
/// they are parts of non-ASCII characters, and trimming them would cut text.
template <typename T>
bool isBlank(T c) noexcept {
    long const v = signedValue(c);
    return v >= 0 && v < 33;
}

/// Element-by-element conversion: bytes zero-extend, wide elements keep the low 8 bits.
template <typename To, typename From>
To convertChar(From c) noexcept {
    if constexpr (std::is_same_v<To, From>) {
        return c;
    } else if constexpr (std::is_same_v<To, wchar_t>) {
        return static_cast<wchar_t>(static_cast<unsigned char>(c));
    } else {
        return static_cast<char>(static_cast<unsigned char>(static_cast<unsigned int>(c) & 0xFFu));
    }
}

/// Length of \p s, looking at no more than \p max elements.
template <typename T>
long boundedLength(T const* s, long max) noexcept {
    long n = 0;
    if (s != nullptr) {
        while (n < max && s[n] != 0) {
            ++n;
        }
    }
    return n;
}

/// A negative start counts from the end (at least 0).
long resolveStart(long start, long length) noexcept {
    if (start < 0) {
        start = length + start < 0 ? 0 : length + start;
    }
    return start;
}

template <typename T>
bool matchesAt(T const* s, T const* t, long lt) noexcept {
    for (long i = 0; i < lt; ++i) {
        if (s[i] != t[i]) {
            return false;
        }
    }
    return true;
}

template <typename T>
bool inSet(T c, T const* set, long lset) noexcept {
    for (long i = 0; i < lset; ++i) {
        if (set[i] == c) {
            return true;
        }
    }
    return false;
}

template <typename T>
long compareElements(T const* a, long la, T const* b, long lb, bool foldCase) noexcept {
    long const common = la < lb ? la : lb;
    for (long i = 0; i < common; ++i) {
        T x = a[i];
        T y = b[i];
        if (foldCase) {
            x = FGStr<T>::toLower(x);
            y = FGStr<T>::toLower(y);
        }
        if (x != y) {
            return signedValue(x) < signedValue(y) ? -1 : 1;
        }
    }
    return la - lb;
}

/// Accumulates decimal digits in the width of U, wrapping around.
template <typename U, typename T>
U parseUnsigned(T const* s, long n) noexcept {
    U value = 0;
    for (long i = 0; i < n; ++i) {
        T const c = s[i];
        if (c < '0' || c > '9') {
            break;
        }
        value = static_cast<U>(value * 10u + static_cast<unsigned>(c - '0'));
    }
    return value;
}

template <typename S, typename T>
S parseSigned(T const* s, long n) noexcept {
    using U = std::make_unsigned_t<S>;
    if (n < 1 || s == nullptr) {
        return 0;
    }
    bool const negative = s[0] == '-';
    U value = negative ? parseUnsigned<U>(s + 1, n - 1) : parseUnsigned<U>(s, n);
    if (negative) {
        value = static_cast<U>(0u - value);
    }
    return static_cast<S>(value);
}

/// Every element after an optional leading '-' is a digit or a '.', which
/// (re)starts the fraction; nothing is checked.
template <typename F, typename T>
F parseFloating(T const* s, long n) noexcept {
    if (n < 1 || s == nullptr) {
        return 0;
    }
    long i = 0;
    bool const negative = s[0] == '-';
    if (negative) {
        i = 1;
    }
    F value = 0;
    F divisor = 0; // 0 while before the first point
    for (; i < n; ++i) {
        T const c = s[i];
        if (c == '.') {
            divisor = 1;
            continue;
        }
        F const digit = static_cast<F>(static_cast<long>(c) - '0');
        if (divisor == 0) {
            value = value * 10 + digit;
        } else {
            divisor *= 10;
            value += digit / divisor;
        }
    }
    return negative ? -value : value;
}

template <typename U, typename T>
U parseHex(T const* s, long n, long digits) noexcept {
    if (n > digits) {
        n = digits;
    }
    U value = 0;
    for (long i = 0; i < n; ++i) {
        value = static_cast<U>((value << 4) | FGStr<T>::hexToNibble(s[i]));
    }
    return value;
}

template <typename T>
T hexDigit(unsigned v) noexcept {
    return static_cast<T>("0123456789abcdef"[v & 0xFu]);
}

template <typename T>
long writeHex(T* buffer, unsigned long long v, int bytes) noexcept {
    int const digits = bytes * 2;
    for (int i = 0; i < digits; ++i) {
        buffer[i] = hexDigit<T>(static_cast<unsigned>(v >> (4 * (digits - 1 - i))));
    }
    return digits;
}

/// Decimal text of a magnitude (and sign): digits least significant first,
/// then reversed. 23 elements hold 20 digits, a sign and the terminator.
template <typename T>
T* renderInteger(unsigned long long magnitude, bool negative, bool emptyWhenZero) {
    T* text = new T[23];
    long n = 0;
    while (magnitude != 0) {
        text[n++] = FGStr<T>::digitOf(static_cast<unsigned char>(magnitude % 10));
        magnitude /= 10;
    }
    if (n == 0) {
        if (!emptyWhenZero) {
            text[n++] = '0';
        }
    } else if (negative) {
        text[n++] = '-';
    }
    text[n] = 0;
    FGStr<T>::reverse(text, n);
    return text;
}

template <typename T, typename S>
T* renderSigned(S v, bool emptyWhenZero) {
    auto const wide = static_cast<long long>(v);
    unsigned long long const magnitude =
        wide < 0 ? 0ull - static_cast<unsigned long long>(wide) : static_cast<unsigned long long>(wide);
    return renderInteger<T>(magnitude, wide < 0, emptyWhenZero);
}

template <typename T>
T* fromAscii(char const* s) {
    long const n = static_cast<long>(std::strlen(s));
    T* text = new T[n + 1];
    for (long i = 0; i <= n; ++i) {
        text[i] = static_cast<T>(s[i]);
    }
    return text;
}

/// Decimal text of a double: integer part, then fraction digits produced by
/// multiplying by ten until nothing is left (at most 20 digits).
template <typename T>
T* renderDouble(double v, bool emptyWhenZero) {
    if (std::isnan(v)) {
        return fromAscii<T>("nan");
    }
    if (std::isinf(v)) {
        return fromAscii<T>(v < 0 ? "-inf" : "inf");
    }
    if (v < 0) {
        T* magnitude = renderDouble<T>(-v, emptyWhenZero);
        T const minus[2] = {'-', 0};
        T* text = FGStr<T>::concat(minus, magnitude);
        delete[] magnitude;
        return text;
    }
    if (v >= 9223372036854775808.0) {
        // Beyond a 64-bit integer every double is a whole number.
        char digits[400];
        std::snprintf(digits, sizeof digits, "%.0f", v);
        return fromAscii<T>(digits);
    }
    auto const integral = static_cast<long long>(v);
    T* part = renderInteger<T>(static_cast<unsigned long long>(integral), false, emptyWhenZero);
    double fraction = v - static_cast<double>(integral);
    if (fraction == 0.0) {
        return part;
    }
    constexpr long capacity = 44;
    T* text = new T[capacity];
    FGStr<T>::copyTo(text, capacity, part);
    delete[] part;
    T digits[23];
    long n = 0;
    digits[n++] = '.';
    while (fraction != 0.0 && n <= 20) {
        fraction *= 10.0;
        int const digit = static_cast<int>(fraction);
        digits[n++] = FGStr<T>::digitOf(static_cast<unsigned char>(digit));
        fraction -= digit;
    }
    digits[n] = 0;
    FGStr<T>::concatTo(text, 43, digits);
    return text;
}

/// Cuts s at each separator (Algorithms of split); adds the pieces to out.
template <typename S, typename T>
void splitInto(FArray<S, FAllocation<S>>& out, T const* s, long ls, T const* sep, long lsep, long max) {
    long pieces = 1;
    if (lsep > 0) {
        pieces = FGStr<T>::count(s, ls, sep, lsep) + 1;
        if (max >= 1 && pieces > max) {
            pieces = max;
        }
    }
    long position = 0;
    for (long k = 0; k + 1 < pieces; ++k) {
        long const found = FGStr<T>::indexOf(s, ls, sep, lsep, position);
        out.add(S(FStrToken<T>(s + position, found - position)));
        position = found + lsep;
    }
    out.add(S(FStrToken<T>(ls > 0 ? s + position : s, ls - position)));
}

} // namespace

// ===========================================================================
// FStrToken

template <typename T>
FStrToken<T>::FStrToken(T const* s) noexcept : m_pText(s), m_length(FGStr<T>::length(s)) {}

template <typename T>
FStrToken<T>::FStrToken(FGStr<T> const& s) noexcept : m_pText(s), m_length(s.length()) {}

template <typename T>
FStrToken<T>::FStrToken(FMStr<T> const& s) noexcept : m_pText(s), m_length(s.Length()) {}

template <typename T>
T const& FStrToken<T>::at(long i) const {
    if (i < 0 || i >= m_length) {
        throw FException("Index out of Array");
    }
    return m_pText[i];
}

template <typename T>
FStrToken<T> FStrToken<T>::left(long n) const noexcept {
    if (n < 1 || m_length < 1) {
        return FStrToken();
    }
    return FStrToken(m_pText, n < m_length ? n : m_length);
}

template <typename T>
FStrToken<T> FStrToken<T>::right(long n) const noexcept {
    if (n < 1 || m_length < 1) {
        return FStrToken();
    }
    long const k = n < m_length ? n : m_length;
    return FStrToken(m_pText + (m_length - k), k);
}

template <typename T>
FStrToken<T> FStrToken<T>::subString(long start, long count) const noexcept {
    if (m_length < 1) {
        return FStrToken();
    }
    start = resolveStart(start, m_length);
    if (start > m_length) {
        start = m_length;
    }
    long const available = m_length - start;
    if (count < 0 || count > available) {
        count = available;
    }
    return FStrToken(m_pText + start, count);
}

template <typename T>
long FStrToken<T>::compare(FStrToken other) const noexcept {
    return compareElements(m_pText, m_length, other.m_pText, other.m_length, false);
}

template <typename T>
long FStrToken<T>::compareIgnoreCase(FStrToken other) const noexcept {
    return compareElements(m_pText, m_length, other.m_pText, other.m_length, true);
}

template <typename T>
long FStrToken<T>::count(T c) const noexcept {
    return FGStr<T>::count(m_pText, m_length, c);
}

template <typename T>
long FStrToken<T>::count(FStrToken t) const noexcept {
    return FGStr<T>::count(m_pText, m_length, t.m_pText, t.m_length);
}

template <typename T>
long FStrToken<T>::indexOf(T c, long start) const noexcept {
    return FGStr<T>::indexOf(m_pText, m_length, c, start);
}

template <typename T>
long FStrToken<T>::indexOf(FStrToken t, long start) const noexcept {
    return FGStr<T>::indexOf(m_pText, m_length, t.m_pText, t.m_length, start);
}

template <typename T>
long FStrToken<T>::lastIndexOf(T c, long start) const noexcept {
    return FGStr<T>::lastIndexOf(m_pText, m_length, c, start);
}

template <typename T>
long FStrToken<T>::lastIndexOf(FStrToken t, long start) const noexcept {
    return FGStr<T>::lastIndexOf(m_pText, m_length, t.m_pText, t.m_length, start);
}

template <typename T>
bool FStrToken<T>::isNumeric() const noexcept {
    return FGStr<T>::isNumeric(m_pText, m_length);
}

template <typename T>
bool FStrToken<T>::isAlpha() const noexcept {
    return FGStr<T>::isAlpha(m_pText, m_length);
}

template <typename T>
long FStrToken<T>::s_verify(T const& c, long start) const noexcept {
    return FGStr<T>::verify(m_pText, m_length, &c, 1, start);
}

template <typename T>
long FStrToken<T>::s_verify(FStrToken set, long start) const noexcept {
    return FGStr<T>::verify(m_pText, m_length, set.m_pText, set.m_length, start);
}

template <typename T>
long FStrToken<T>::hexTo(void* buffer, long max) const noexcept {
    return FGStr<T>::hexTo(m_pText, m_length, buffer, max);
}

template <typename T>
unsigned char FStrToken<T>::hexToUInt8() const noexcept {
    return FGStr<T>::hexToUInt8(m_pText, m_length);
}

template <typename T>
unsigned short FStrToken<T>::hexToUInt16() const noexcept {
    return FGStr<T>::hexToUInt16(m_pText, m_length);
}

template <typename T>
unsigned int FStrToken<T>::hexToUInt32() const noexcept {
    return FGStr<T>::hexToUInt32(m_pText, m_length);
}

template <typename T>
unsigned long long FStrToken<T>::hexToUInt64() const noexcept {
    return FGStr<T>::hexToUInt64(m_pText, m_length);
}

template <typename T>
signed char FStrToken<T>::toInt8() const noexcept {
    return FGStr<T>::toInt8(m_pText, m_length);
}

template <typename T>
short FStrToken<T>::toInt16() const noexcept {
    return FGStr<T>::toInt16(m_pText, m_length);
}

template <typename T>
int FStrToken<T>::toInt32() const noexcept {
    return FGStr<T>::toInt32(m_pText, m_length);
}

template <typename T>
long long FStrToken<T>::toInt64() const noexcept {
    return FGStr<T>::toInt64(m_pText, m_length);
}

template <typename T>
unsigned char FStrToken<T>::toUInt8() const noexcept {
    return FGStr<T>::toUInt8(m_pText, m_length);
}

template <typename T>
unsigned short FStrToken<T>::toUInt16() const noexcept {
    return FGStr<T>::toUInt16(m_pText, m_length);
}

template <typename T>
unsigned int FStrToken<T>::toUInt32() const noexcept {
    return FGStr<T>::toUInt32(m_pText, m_length);
}

template <typename T>
unsigned long long FStrToken<T>::toUInt64() const noexcept {
    return FGStr<T>::toUInt64(m_pText, m_length);
}

template <typename T>
float FStrToken<T>::toSingle() const noexcept {
    return FGStr<T>::toSingle(m_pText, m_length);
}

template <typename T>
double FStrToken<T>::toDouble() const noexcept {
    return FGStr<T>::toDouble(m_pText, m_length);
}

template <typename T>
FMStr<T> FStrToken<T>::toLower() const {
    FMStr<T> text(*this);
    text.toLower();
    return text;
}

template <typename T>
FMStr<T> FStrToken<T>::toUpper() const {
    FMStr<T> text(*this);
    text.toUpper();
    return text;
}

template <typename T>
FArray<FGStr<T>, FAllocation<FGStr<T>>> FStrToken<T>::split(T, long) const {
    return FArray<FGStr<T>, FAllocation<FGStr<T>>>();
}

template <typename T>
FArray<FGStr<T>, FAllocation<FGStr<T>>> FStrToken<T>::split(FStrToken const&, long) const {
    return FArray<FGStr<T>, FAllocation<FGStr<T>>>();
}

template <typename T>
bool FStrToken<T>::operator==(FStrToken const& other) const noexcept {
    if (m_length != other.m_length) {
        return false;
    }
    return m_pText == other.m_pText || matchesAt(m_pText, other.m_pText, m_length);
}

// ===========================================================================
// FGStr: constants

template <typename T>
T const* const FGStr<T>::Null = Literals<T>::null;
template <typename T>
T const* const FGStr<T>::CR = Literals<T>::cr;
template <typename T>
T const* const FGStr<T>::LF = Literals<T>::lf;
template <typename T>
T const* const FGStr<T>::CRLF = Literals<T>::crlf;
template <typename T>
T const* const FGStr<T>::NewLine = Literals<T>::lf;
template <typename T>
char const* const FGStr<T>::BOMLE = Literals<T>::bomLE;
template <typename T>
char const* const FGStr<T>::BOMBE = Literals<T>::bomBE;

// ===========================================================================
// FGStr: members

template <typename T>
FGStr<T>::FGStr(T const* s) : m_pText(s != nullptr ? copy(s) : nullptr) {}

template <typename T>
FGStr<T>::FGStr(T const* s, long n) : m_pText(s != nullptr && n >= 1 ? copy(s, n) : nullptr) {}

template <typename T>
FGStr<T>::FGStr(FGStr const& other) : FGStr(FStrToken<T>(other)) {}

template <typename T>
FGStr<T>::FGStr(FMStr<T> const& other) : FGStr(FStrToken<T>(other)) {}

template <typename T>
FGStr<T>::FGStr(FStrToken<T> token) : m_pText(token.isEmpty() ? nullptr : copy(token, token.Length())) {}

template <typename T>
FGStr<T>& FGStr<T>::operator=(FGStr&& other) noexcept {
    if (this != &other) {
        take(other.m_pText);
        other.m_pText = nullptr;
    }
    return *this;
}

template <typename T>
FGStr<T>& FGStr<T>::assign(FStrToken<T> token) noexcept {
    take(token.isEmpty() ? nullptr : copy(token, token.Length()));
    return *this;
}

template <typename T>
void FGStr<T>::swap(FGStr& other) noexcept {
    T* const p = m_pText;
    m_pText = other.m_pText;
    other.m_pText = p;
}

template <typename T>
void FGStr<T>::clear() noexcept {
    clear(m_pText);
}

template <typename T>
T& FGStr<T>::at(long i) {
    return const_cast<T&>(charAt(m_pText, i));
}

template <typename T>
T const& FGStr<T>::at(long i) const {
    return charAt(m_pText, i);
}

template <typename T>
T* FGStr<T>::getBuffer(long n) {
    if (n >= 1) {
        take(new T[static_cast<std::size_t>(n) + 2]());
    }
    return m_pText;
}

template <typename T>
FGStr<T>& FGStr<T>::append(FStrToken<T> token) noexcept {
    if (!token.isEmpty()) {
        take(concat(m_pText, length(), token, token.Length())); // copies before freeing
    }
    return *this;
}

template <typename T>
FGStr<T> FGStr<T>::concat(FStrToken<T> token) const noexcept {
    FGStr result(*this);
    result.append(token);
    return result;
}

template <typename T>
FGStr<T>& FGStr<T>::remove(long start, long count) {
    removeSubString(m_pText, start, count);
    return *this;
}

template <typename T>
long FGStr<T>::replace(T from, T to) noexcept {
    long replaced = 0;
    for (long i = 0, n = length(); i < n; ++i) {
        if (m_pText[i] == from) {
            m_pText[i] = to;
            ++replaced;
        }
    }
    return replaced;
}

template <typename T>
long FGStr<T>::replace(FStrToken<T> from, FStrToken<T> to) {
    long replaced = 0;
    long const n = length();
    if (from.isEmpty() || count(m_pText, n, from, from.Length()) == 0) {
        return 0;
    }
    take(replace(m_pText, n, from, from.Length(), to, to.Length(), 0, replaced));
    return replaced;
}

template <typename T>
FGStr<T>& FGStr<T>::reverse() noexcept {
    reverse(m_pText, length());
    return *this;
}

template <typename T>
FGStr<T>& FGStr<T>::toLower() noexcept {
    for (long i = 0, n = length(); i < n; ++i) {
        m_pText[i] = toLower(m_pText[i]);
    }
    return *this;
}

template <typename T>
FGStr<T>& FGStr<T>::toUpper() noexcept {
    for (long i = 0, n = length(); i < n; ++i) {
        m_pText[i] = toUpper(m_pText[i]);
    }
    return *this;
}

template <typename T>
long FGStr<T>::trim() noexcept {
    return trim(m_pText);
}

template <typename T>
long FGStr<T>::lTrim() noexcept {
    return ltrim(m_pText);
}

template <typename T>
long FGStr<T>::rTrim() noexcept {
    return rtrim(m_pText);
}

template <typename T>
typename FGStr<T>::Pieces FGStr<T>::split(T sep, long max) const noexcept {
    Pieces pieces;
    splitTo(pieces, m_pText, length(), &sep, 1, max);
    return pieces;
}

template <typename T>
typename FGStr<T>::Pieces FGStr<T>::split(FStrToken<T> sep, long max) const noexcept {
    Pieces pieces;
    splitTo(pieces, m_pText, length(), sep, sep.Length(), max);
    return pieces;
}

template <typename T>
FGStr<T>& FGStr<T>::join(T const** parts, long n) noexcept {
    take(parts != nullptr && n >= 1 ? joinFrom(parts, n) : nullptr);
    return *this;
}

template <typename T>
FGStr<T>& FGStr<T>::join(T const** parts) noexcept {
    long n = 0;
    while (parts != nullptr && parts[n] != nullptr) {
        ++n;
    }
    return join(parts, n);
}

template <typename T>
FGStr<T>& FGStr<T>::appendOwned(T* text) noexcept {
    append(FStrToken<T>(text));
    delete[] text;
    return *this;
}

template <typename T>
void FGStr<T>::take(T* text) noexcept {
    T* const old = m_pText;
    m_pText = text;
    delete[] old;
}

// ===========================================================================
// FGStr: value to text

template <typename T>
T* FGStr<T>::valueOf(bool b, bool emptyWhenZero) {
    return renderInteger<T>(b ? 1 : 0, false, emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(T c) {
    return copy(&c, 1);
}

template <typename T>
T* FGStr<T>::valueOf(char const* s) {
    return valueOf(s, FGStr<char>::length(s));
}

template <typename T>
T* FGStr<T>::valueOf(char const* s, long n) {
    if (s == nullptr || n < 1) {
        n = 0;
    }
    T* text = new T[static_cast<std::size_t>(n) + 1];
    for (long i = 0; i < n; ++i) {
        text[i] = convertChar<T>(s[i]);
    }
    text[n] = 0;
    return text;
}

template <typename T>
T* FGStr<T>::valueOf(wchar_t const* s) {
    return valueOf(s, FGStr<wchar_t>::length(s));
}

template <typename T>
T* FGStr<T>::valueOf(wchar_t const* s, long n) {
    if (s == nullptr || n < 1) {
        n = 0;
    }
    T* text = new T[static_cast<std::size_t>(n) + 1];
    for (long i = 0; i < n; ++i) {
        text[i] = convertChar<T>(s[i]);
    }
    text[n] = 0;
    return text;
}

template <typename T>
T* FGStr<T>::valueOf(signed char v, bool emptyWhenZero) {
    return renderSigned<T>(v, emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(short v, bool emptyWhenZero) {
    return renderSigned<T>(v, emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(int v, bool emptyWhenZero) {
    return renderSigned<T>(v, emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(long v, bool emptyWhenZero) {
    return renderSigned<T>(v, emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(long long v, bool emptyWhenZero) {
    return renderSigned<T>(v, emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(unsigned char v, bool emptyWhenZero) {
    return renderInteger<T>(v, false, emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(unsigned short v, bool emptyWhenZero) {
    return renderInteger<T>(v, false, emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(unsigned int v, bool emptyWhenZero) {
    return renderInteger<T>(v, false, emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(unsigned long v, bool emptyWhenZero) {
    return renderInteger<T>(v, false, emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(unsigned long long v, bool emptyWhenZero) {
    return renderInteger<T>(v, false, emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(float v, bool emptyWhenZero) {
    return renderDouble<T>(static_cast<double>(v), emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(double v, bool emptyWhenZero) {
    return renderDouble<T>(v, emptyWhenZero);
}

template <typename T>
T* FGStr<T>::valueOf(unsigned char const* p) {
    auto const value = reinterpret_cast<std::uintptr_t>(p);
    T* text = new T[2 * sizeof value + 1];
    text[hexOf(text, &value, sizeof value)] = 0;
    return text;
}

template <typename T>
T* FGStr<T>::hexOf(unsigned char v) {
    T* text = new T[3];
    text[hexOf(text, v)] = 0;
    return text;
}

template <typename T>
T* FGStr<T>::hexOf(unsigned short v) {
    T* text = new T[5];
    text[hexOf(text, v)] = 0;
    return text;
}

template <typename T>
T* FGStr<T>::hexOf(unsigned int v) {
    T* text = new T[9];
    text[hexOf(text, v)] = 0;
    return text;
}

template <typename T>
T* FGStr<T>::hexOf(unsigned long long v) {
    T* text = new T[17];
    text[hexOf(text, v)] = 0;
    return text;
}

template <typename T>
T* FGStr<T>::hexOf(void const* p, long n) {
    if (p == nullptr || n < 1) {
        n = 0;
    }
    T* text = new T[2 * static_cast<std::size_t>(n) + 1];
    text[hexOf(text, p, n)] = 0;
    return text;
}

template <typename T>
long FGStr<T>::hexOf(T* buffer, unsigned char v) noexcept {
    return writeHex(buffer, v, 1);
}

template <typename T>
long FGStr<T>::hexOf(T* buffer, unsigned short v) noexcept {
    return writeHex(buffer, v, 2);
}

template <typename T>
long FGStr<T>::hexOf(T* buffer, unsigned int v) noexcept {
    return writeHex(buffer, v, 4);
}

template <typename T>
long FGStr<T>::hexOf(T* buffer, unsigned long long v) noexcept {
    return writeHex(buffer, v, 8);
}

template <typename T>
long FGStr<T>::hexOf(T* buffer, void const* p, long n) noexcept {
    if (p == nullptr || n < 1) {
        return 0;
    }
    auto const* bytes = static_cast<unsigned char const*>(p);
    for (long i = 0; i < n; ++i) {
        writeHex(buffer + 2 * i, bytes[i], 1);
    }
    return 2 * n;
}

// ===========================================================================
// FGStr: comparison and search over raw arrays

template <typename T>
long FGStr<T>::compare(T const* a, T const* b) noexcept {
    return compareElements(a, length(a), b, length(b), false);
}

template <typename T>
long FGStr<T>::compare(T const* a, long la, T const* b, long lb) noexcept {
    return compareElements(a, la < 0 ? 0 : la, b, lb < 0 ? 0 : lb, false);
}

template <typename T>
long FGStr<T>::compareRange(T const* a, T const* b, long n) noexcept {
    return compareElements(a, boundedLength(a, n), b, boundedLength(b, n), false);
}

template <typename T>
long FGStr<T>::compareIgnoreCase(T const* a, T const* b) noexcept {
    return compareElements(a, length(a), b, length(b), true);
}

template <typename T>
long FGStr<T>::compareIgnoreCase(T const* a, long la, T const* b, long lb) noexcept {
    return compareElements(a, la < 0 ? 0 : la, b, lb < 0 ? 0 : lb, true);
}

template <typename T>
long FGStr<T>::compareRangeIgnoreCase(T const* a, T const* b, long n) noexcept {
    return compareElements(a, boundedLength(a, n), b, boundedLength(b, n), true);
}

template <typename T>
long FGStr<T>::indexOf(T const* s, long ls, T c, long start) noexcept {
    for (long i = resolveStart(start, ls); i < ls; ++i) {
        if (s[i] == c) {
            return i;
        }
    }
    return -1;
}

template <typename T>
long FGStr<T>::indexOf(T const* s, long ls, T const* t, long lt, long start) noexcept {
    if (lt < 1) {
        return -1;
    }
    for (long p = resolveStart(start, ls); p + lt <= ls; ++p) {
        if (matchesAt(s + p, t, lt)) {
            return p;
        }
    }
    return -1;
}

template <typename T>
long FGStr<T>::lastIndexOf(T const* s, long ls, T c, long start) noexcept {
    if (start < 0) {
        start += ls;
    }
    if (start > ls - 1) {
        start = ls - 1;
    }
    for (long i = start; i >= 0; --i) {
        if (s[i] == c) {
            return i;
        }
    }
    return -1;
}

template <typename T>
long FGStr<T>::lastIndexOf(T const* s, long ls, T const* t, long lt, long start) noexcept {
    if (lt < 1) {
        return -1;
    }
    // The match must end at or before start; -1 is the end of the text and
    // lower values count back from there.
    long end = start < 0 ? ls + start + 1 : start;
    if (end > ls) {
        end = ls;
    }
    for (long p = end - lt; p >= 0; --p) {
        if (matchesAt(s + p, t, lt)) {
            return p;
        }
    }
    return -1;
}

template <typename T>
long FGStr<T>::count(T const* s, long ls, T c) noexcept {
    long n = 0;
    for (long i = 0; i < ls; ++i) {
        n += s[i] == c ? 1 : 0;
    }
    return n;
}

template <typename T>
long FGStr<T>::count(T const* s, long ls, T const* t, long lt) noexcept {
    if (lt < 1) {
        return 0;
    }
    long n = 0;
    for (long p = 0; p + lt <= ls;) {
        if (matchesAt(s + p, t, lt)) {
            ++n;
            p += lt;
        } else {
            ++p;
        }
    }
    return n;
}

template <typename T>
long FGStr<T>::verify(T const* s, long ls, T const* set, long lset, long start) noexcept {
    start = resolveStart(start, ls);
    if (start >= ls) {
        return -1;
    }
    if (lset < 1) {
        return start; // nothing belongs to an empty set
    }
    for (long i = start; i < ls; ++i) {
        if (!inSet(s[i], set, lset)) {
            return i;
        }
    }
    return -1;
}

template <typename T>
bool FGStr<T>::isNumeric(T const* s, long ls) noexcept {
    for (long i = 0; i < ls; ++i) {
        if (!isDigit(s[i]) && s[i] != '-' && s[i] != '.') {
            return false;
        }
    }
    return true;
}

template <typename T>
bool FGStr<T>::isAlpha(T const* s, long ls) noexcept {
    return ls > 0 && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'));
}

template <typename T>
T const& FGStr<T>::charAt(T const* s, long i) {
    long const n = length(s);
    if (i < 0) {
        i += n;
    }
    if (i < 0 || i >= n) {
        throw FException("Index out of range");
    }
    return s[i];
}

// ===========================================================================
// FGStr: parsing

template <typename T>
signed char FGStr<T>::toInt8(T const* s) noexcept {
    return parseSigned<signed char>(s, length(s));
}
template <typename T>
signed char FGStr<T>::toInt8(T const* s, long n) noexcept {
    return parseSigned<signed char>(s, n);
}
template <typename T>
short FGStr<T>::toInt16(T const* s) noexcept {
    return parseSigned<short>(s, length(s));
}
template <typename T>
short FGStr<T>::toInt16(T const* s, long n) noexcept {
    return parseSigned<short>(s, n);
}
template <typename T>
int FGStr<T>::toInt32(T const* s) noexcept {
    return parseSigned<int>(s, length(s));
}
template <typename T>
int FGStr<T>::toInt32(T const* s, long n) noexcept {
    return parseSigned<int>(s, n);
}
template <typename T>
long long FGStr<T>::toInt64(T const* s) noexcept {
    return parseSigned<long long>(s, length(s));
}
template <typename T>
long long FGStr<T>::toInt64(T const* s, long n) noexcept {
    return parseSigned<long long>(s, n);
}
template <typename T>
unsigned char FGStr<T>::toUInt8(T const* s) noexcept {
    return parseUnsigned<unsigned char>(s, length(s));
}
template <typename T>
unsigned char FGStr<T>::toUInt8(T const* s, long n) noexcept {
    return parseUnsigned<unsigned char>(s, n);
}
template <typename T>
unsigned short FGStr<T>::toUInt16(T const* s) noexcept {
    return parseUnsigned<unsigned short>(s, length(s));
}
template <typename T>
unsigned short FGStr<T>::toUInt16(T const* s, long n) noexcept {
    return parseUnsigned<unsigned short>(s, n);
}
template <typename T>
unsigned int FGStr<T>::toUInt32(T const* s) noexcept {
    return parseUnsigned<unsigned int>(s, length(s));
}
template <typename T>
unsigned int FGStr<T>::toUInt32(T const* s, long n) noexcept {
    return parseUnsigned<unsigned int>(s, n);
}
template <typename T>
unsigned long long FGStr<T>::toUInt64(T const* s) noexcept {
    return parseUnsigned<unsigned long long>(s, length(s));
}
template <typename T>
unsigned long long FGStr<T>::toUInt64(T const* s, long n) noexcept {
    return parseUnsigned<unsigned long long>(s, n);
}
template <typename T>
float FGStr<T>::toSingle(T const* s) noexcept {
    return parseFloating<float>(s, length(s));
}
template <typename T>
float FGStr<T>::toSingle(T const* s, long n) noexcept {
    return parseFloating<float>(s, n);
}
template <typename T>
double FGStr<T>::toDouble(T const* s) noexcept {
    return parseFloating<double>(s, length(s));
}
template <typename T>
double FGStr<T>::toDouble(T const* s, long n) noexcept {
    return parseFloating<double>(s, n);
}

template <typename T>
unsigned char FGStr<T>::hexToNibble(T const& c) noexcept {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned char>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned char>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned char>(c - 'a' + 10);
    }
    return 0;
}

template <typename T>
unsigned char FGStr<T>::hexToUInt8(T const* s) noexcept {
    return parseHex<unsigned char>(s, boundedLength(s, 2), 2);
}
template <typename T>
unsigned char FGStr<T>::hexToUInt8(T const* s, long n) noexcept {
    return parseHex<unsigned char>(s, n, 2);
}
template <typename T>
unsigned short FGStr<T>::hexToUInt16(T const* s) noexcept {
    return parseHex<unsigned short>(s, boundedLength(s, 4), 4);
}
template <typename T>
unsigned short FGStr<T>::hexToUInt16(T const* s, long n) noexcept {
    return parseHex<unsigned short>(s, n, 4);
}
template <typename T>
unsigned int FGStr<T>::hexToUInt32(T const* s) noexcept {
    return parseHex<unsigned int>(s, boundedLength(s, 8), 8);
}
template <typename T>
unsigned int FGStr<T>::hexToUInt32(T const* s, long n) noexcept {
    return parseHex<unsigned int>(s, n, 8);
}
template <typename T>
unsigned long long FGStr<T>::hexToUInt64(T const* s) noexcept {
    return parseHex<unsigned long long>(s, boundedLength(s, 16), 16);
}
template <typename T>
unsigned long long FGStr<T>::hexToUInt64(T const* s, long n) noexcept {
    return parseHex<unsigned long long>(s, n, 16);
}

template <typename T>
long FGStr<T>::hexTo(T const* s, long n, void* buffer, long max) noexcept {
    if (s == nullptr || buffer == nullptr) {
        return 0;
    }
    long bytes = n / 2;
    if (bytes > max) {
        bytes = max;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    for (long i = 0; i < bytes; ++i) {
        out[i] = static_cast<unsigned char>(hexToNibble(s[2 * i]) << 4 | hexToNibble(s[2 * i + 1]));
    }
    return bytes < 0 ? 0 : bytes;
}

// ===========================================================================
// FGStr: raw arrays

template <typename T>
long FGStr<T>::length(T const* s) noexcept {
    long n = 0;
    if (s != nullptr) {
        while (s[n] != 0) {
            ++n;
        }
    }
    return n;
}

template <typename T>
T* FGStr<T>::copy(T const* s) {
    return copy(s, length(s));
}

template <typename T>
T* FGStr<T>::copy(T const* s, long n) {
    if (s == nullptr || n < 1) {
        n = 0;
    }
    T* text = new T[static_cast<std::size_t>(n) + 1];
    for (long i = 0; i < n; ++i) {
        text[i] = s[i];
    }
    text[n] = 0;
    return text;
}

template <typename T>
long FGStr<T>::copyTo(T* dst, long capacity, T const* src) noexcept {
    return copyTo(dst, capacity, src, boundedLength(src, capacity - 1));
}

template <typename T>
long FGStr<T>::copyTo(T* dst, long capacity, T const* src, long n) noexcept {
    if (dst == nullptr || capacity < 1) {
        return 0;
    }
    if (src == nullptr || n < 0) {
        n = 0;
    }
    if (n > capacity - 1) {
        n = capacity - 1;
    }
    for (long i = 0; i < n; ++i) {
        dst[i] = src[i];
    }
    dst[n] = 0;
    return n;
}

template <typename T>
long FGStr<T>::copyToRev(T* dst, long capacity, T const* src, long n) noexcept {
    if (dst == nullptr || capacity < 1) {
        return 0;
    }
    if (src == nullptr || n < 0) {
        n = 0;
    }
    long const kept = n > capacity - 1 ? capacity - 1 : n;
    for (long i = 0; i < kept; ++i) {
        dst[i] = src[n - 1 - i];
    }
    dst[kept] = 0;
    return kept;
}

template <typename T>
T* FGStr<T>::concat(T const* a, long la, T const* b, long lb) {
    if (a == nullptr || la < 0) {
        la = 0;
    }
    if (b == nullptr || lb < 0) {
        lb = 0;
    }
    T* text = new T[static_cast<std::size_t>(la + lb) + 1];
    for (long i = 0; i < la; ++i) {
        text[i] = a[i];
    }
    for (long i = 0; i < lb; ++i) {
        text[la + i] = b[i];
    }
    text[la + lb] = 0;
    return text;
}

template <typename T>
T* FGStr<T>::concat(T const* a, T const* b) {
    return concat(a, length(a), b, length(b));
}

template <typename T>
long FGStr<T>::concatTo(T* dst, long capacity, T const* src) noexcept {
    if (dst == nullptr || capacity < 1) {
        return 0;
    }
    long const used = boundedLength(dst, capacity - 1);
    return copyTo(dst + used, capacity - used, src);
}

template <typename T>
long FGStr<T>::joinTo(T* dst, long capacity, T const** parts, long n) noexcept {
    long appended = 0;
    for (long i = 0; parts != nullptr && i < n; ++i) {
        appended += concatTo(dst, capacity, parts[i]);
    }
    return appended;
}

template <typename T>
T* FGStr<T>::joinFrom(T const** parts, long n) {
    long total = 0;
    for (long i = 0; parts != nullptr && i < n; ++i) {
        total += length(parts[i]);
    }
    T* text = new T[static_cast<std::size_t>(total) + 1];
    long used = 0;
    for (long i = 0; parts != nullptr && i < n; ++i) {
        for (T const* p = parts[i]; p != nullptr && *p != 0; ++p) {
            text[used++] = *p;
        }
    }
    text[used] = 0;
    return text;
}

template <typename T>
void FGStr<T>::fill(T* p, long n, T c) noexcept {
    for (long i = 0; p != nullptr && i < n; ++i) {
        p[i] = c;
    }
}

template <typename T>
T* FGStr<T>::create(long n) {
    if (n < 0) {
        n = 0;
    }
    return new T[static_cast<std::size_t>(n) + 2](); // elements 0 and n are terminators
}

template <typename T>
T* FGStr<T>::create(long n, T c) {
    T* text = create(n);
    fill(text, n, c);
    return text;
}

template <typename T>
void FGStr<T>::swap(T& a, T& b) noexcept {
    T const c = a;
    a = b;
    b = c;
}

template <typename T>
void FGStr<T>::clear(T* s) noexcept {
    if (s != nullptr) {
        s[0] = 0;
    }
}

template <typename T>
void FGStr<T>::splitTo(Pieces& out, T const* s, long ls, T const* sep, long lsep, long max) {
    splitInto(out, s, ls, sep, lsep, max);
}

template <typename T>
long FGStr<T>::stripIndexOf(T const* s, long ls, T const* set, long lset) noexcept {
    long n = 0;
    while (n < ls && inSet(s[n], set, lset)) {
        ++n;
    }
    return n;
}

template <typename T>
long FGStr<T>::removeSubString(T* s, long start, long count) noexcept {
    long const n = length(s);
    start = resolveStart(start, n);
    if (start >= n) {
        return 0;
    }
    if (count < 0 || count > n - start) {
        count = n - start;
    }
    for (long i = start; i + count <= n; ++i) { // moves the terminator too
        s[i] = s[i + count];
    }
    return count;
}

template <typename T>
long FGStr<T>::ltrim(T* s) noexcept {
    long n = 0;
    while (s != nullptr && s[n] != 0 && isBlank(s[n])) {
        ++n;
    }
    return n > 0 ? removeSubString(s, 0, n) : 0;
}

template <typename T>
long FGStr<T>::rtrim(T* s) noexcept {
    long const n = length(s);
    long end = n;
    while (end > 0 && isBlank(s[end - 1])) {
        --end;
    }
    if (end < n) {
        s[end] = 0;
    }
    return n - end;
}

template <typename T>
long FGStr<T>::trim(T* s) noexcept {
    long const removed = rtrim(s);
    return removed + ltrim(s);
}

template <typename T>
void FGStr<T>::reverse(T* s, long n) noexcept {
    for (long i = 0, j = n - 1; i < j; ++i, --j) {
        swap(s[i], s[j]);
    }
}

template <typename T>
T* FGStr<T>::replace(T const* s, long ls, T const* from, long lf, T const* to, long lt, long max,
                     long& replaced) {
    replaced = 0;
    if (s == nullptr || ls < 0) {
        ls = 0;
    }
    if (to == nullptr || lt < 0) {
        lt = 0;
    }
    long occurrences = count(s, ls, from, lf);
    if (max >= 1 && occurrences > max) {
        occurrences = max;
    }
    long const total = ls + occurrences * (lt - lf);
    T* text = new T[static_cast<std::size_t>(total) + 1];
    long used = 0;
    long position = 0;
    for (long k = 0; k < occurrences; ++k) {
        long const found = indexOf(s, ls, from, lf, position);
        for (long i = position; i < found; ++i) {
            text[used++] = s[i];
        }
        for (long i = 0; i < lt; ++i) {
            text[used++] = to[i];
        }
        position = found + lf;
    }
    for (long i = position; i < ls; ++i) {
        text[used++] = s[i];
    }
    text[used] = 0;
    replaced = occurrences;
    return text;
}

unsigned char* FGStr<unsigned char>::copy(unsigned char const* s, long n) {
    if (s == nullptr || n < 1) {
        n = 0;
    }
    auto* bytes = new unsigned char[static_cast<std::size_t>(n) + 1];
    if (n > 0) {
        std::memcpy(bytes, s, static_cast<std::size_t>(n));
    }
    bytes[n] = 0;
    return bytes;
}

// ===========================================================================
// FMStr

template <typename T>
FMStr<T>::FMStr(long n) {
    alloc(n < 0 ? 0 : n);
}

template <typename T>
FMStr<T>::FMStr(FMStr const& other) : FMStr(FStrToken<T>(other)) {}

template <typename T>
FMStr<T>::FMStr(FMStr&& other) noexcept
    : m_pBuffer(other.m_pBuffer), m_capacity(other.m_capacity), m_length(other.m_length) {
    other.m_pBuffer = nullptr;
    other.m_capacity = 0;
    other.m_length = 0;
}

template <typename T>
FMStr<T>::FMStr(FGStr<T> const& s) : FMStr(FStrToken<T>(s)) {}

template <typename T>
FMStr<T>::FMStr(T const* s) : FMStr(FStrToken<T>(s)) {}

template <typename T>
FMStr<T>::FMStr(T const* s, long n) {
    if (s == nullptr || n < 0) {
        n = 0;
    }
    m_pBuffer = new T[static_cast<std::size_t>(n) + 3];
    for (long i = 0; i < n; ++i) {
        m_pBuffer[i] = s[i];
    }
    m_pBuffer[n] = 0;
    m_capacity = n + 1;
    m_length = n;
}

// A copy of text without a buffer (a null pointer, a default-constructed
// string) has no buffer either.
template <typename T>
FMStr<T>::FMStr(FStrToken<T> token) {
    T const* s = token;
    if (s == nullptr) {
        return;
    }
    long const n = token.Length();
    m_pBuffer = new T[static_cast<std::size_t>(n) + 1];
    for (long i = 0; i < n; ++i) {
        m_pBuffer[i] = s[i];
    }
    m_pBuffer[n] = 0;
    m_capacity = n + 1;
    m_length = n;
}

template <typename T>
FMStr<T>& FMStr<T>::operator=(FMStr const& other) noexcept {
    if (this != &other) {
        assign(FStrToken<T>(other));
    }
    return *this;
}

template <typename T>
FMStr<T>& FMStr<T>::operator=(FMStr&& other) noexcept {
    if (this != &other) {
        FMStr taken(static_cast<FMStr&&>(other));
        swap(taken);
    }
    return *this;
}

template <typename T>
FMStr<T>& FMStr<T>::assign(FStrToken<T> token) noexcept {
    if (aliases(token)) {
        FGStr<T> const copy(token);
        return assign(FStrToken<T>(copy, token.Length()));
    }
    long const n = token.Length();
    grow(n - m_length);
    T const* s = token;
    for (long i = 0; i < n; ++i) {
        m_pBuffer[i] = s[i];
    }
    m_length = n;
    m_pBuffer[n] = 0;
    return *this;
}

template <typename T>
void FMStr<T>::swap(FMStr& other) noexcept {
    T* const buffer = m_pBuffer;
    m_pBuffer = other.m_pBuffer;
    other.m_pBuffer = buffer;
    long const capacity = m_capacity;
    m_capacity = other.m_capacity;
    other.m_capacity = capacity;
    long const length = m_length;
    m_length = other.m_length;
    other.m_length = length;
}

template <typename T>
void FMStr<T>::clear() noexcept {
    m_length = 0;
    if (m_pBuffer != nullptr) {
        m_pBuffer[0] = 0;
    }
}

template <typename T>
T& FMStr<T>::at(long i) {
    return const_cast<T&>(static_cast<FMStr const&>(*this).at(i));
}

template <typename T>
T const& FMStr<T>::at(long i) const {
    if (i < 0) {
        i += m_length;
    }
    if (i < 0 || i >= m_length) {
        throw FException(1, "Index out of range");
    }
    return m_pBuffer[i];
}

template <typename T>
T* FMStr<T>::getBuffer(long n) {
    if (n >= 1) {
        T* fresh = new T[static_cast<std::size_t>(n) + 2]();
        delete[] m_pBuffer;
        m_pBuffer = fresh;
        m_capacity = n + 1;
        m_length = n;
    }
    return m_pBuffer;
}

template <typename T>
FMStr<T>& FMStr<T>::append(FStrToken<T> token) noexcept {
    long const n = token.Length();
    if (n < 1) {
        return *this;
    }
    if (aliases(token)) {
        FGStr<T> const copy(token);
        return append(FStrToken<T>(copy, n));
    }
    grow(n);
    T const* s = token;
    for (long i = 0; i < n; ++i) {
        m_pBuffer[m_length + i] = s[i];
    }
    m_length += n;
    m_pBuffer[m_length] = 0;
    return *this;
}

template <typename T>
FMStr<T>& FMStr<T>::append(T const& c, long n) noexcept {
    if (n < 1) {
        return *this;
    }
    T const value = c; // c may live in this buffer
    grow(n);
    FGStr<T>::fill(m_pBuffer + m_length, n, value);
    m_length += n;
    m_pBuffer[m_length] = 0;
    return *this;
}

template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(signed char v, long width, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(v, emptyWhenZero), width);
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(short v, long width, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(v, emptyWhenZero), width);
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(int v, long width, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(v, emptyWhenZero), width);
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(long v, long width, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(v, emptyWhenZero), width);
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(long long v, long width, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(v, emptyWhenZero), width);
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(unsigned char v, long width, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(v, emptyWhenZero), width);
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(unsigned short v, long width, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(v, emptyWhenZero), width);
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(unsigned int v, long width, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(v, emptyWhenZero), width);
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(unsigned long v, long width, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(v, emptyWhenZero), width);
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(unsigned long long v, long width, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(v, emptyWhenZero), width);
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(bool b, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(b, emptyWhenZero));
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(float v, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(v, emptyWhenZero));
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(double v, bool emptyWhenZero) noexcept {
    return appendOwned(FGStr<T>::valueOf(v, emptyWhenZero));
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(char const* s) noexcept {
    return appendOwned(FGStr<T>::valueOf(s));
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(char const* s, long n) noexcept {
    return appendOwned(FGStr<T>::valueOf(s, n));
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(wchar_t const* s) noexcept {
    return appendOwned(FGStr<T>::valueOf(s));
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(wchar_t const* s, long n) noexcept {
    return appendOwned(FGStr<T>::valueOf(s, n));
}
template <typename T>
FMStr<T>& FMStr<T>::appendValueOf(unsigned char const* p) noexcept {
    return appendOwned(FGStr<T>::valueOf(p));
}

template <typename T>
FMStr<T>& FMStr<T>::appendHexOf(unsigned char v) noexcept {
    grow(2);
    m_length += FGStr<T>::hexOf(m_pBuffer + m_length, v);
    m_pBuffer[m_length] = 0;
    return *this;
}

template <typename T>
FMStr<T>& FMStr<T>::appendHexOf(unsigned short v) noexcept {
    grow(4);
    m_length += FGStr<T>::hexOf(m_pBuffer + m_length, v);
    m_pBuffer[m_length] = 0;
    return *this;
}

template <typename T>
FMStr<T>& FMStr<T>::appendHexOf(unsigned int v) noexcept {
    if (m_length + 9 >= m_capacity) {
        alloc(m_capacity + m_capacity / 2 + 16); // capacity + capacity / 2 + 17
    }
    m_length += FGStr<T>::hexOf(m_pBuffer + m_length, v);
    m_pBuffer[m_length] = 0;
    return *this;
}

template <typename T>
FMStr<T>& FMStr<T>::appendHexOf(unsigned long long v) noexcept {
    grow(16);
    m_length += FGStr<T>::hexOf(m_pBuffer + m_length, v);
    m_pBuffer[m_length] = 0;
    return *this;
}

template <typename T>
FMStr<T>& FMStr<T>::appendHexOf(void const* p, long n) noexcept {
    if (p == nullptr || n < 1) {
        return *this;
    }
    grow(2 * n);
    m_length += FGStr<T>::hexOf(m_pBuffer + m_length, p, n);
    m_pBuffer[m_length] = 0;
    return *this;
}

template <typename T>
FMStr<T>& FMStr<T>::insert(T const* text, long n, long pos) noexcept {
    if (text == nullptr || n < 1) {
        return *this;
    }
    if (aliases(text)) {
        FGStr<T> const copy(text, n);
        return insert(copy, n, pos);
    }
    pos = resolveStart(pos, m_length);
    if (pos == m_length - 1 || pos >= m_length) {
        return append(text, n);
    }
    grow(n);
    for (long i = m_length; i >= pos; --i) { // the terminator moves too
        m_pBuffer[i + n] = m_pBuffer[i];
    }
    for (long i = 0; i < n; ++i) {
        m_pBuffer[pos + i] = text[i];
    }
    m_length += n;
    return *this;
}

template <typename T>
long FMStr<T>::fill(T c, long newLength, long pos) noexcept {
    if (newLength <= m_length) {
        return 0;
    }
    long const n = newLength - m_length;
    if (pos < 0) {
        pos = m_length + pos + 1 < 0 ? 0 : m_length + pos + 1;
    }
    if (pos >= m_length) {
        append(c, n);
        return n;
    }
    grow(n);
    for (long i = m_length; i >= pos; --i) {
        m_pBuffer[i + n] = m_pBuffer[i];
    }
    FGStr<T>::fill(m_pBuffer + pos, n, c);
    m_length += n;
    return n;
}

template <typename T>
FMStr<T>& FMStr<T>::remove(long start, long count) {
    start = resolveStart(start, m_length);
    if (start >= m_length) {
        return *this;
    }
    if (count < 0 || count > m_length - start) {
        count = m_length - start;
    }
    for (long i = start; i + count <= m_length; ++i) {
        m_pBuffer[i] = m_pBuffer[i + count];
    }
    m_length -= count;
    return *this;
}

template <typename T>
long FMStr<T>::replace(T from, T to) noexcept {
    long replaced = 0;
    for (long i = 0; i < m_length; ++i) {
        if (m_pBuffer[i] == from) {
            m_pBuffer[i] = to;
            ++replaced;
        }
    }
    return replaced;
}

template <typename T>
long FMStr<T>::replace(FStrToken<T> from, FStrToken<T> to) {
    if (from.isEmpty() || count(from) == 0) {
        return 0;
    }
    long replaced = 0;
    T* text = FGStr<T>::replace(m_pBuffer, m_length, from, from.Length(), to, to.Length(), 0, replaced);
    long const n = FGStr<T>::length(text);
    delete[] m_pBuffer; // the tokens may have viewed it; the new text is complete
    m_pBuffer = text;
    m_capacity = n + 1;
    m_length = n;
    return replaced;
}

template <typename T>
FMStr<T>& FMStr<T>::reverse() noexcept {
    FGStr<T>::reverse(m_pBuffer, m_length);
    return *this;
}

template <typename T>
FMStr<T>& FMStr<T>::toLower() noexcept {
    for (long i = 0; i < m_length; ++i) {
        m_pBuffer[i] = FGStr<T>::toLower(m_pBuffer[i]);
    }
    return *this;
}

template <typename T>
FMStr<T>& FMStr<T>::toUpper() noexcept {
    for (long i = 0; i < m_length; ++i) {
        m_pBuffer[i] = FGStr<T>::toUpper(m_pBuffer[i]);
    }
    return *this;
}

template <typename T>
long FMStr<T>::trim() noexcept {
    long const removed = rTrim();
    return removed + lTrim();
}

template <typename T>
long FMStr<T>::lTrim() noexcept {
    long n = 0;
    while (n < m_length && isBlank(m_pBuffer[n])) {
        ++n;
    }
    if (n > 0) {
        remove(0, n);
    }
    return n;
}

template <typename T>
long FMStr<T>::rTrim() noexcept {
    long end = m_length;
    while (end > 0 && isBlank(m_pBuffer[end - 1])) {
        --end;
    }
    long const removed = m_length - end;
    if (removed > 0) {
        m_length = end;
        m_pBuffer[end] = 0;
    }
    return removed;
}

template <typename T>
typename FMStr<T>::Pieces FMStr<T>::split(T sep, long max) const noexcept {
    Pieces pieces;
    splitInto(pieces, static_cast<T const*>(m_pBuffer), m_length, &sep, 1, max);
    return pieces;
}

template <typename T>
typename FMStr<T>::Pieces FMStr<T>::split(T const* sep, long max) const noexcept {
    Pieces pieces;
    splitInto(pieces, static_cast<T const*>(m_pBuffer), m_length, sep, FGStr<T>::length(sep), max);
    return pieces;
}

template <typename T>
typename FMStr<T>::Pieces FMStr<T>::split(FMStr const& sep, long max) const noexcept {
    Pieces pieces;
    splitInto(pieces, static_cast<T const*>(m_pBuffer), m_length, static_cast<T const*>(sep.m_pBuffer),
              sep.m_length, max);
    return pieces;
}

template <typename T>
FMStr<T>& FMStr<T>::join(FMStr const* items, long n) noexcept {
    for (long i = 0; items != nullptr && i < n; ++i) {
        append(FStrToken<T>(items[i]));
    }
    return *this;
}

template <typename T>
FMStr<T>& FMStr<T>::join(FMStr const* items) noexcept {
    for (long i = 0; items != nullptr && items[i].m_pBuffer != nullptr; ++i) {
        append(FStrToken<T>(items[i]));
    }
    return *this;
}

template <typename T>
FMStr<T> FMStr<T>::concat(FStrToken<T> token) const noexcept {
    FMStr result(*this);
    result.append(token);
    return result;
}

template <typename T>
void FMStr<T>::alloc(long n) noexcept {
    if (n < m_length) {
        n = m_length;
    }
    T* fresh = new T[static_cast<std::size_t>(n) + 2];
    for (long i = 0; i < m_length; ++i) {
        fresh[i] = m_pBuffer[i];
    }
    fresh[m_length] = 0;
    delete[] m_pBuffer;
    m_pBuffer = fresh;
    m_capacity = n + 1;
}

template <typename T>
void FMStr<T>::grow(long k) noexcept {
    if (m_length + k + 1 >= m_capacity) {
        alloc(m_capacity + k + m_capacity / 2);
    }
}

template <typename T>
FMStr<T>& FMStr<T>::appendOwned(T* text, long width) noexcept {
    long const n = FGStr<T>::length(text);
    long const zeros = width > n ? width - n : 0;
    grow(zeros + n);
    FGStr<T>::fill(m_pBuffer + m_length, zeros, static_cast<T>('0'));
    for (long i = 0; i < n; ++i) {
        m_pBuffer[m_length + zeros + i] = text[i];
    }
    m_length += zeros + n;
    m_pBuffer[m_length] = 0;
    delete[] text;
    return *this;
}

template <typename T>
bool FMStr<T>::aliases(T const* p) const noexcept {
    auto const address = reinterpret_cast<std::uintptr_t>(p);
    auto const begin = reinterpret_cast<std::uintptr_t>(m_pBuffer);
    return m_pBuffer != nullptr && address >= begin && address < begin + (m_capacity + 1) * sizeof(T);
}

template class FStrToken<char>;
template class FStrToken<wchar_t>;
template class FGStr<char>;
template class FGStr<wchar_t>;
template class FMStr<char>;
template class FMStr<wchar_t>;

} // namespace FSpace
