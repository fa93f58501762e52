// Text classes of the FSpace library, for T = char (8-bit text, bytes) and
// T = wchar_t (one 32-bit element per character):
//
//  - FStrToken<T>: a non-owning view (pointer and length); the parameter type of
//    the string operations, so each exists once for all sources of text.
//  - FGStr<T>: the plain string. One pointer to an exact-fit null-terminated
//    array (or null); every change of length reallocates. It also carries the
//    static functions over raw null-terminated arrays that do the real work.
//  - FMStr<T>: the growable string, with a stored length and capacity.
//
// Conventions shared by all three:
//  - Empty text has two forms, the null pointer and an array holding only the
//    terminator; both are empty. A null pointer passed as text is empty text.
//  - Positions are signed: a negative start counts from the end, -1 as a result
//    means "not found".
//  - Arrays returned by the static functions are made with array new and belong
//    to the caller (FGStr<T>::release frees one).
//  - Character classes and case mapping are ASCII only. char and wchar_t text
//    convert element by element: bytes zero-extend to wide elements, wide
//    elements keep their low 8 bits when narrowed.
//  - Elements compare as signed values, so bytes 0x80-0xFF sort before ASCII.
//  - Blanks, for trimming, are the elements 1 to 32 (controls and space).
//  - Appending, rendering, inserting, padding, splitting and assigning are
//    noexcept: running out of memory there ends the process.
//
// This header and FType.h include each other; the guard below is placed after
// the include so that the core types are always complete first.
#include "FType.h"

#ifndef FSPACE_FTYPESTRING_H
#define FSPACE_FTYPESTRING_H

#include <type_traits>

namespace FSpace {

template <typename T>
class FGStr;
template <typename T>
class FMStr;

/// The other character type (char for wchar_t and the other way round).
template <typename T>
using FOtherChar = std::conditional_t<std::is_same_v<T, char>, wchar_t, char>;

/// A view of length characters from pointer; no terminator needed. The viewed
/// characters must outlive the token and stay unchanged.
template <typename T>
class FStrToken {
public:
    FStrToken() noexcept = default;
    FStrToken(T const* s) noexcept;
    FStrToken(T const* s, long n) noexcept : m_pText(s), m_length(n < 0 ? 0 : n) {}
    FStrToken(FGStr<T> const& s) noexcept;
    FStrToken(FMStr<T> const& s) noexcept;
    FStrToken(FStrToken const&) noexcept = default;
    FStrToken& operator=(FStrToken const&) noexcept = default;
    FStrToken& operator=(T const* s) noexcept { return *this = FStrToken(s); }
    FStrToken& operator=(FGStr<T> const& s) noexcept { return *this = FStrToken(s); }
    FStrToken& operator=(FMStr<T> const& s) noexcept { return *this = FStrToken(s); }
    ~FStrToken() = default;

    FStrToken& assign(T const* s) noexcept { return *this = FStrToken(s); }
    FStrToken& assign(T const* s, long n) noexcept { return *this = FStrToken(s, n); }
    FStrToken& assign(FGStr<T> const& s) noexcept { return *this = FStrToken(s); }
    FStrToken& assign(FMStr<T> const& s) noexcept { return *this = FStrToken(s); }

    // Access
    operator T const*() const noexcept { return m_pText; }
    T const* operator*() const noexcept { return m_pText; }
    long Length() const noexcept { return m_length; }
    bool isEmpty() const noexcept { return m_length < 1; }
    bool operator!() const noexcept { return m_length < 1; }
    /// Element i for 0 <= i < length (no counting from the end); otherwise
    /// throws FException "Index out of Array".
    T const& at(long i) const;
    /// Element i without a check.
    T const& operator[](int i) const noexcept { return m_pText[i]; }

    // Sub-views over the same characters
    FStrToken left(long n) const noexcept;
    FStrToken right(long n) const noexcept;
    FStrToken subString(long start, long count = -1) const noexcept;
    FStrToken operator()(long start, long count) const noexcept { return subString(start, count); }

    // Reading
    long compare(FStrToken other) const noexcept;
    long compare(T const* s, long n) const noexcept { return compare(FStrToken(s, n)); }
    long compareIgnoreCase(FStrToken other) const noexcept;
    long compareIgnoreCase(T const* s, long n) const noexcept { return compareIgnoreCase(FStrToken(s, n)); }
    long count(T c) const noexcept;
    long count(FStrToken t) const noexcept;
    long count(T const* s, long n) const noexcept { return count(FStrToken(s, n)); }
    long indexOf(T c, long start = 0) const noexcept;
    long indexOf(FStrToken t, long start = 0) const noexcept;
    long indexOf(T const* s, long n, long start) const noexcept { return indexOf(FStrToken(s, n), start); }
    long lastIndexOf(T c, long start = -1) const noexcept;
    long lastIndexOf(FStrToken t, long start = -1) const noexcept;
    long lastIndexOf(T const* s, long n, long start) const noexcept {
        return lastIndexOf(FStrToken(s, n), start);
    }
    bool isLike(FStrToken other) const noexcept { return *this == other; }
    bool isNumeric() const noexcept;
    bool isAlpha() const noexcept;
    long s_verify(T const& c, long start = 0) const noexcept;
    long s_verify(FStrToken set, long start = 0) const noexcept;
    long s_verify(T const* set, long n, long start) const noexcept {
        return s_verify(FStrToken(set, n), start);
    }

    // Parsing
    long hexTo(void* buffer, long max) const noexcept;
    unsigned char hexToUInt8() const noexcept;
    unsigned short hexToUInt16() const noexcept;
    unsigned int hexToUInt32() const noexcept;
    unsigned long long hexToUInt64() const noexcept;
    signed char toInt8() const noexcept;
    short toInt16() const noexcept;
    int toInt32() const noexcept;
    long long toInt64() const noexcept;
    unsigned char toUInt8() const noexcept;
    unsigned short toUInt16() const noexcept;
    unsigned int toUInt32() const noexcept;
    unsigned long long toUInt64() const noexcept;
    float toSingle() const noexcept;
    double toDouble() const noexcept;

    /// A new growable string with the viewed characters, ASCII letters mapped.
    FMStr<T> toLower() const;
    FMStr<T> toUpper() const;
    /// Tokens are not split; both give an empty array (split FGStr or FMStr).
    FArray<FGStr<T>, FAllocation<FGStr<T>>> split(T sep, long max = 0) const;
    FArray<FGStr<T>, FAllocation<FGStr<T>>> split(FStrToken const& sep, long max = 0) const;

    // Equality: equal length and elements. Ordering: sign of compare.
    bool operator==(FStrToken const& other) const noexcept;
    bool operator==(T const* s) const noexcept { return *this == FStrToken(s); }
    bool operator==(FGStr<T> const& s) const noexcept { return *this == FStrToken(s); }
    bool operator==(FMStr<T> const& s) const noexcept { return *this == FStrToken(s); }
    bool operator!=(FStrToken const& other) const noexcept { return !(*this == other); }
    bool operator!=(T const* s) const noexcept { return !(*this == FStrToken(s)); }
    bool operator!=(FGStr<T> const& s) const noexcept { return !(*this == FStrToken(s)); }
    bool operator!=(FMStr<T> const& s) const noexcept { return !(*this == FStrToken(s)); }
    bool operator<(FStrToken const& other) const noexcept { return compare(other) < 0; }
    bool operator<(T const* s) const noexcept { return compare(FStrToken(s)) < 0; }
    bool operator<(FGStr<T> const& s) const noexcept { return compare(FStrToken(s)) < 0; }
    bool operator<(FMStr<T> const& s) const noexcept { return compare(FStrToken(s)) < 0; }
    bool operator>(FStrToken const& other) const noexcept { return compare(other) > 0; }
    bool operator>(T const* s) const noexcept { return compare(FStrToken(s)) > 0; }
    bool operator>(FGStr<T> const& s) const noexcept { return compare(FStrToken(s)) > 0; }
    bool operator>(FMStr<T> const& s) const noexcept { return compare(FStrToken(s)) > 0; }

private:
    T const* m_pText = nullptr;
    long m_length = 0;
};

/// The plain string: one owned, exact-fit, null-terminated array (or null).
template <typename T>
class FGStr {
public:
    using Other = FOtherChar<T>;
    using Pieces = FArray<FGStr, FAllocation<FGStr>>;

    // Constants (null-terminated). The byte-order marks are bytes in both forms.
    static T const* const Null;
    static T const* const CR;
    static T const* const LF;
    static T const* const CRLF;
    static T const* const NewLine;
    static char const* const BOMLE;
    static char const* const BOMBE;

    // Construction and assignment. Empty sources give the null form.
    FGStr() noexcept = default;
    FGStr(T const* s);
    /// Exactly n elements from \p s; n < 1 or a null pointer gives empty.
    FGStr(T const* s, long n);
    FGStr(FGStr const& other);
    FGStr(FGStr&& other) noexcept : m_pText(other.m_pText) { other.m_pText = nullptr; }
    FGStr(FMStr<T> const& other);
    FGStr(FStrToken<T> token);
    ~FGStr() { release(m_pText); }

    FGStr& operator=(FGStr const& other) { return assign(FStrToken<T>(other)); }
    FGStr& operator=(FGStr&& other) noexcept;
    FGStr& operator=(FMStr<T> const& other) { return assign(FStrToken<T>(other)); }
    FGStr& operator=(FStrToken<T> token) { return assign(token); }
    FGStr& operator=(T const* s) { return assign(FStrToken<T>(s)); }
    /// Replaces the content by a fresh copy (made before the old one is freed).
    FGStr& assign(FStrToken<T> token) noexcept;
    FGStr& assign(T const* s, long n) noexcept { return assign(FStrToken<T>(s, n)); }

    void swap(FGStr& other) noexcept;
    FGStr clone() const { return FGStr(*this); }
    /// Empties the text but keeps the array.
    void clear() noexcept;
    bool isEmpty() const noexcept { return m_pText == nullptr || m_pText[0] == 0; }
    bool operator!() const noexcept { return isEmpty(); }
    long length() const noexcept { return length(m_pText); }
    /// The raw array; null for the null form.
    operator T const*() const noexcept { return m_pText; }
    /// Element access; a negative index counts from the end. Throws FException
    /// "Index out of range" outside the text.
    T& at(long i);
    T const& at(long i) const;
    T& operator[](long i) { return at(i); }
    T const& operator[](long i) const { return at(i); }
    /// For n >= 1: drops the content and returns a zeroed, writable array of
    /// n + 2 elements owned by the string. For n < 1: the current array.
    T* getBuffer(long n);

    // Appending (each returns the string)
    FGStr& append(FStrToken<T> token) noexcept;
    FGStr& append(T const& c) noexcept { return append(FStrToken<T>(&c, 1)); }
    FGStr& operator+=(FStrToken<T> token) noexcept { return append(token); }
    FGStr& operator<<(T const* s) noexcept { return append(FStrToken<T>(s)); }
    FGStr& operator<<(FGStr const& s) noexcept { return append(FStrToken<T>(s)); }
    FGStr& operator<<(FMStr<T> const& s) noexcept { return append(FStrToken<T>(s)); }
    FGStr& operator<<(FStrToken<T> const& s) noexcept { return append(s); }
    FGStr& operator<<(Other const* s) noexcept { return appendValueOf(s); }
    /// One character (without this, a character would be promoted and rendered
    /// as a number).
    FGStr& operator<<(T const& c) noexcept { return append(c); }
    FGStr& appendValueOf(char const* s) noexcept { return appendOwned(valueOf(s)); }
    FGStr& appendValueOf(char const* s, long n) noexcept { return appendOwned(valueOf(s, n)); }
    FGStr& appendValueOf(wchar_t const* s) noexcept { return appendOwned(valueOf(s)); }
    FGStr& appendValueOf(wchar_t const* s, long n) noexcept { return appendOwned(valueOf(s, n)); }
    FGStr& operator<<(bool const& b) noexcept { return appendValueOf(b, false); }
    FGStr& appendValueOf(bool b, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(b, emptyWhenZero));
    }

    FGStr& operator<<(signed char const& v) noexcept { return appendValueOf(v, false); }
    FGStr& operator<<(short const& v) noexcept { return appendValueOf(v, false); }
    FGStr& operator<<(int const& v) noexcept { return appendValueOf(v, false); }
    FGStr& operator<<(long const& v) noexcept { return appendValueOf(v, false); }
    FGStr& operator<<(long long const& v) noexcept { return appendValueOf(v, false); }
    FGStr& operator<<(unsigned char const& v) noexcept { return appendValueOf(v, false); }
    FGStr& operator<<(unsigned short const& v) noexcept { return appendValueOf(v, false); }
    FGStr& operator<<(unsigned int const& v) noexcept { return appendValueOf(v, false); }
    FGStr& operator<<(unsigned long const& v) noexcept { return appendValueOf(v, false); }
    FGStr& operator<<(unsigned long long const& v) noexcept { return appendValueOf(v, false); }
    FGStr& operator<<(float const& v) noexcept { return appendValueOf(v, false); }
    FGStr& operator<<(double const& v) noexcept { return appendValueOf(v, false); }
    FGStr& appendValueOf(signed char v, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(v, emptyWhenZero));
    }
    FGStr& appendValueOf(short v, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(v, emptyWhenZero));
    }
    FGStr& appendValueOf(int v, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(v, emptyWhenZero));
    }
    FGStr& appendValueOf(long v, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(v, emptyWhenZero));
    }
    FGStr& appendValueOf(long long v, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(v, emptyWhenZero));
    }
    FGStr& appendValueOf(unsigned char v, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(v, emptyWhenZero));
    }
    FGStr& appendValueOf(unsigned short v, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(v, emptyWhenZero));
    }
    FGStr& appendValueOf(unsigned int v, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(v, emptyWhenZero));
    }
    FGStr& appendValueOf(unsigned long v, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(v, emptyWhenZero));
    }
    FGStr& appendValueOf(unsigned long long v, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(v, emptyWhenZero));
    }
    FGStr& appendValueOf(float v, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(v, emptyWhenZero));
    }
    FGStr& appendValueOf(double v, bool emptyWhenZero) noexcept {
        return appendOwned(valueOf(v, emptyWhenZero));
    }
    /// The pointer value itself (not the bytes it points to), 16 hex digits.
    FGStr& operator<<(unsigned char const* p) noexcept { return appendValueOf(p); }
    FGStr& appendValueOf(unsigned char const* p) noexcept { return appendOwned(valueOf(p)); }

    FGStr& appendHexOf(signed char v) noexcept { return appendOwned(hexOf(static_cast<unsigned char>(v))); }
    FGStr& appendHexOf(short v) noexcept { return appendOwned(hexOf(static_cast<unsigned short>(v))); }
    FGStr& appendHexOf(int v) noexcept { return appendOwned(hexOf(static_cast<unsigned int>(v))); }
    FGStr& appendHexOf(long v) noexcept { return appendOwned(hexOf(static_cast<unsigned long long>(v))); }
    FGStr& appendHexOf(long long v) noexcept {
        return appendOwned(hexOf(static_cast<unsigned long long>(v)));
    }
    FGStr& appendHexOf(unsigned char v) noexcept { return appendOwned(hexOf(v)); }
    FGStr& appendHexOf(unsigned short v) noexcept { return appendOwned(hexOf(v)); }
    FGStr& appendHexOf(unsigned int v) noexcept { return appendOwned(hexOf(v)); }
    FGStr& appendHexOf(unsigned long v) noexcept {
        return appendOwned(hexOf(static_cast<unsigned long long>(v)));
    }
    FGStr& appendHexOf(unsigned long long v) noexcept { return appendOwned(hexOf(v)); }
    /// 2n digits for the n bytes at \p p, in memory order; n < 1 appends nothing.
    FGStr& appendHexOf(void const* p, long n) noexcept { return appendOwned(hexOf(p, n)); }

    FGStr operator+(FStrToken<T> token) const noexcept { return concat(token); }
    FGStr concat(FStrToken<T> token) const noexcept;

    // Comparison and search
    long compare(FStrToken<T> other) const noexcept { return FStrToken<T>(*this).compare(other); }
    long compareIgnoreCase(FStrToken<T> other) const noexcept {
        return FStrToken<T>(*this).compareIgnoreCase(other);
    }
    bool operator==(FGStr const& s) const noexcept { return FStrToken<T>(*this) == FStrToken<T>(s); }
    bool operator==(FMStr<T> const& s) const noexcept { return FStrToken<T>(*this) == FStrToken<T>(s); }
    bool operator==(FStrToken<T> const& s) const noexcept { return FStrToken<T>(*this) == s; }
    bool operator==(T const* s) const noexcept { return FStrToken<T>(*this) == FStrToken<T>(s); }
    bool operator!=(FGStr const& s) const noexcept { return !(*this == s); }
    bool operator!=(FMStr<T> const& s) const noexcept { return !(*this == s); }
    bool operator!=(FStrToken<T> const& s) const noexcept { return !(*this == s); }
    bool operator!=(T const* s) const noexcept { return !(*this == s); }
    bool operator<(FGStr const& s) const noexcept { return compare(s) < 0; }
    bool operator<(FMStr<T> const& s) const noexcept { return compare(s) < 0; }
    bool operator<(FStrToken<T> const& s) const noexcept { return compare(s) < 0; }
    bool operator<(T const* s) const noexcept { return compare(s) < 0; }
    bool operator>(FGStr const& s) const noexcept { return compare(s) > 0; }
    bool operator>(FMStr<T> const& s) const noexcept { return compare(s) > 0; }
    bool operator>(FStrToken<T> const& s) const noexcept { return compare(s) > 0; }
    bool operator>(T const* s) const noexcept { return compare(s) > 0; }
    bool isLike(FStrToken<T> other) const noexcept { return *this == other; }
    long indexOf(T c, long start = 0) const noexcept { return FStrToken<T>(*this).indexOf(c, start); }
    long indexOf(FStrToken<T> t, long start = 0) const noexcept {
        return FStrToken<T>(*this).indexOf(t, start);
    }
    long lastIndexOf(T c, long start = -1) const noexcept {
        return FStrToken<T>(*this).lastIndexOf(c, start);
    }
    long lastIndexOf(FStrToken<T> t, long start = -1) const noexcept {
        return FStrToken<T>(*this).lastIndexOf(t, start);
    }
    long count(T c) const noexcept { return FStrToken<T>(*this).count(c); }
    long count(FStrToken<T> t) const noexcept { return FStrToken<T>(*this).count(t); }
    long s_verify(T const& c, long start = 0) const noexcept {
        return FStrToken<T>(*this).s_verify(c, start);
    }
    long s_verify(FStrToken<T> set, long start = 0) const noexcept {
        return FStrToken<T>(*this).s_verify(set, start);
    }
    long s_verify(T const* set, long n, long start) const noexcept {
        return FStrToken<T>(*this).s_verify(set, n, start);
    }
    bool isNumeric() const noexcept { return FStrToken<T>(*this).isNumeric(); }
    bool isAlpha() const noexcept { return FStrToken<T>(*this).isAlpha(); }

    // Editing
    FGStr left(long n) const { return FGStr(FStrToken<T>(*this).left(n)); }
    FGStr right(long n) const { return FGStr(FStrToken<T>(*this).right(n)); }
    FGStr subString(long start, long count = -1) const {
        return FGStr(FStrToken<T>(*this).subString(start, count));
    }
    /// A view into this string's array; valid while the string is unchanged.
    FStrToken<T> operator()(long start, long count) const noexcept {
        return FStrToken<T>(*this).subString(start, count);
    }
    /// Deletes \p count characters from \p start (count < 0: to the end).
    FGStr& remove(long start, long count = -1);
    /// Returns the number of elements replaced.
    long replace(T from, T to) noexcept;
    /// Replaces every occurrence, left to right without overlap; returns how many.
    long replace(FStrToken<T> from, FStrToken<T> to);
    FGStr& reverse() noexcept;
    FGStr& toLower() noexcept;
    FGStr& toUpper() noexcept;
    /// Remove blanks in place; return the number of elements removed.
    long trim() noexcept;
    long lTrim() noexcept;
    long rTrim() noexcept;
    /// Pieces cut at each separator; with max >= 1 at most max pieces, the last
    /// holding the rest. Empty pieces are kept.
    Pieces split(T sep, long max = 0) const noexcept;
    Pieces split(FStrToken<T> sep, long max = 0) const noexcept;
    /// Replaces the content by the concatenation of n texts (n < 1: null form).
    FGStr& join(T const** parts, long n) noexcept;
    /// The same for a null-terminated list of texts.
    FGStr& join(T const** parts) noexcept;

    // Parsing
    signed char toInt8() const noexcept { return FStrToken<T>(*this).toInt8(); }
    short toInt16() const noexcept { return FStrToken<T>(*this).toInt16(); }
    int toInt32() const noexcept { return FStrToken<T>(*this).toInt32(); }
    long long toInt64() const noexcept { return FStrToken<T>(*this).toInt64(); }
    unsigned char toUInt8() const noexcept { return FStrToken<T>(*this).toUInt8(); }
    unsigned short toUInt16() const noexcept { return FStrToken<T>(*this).toUInt16(); }
    unsigned int toUInt32() const noexcept { return FStrToken<T>(*this).toUInt32(); }
    unsigned long long toUInt64() const noexcept { return FStrToken<T>(*this).toUInt64(); }
    float toSingle() const noexcept { return FStrToken<T>(*this).toSingle(); }
    double toDouble() const noexcept { return FStrToken<T>(*this).toDouble(); }
    unsigned char hexToUInt8() const noexcept { return FStrToken<T>(*this).hexToUInt8(); }
    unsigned short hexToUInt16() const noexcept { return FStrToken<T>(*this).hexToUInt16(); }
    unsigned int hexToUInt32() const noexcept { return FStrToken<T>(*this).hexToUInt32(); }
    unsigned long long hexToUInt64() const noexcept { return FStrToken<T>(*this).hexToUInt64(); }
    long hexTo(void* buffer, long max) const noexcept { return FStrToken<T>(*this).hexTo(buffer, max); }

    // ---- Static functions over raw arrays ----

    /// Frees an array made by one of the static functions (array delete).
    static void release(T* p) noexcept { delete[] p; }

    // Value to text; each returns a new array.
    static T* valueOf(bool b, bool emptyWhenZero);
    static T* valueOf(T c);
    static T* valueOf(char const* s);
    static T* valueOf(char const* s, long n);
    static T* valueOf(wchar_t const* s);
    static T* valueOf(wchar_t const* s, long n);
    static T* valueOf(signed char v, bool emptyWhenZero);
    static T* valueOf(short v, bool emptyWhenZero);
    static T* valueOf(int v, bool emptyWhenZero);
    static T* valueOf(long v, bool emptyWhenZero);
    static T* valueOf(long long v, bool emptyWhenZero);
    static T* valueOf(unsigned char v, bool emptyWhenZero);
    static T* valueOf(unsigned short v, bool emptyWhenZero);
    static T* valueOf(unsigned int v, bool emptyWhenZero);
    static T* valueOf(unsigned long v, bool emptyWhenZero);
    static T* valueOf(unsigned long long v, bool emptyWhenZero);
    static T* valueOf(float v, bool emptyWhenZero);
    static T* valueOf(double v, bool emptyWhenZero);
    static T* valueOf(unsigned char const* p);
    static T* hexOf(unsigned char v);
    static T* hexOf(unsigned short v);
    static T* hexOf(unsigned int v);
    static T* hexOf(unsigned long long v);
    static T* hexOf(void const* p, long n);
    /// Write 2, 4, 8 or 16 digits (or 2n) into \p buffer, without a terminator;
    /// return the number written.
    static long hexOf(T* buffer, unsigned char v) noexcept;
    static long hexOf(T* buffer, unsigned short v) noexcept;
    static long hexOf(T* buffer, unsigned int v) noexcept;
    static long hexOf(T* buffer, unsigned long long v) noexcept;
    static long hexOf(T* buffer, void const* p, long n) noexcept;
    /// The character of the decimal digit v % 10.
    static T digitOf(unsigned char v) noexcept { return static_cast<T>('0' + v % 10); }

    // Comparison over raw arrays (null-terminated, or with explicit lengths;
    // the Range forms look at no more than n elements of each).
    static long compare(T const* a, T const* b) noexcept;
    static long compare(T const* a, long la, T const* b, long lb) noexcept;
    static long compareRange(T const* a, T const* b, long n) noexcept;
    static long compareIgnoreCase(T const* a, T const* b) noexcept;
    static long compareIgnoreCase(T const* a, long la, T const* b, long lb) noexcept;
    static long compareRangeIgnoreCase(T const* a, T const* b, long n) noexcept;
    static long indexOf(T const* s, long ls, T c, long start) noexcept;
    static long indexOf(T const* s, long ls, T const* t, long lt, long start) noexcept;
    static long lastIndexOf(T const* s, long ls, T c, long start) noexcept;
    static long lastIndexOf(T const* s, long ls, T const* t, long lt, long start) noexcept;
    static long count(T const* s, long ls, T c) noexcept;
    static long count(T const* s, long ls, T const* t, long lt) noexcept;
    static long verify(T const* s, long ls, T const* set, long lset, long start) noexcept;
    static bool isNumeric(T const* s, long ls) noexcept;
    static bool isAlpha(T const* s, long ls) noexcept;
    /// Element i of a null-terminated string (negative: from the end); throws
    /// FException "Index out of range" outside it.
    static T const& charAt(T const* s, long i);

    // Parsing; the first form reads up to the terminator, the second n elements.
    static signed char toInt8(T const* s) noexcept;
    static signed char toInt8(T const* s, long n) noexcept;
    static short toInt16(T const* s) noexcept;
    static short toInt16(T const* s, long n) noexcept;
    static int toInt32(T const* s) noexcept;
    static int toInt32(T const* s, long n) noexcept;
    static long long toInt64(T const* s) noexcept;
    static long long toInt64(T const* s, long n) noexcept;
    static unsigned char toUInt8(T const* s) noexcept;
    static unsigned char toUInt8(T const* s, long n) noexcept;
    static unsigned short toUInt16(T const* s) noexcept;
    static unsigned short toUInt16(T const* s, long n) noexcept;
    static unsigned int toUInt32(T const* s) noexcept;
    static unsigned int toUInt32(T const* s, long n) noexcept;
    static unsigned long long toUInt64(T const* s) noexcept;
    static unsigned long long toUInt64(T const* s, long n) noexcept;
    static float toSingle(T const* s) noexcept;
    static float toSingle(T const* s, long n) noexcept;
    static double toDouble(T const* s) noexcept;
    static double toDouble(T const* s, long n) noexcept;
    /// '0'-'9', 'A'-'F', 'a'-'f' to 0-15; anything else to 0.
    static unsigned char hexToNibble(T const& c) noexcept;
    /// 2, 4, 8, 16 digits, most significant first; a shorter text gives the
    /// value of the digits it has.
    static unsigned char hexToUInt8(T const* s) noexcept;
    static unsigned char hexToUInt8(T const* s, long n) noexcept;
    static unsigned short hexToUInt16(T const* s) noexcept;
    static unsigned short hexToUInt16(T const* s, long n) noexcept;
    static unsigned int hexToUInt32(T const* s) noexcept;
    static unsigned int hexToUInt32(T const* s, long n) noexcept;
    static unsigned long long hexToUInt64(T const* s) noexcept;
    static unsigned long long hexToUInt64(T const* s, long n) noexcept;
    /// min(n / 2, max) bytes from digit pairs; returns the number written.
    static long hexTo(T const* s, long n, void* buffer, long max) noexcept;

    // Raw arrays
    static long length(T const* s) noexcept;
    /// New array with a copy of the null-terminated \p s.
    static T* copy(T const* s);
    /// New array with exactly n elements of \p s (n < 1 or null: empty).
    static T* copy(T const* s, long n);
    /// Copies at most capacity - 1 elements and terminates; returns the number copied.
    static long copyTo(T* dst, long capacity, T const* src) noexcept;
    static long copyTo(T* dst, long capacity, T const* src, long n) noexcept;
    /// As copyTo with n, the elements in reverse order.
    static long copyToRev(T* dst, long capacity, T const* src, long n) noexcept;
    static T* concat(T const* a, long la, T const* b, long lb);
    static T* concat(T const* a, T const* b);
    /// Appends \p src at the end of dst's text, keeping the whole text below
    /// capacity elements; returns the number appended.
    static long concatTo(T* dst, long capacity, T const* src) noexcept;
    /// Appends the n texts to dst under the same bound; returns the number appended.
    static long joinTo(T* dst, long capacity, T const** parts, long n) noexcept;
    /// New array: the concatenation of the n texts.
    static T* joinFrom(T const** parts, long n);
    static void fill(T* p, long n, T c) noexcept;
    /// New array of n + 2 elements: empty text (or n copies of c), terminated at n.
    static T* create(long n);
    static T* create(long n, T c);
    static bool isEmpty(T const* s) noexcept { return s == nullptr || s[0] == 0; }
    static bool isDigit(T c) noexcept { return c >= '0' && c <= '9'; }
    static T toLower(T c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<T>(c + ('a' - 'A')) : c; }
    static T toUpper(T c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<T>(c - ('a' - 'A')) : c; }
    static void swap(T& a, T& b) noexcept;
    static void clear(T* s) noexcept;
    /// Adds the pieces of \p s cut at \p sep to \p out (see split).
    static void splitTo(Pieces& out, T const* s, long ls, T const* sep, long lsep, long max);
    /// Number of leading elements of \p s that belong to \p set.
    static long stripIndexOf(T const* s, long ls, T const* set, long lset) noexcept;
    /// Removes count elements from start of the null-terminated \p s in place
    /// (count < 0: to the end); returns the number removed.
    static long removeSubString(T* s, long start, long count) noexcept;
    static long ltrim(T* s) noexcept;
    static long rtrim(T* s) noexcept;
    static long trim(T* s) noexcept;
    static void reverse(T* s, long n) noexcept;
    static void reverse(T* s) noexcept { reverse(s, length(s)); }
    /// New array: \p s with up to \p max occurrences of \p from (max < 1: all)
    /// replaced by \p to; \p replaced receives the number of replacements.
    static T* replace(T const* s, long ls, T const* from, long lf, T const* to, long lt, long max,
                      long& replaced);

private:
    /// Appends a new array from a static function and frees it.
    FGStr& appendOwned(T* text) noexcept;
    void take(T* text) noexcept;

    T* m_pText = nullptr;
};

/// FGStr<unsigned char> exists only to copy byte blocks.
template <>
class FGStr<unsigned char> {
public:
    FGStr() = delete;
    /// New array (array new) with exactly n bytes of \p s and a terminating 0;
    /// n < 1 or null gives an array holding only the terminator.
    static unsigned char* copy(unsigned char const* s, long n);
    static void release(unsigned char* p) noexcept { delete[] p; }
};

/// The growable string: buffer, capacity (elements the text and terminator may
/// occupy) and length. Grows by the request plus half the capacity.
template <typename T>
class FMStr {
public:
    using Other = FOtherChar<T>;
    using Pieces = FArray<FMStr, FAllocation<FMStr>>;

    FMStr() noexcept = default;
    /// Reserves room for \p n characters (negative counts as 0).
    explicit FMStr(long n);
    FMStr(FMStr const& other);
    FMStr(FMStr&& other) noexcept;
    FMStr(FGStr<T> const& s);
    FMStr(T const* s);
    FMStr(T const* s, long n);
    FMStr(FStrToken<T> token);
    ~FMStr() { delete[] m_pBuffer; }

    FMStr& operator=(FMStr const& other) noexcept;
    FMStr& operator=(FMStr&& other) noexcept;
    FMStr& operator=(T const* s) noexcept { return assign(FStrToken<T>(s)); }
    FMStr& operator=(FGStr<T> const& s) noexcept { return assign(FStrToken<T>(s)); }
    FMStr& operator=(FStrToken<T> token) noexcept { return assign(token); }
    FMStr& assign(FStrToken<T> token) noexcept;
    FMStr& assign(T const* s, long n) noexcept { return assign(FStrToken<T>(s, n)); }

    void swap(FMStr& other) noexcept;
    void clear() noexcept;
    bool isEmpty() const noexcept { return m_length == 0; }
    bool operator!() const noexcept { return m_length == 0; }
    long Length() const noexcept { return m_length; }
    long Capacity() const noexcept { return m_capacity; }
    operator T const*() const noexcept { return m_pBuffer; }
    /// Negative i counts from the end; outside the text throws FException
    /// (code 1, "Index out of range").
    T& at(long i);
    T const& at(long i) const;
    T& operator[](long i) { return at(i); }
    T const& operator[](long i) const { return at(i); }
    /// For n >= 1: a new zeroed array of n + 2 elements, capacity n + 1 and
    /// length n (the caller fills it). For n < 1: the current buffer.
    T* getBuffer(long n);

    // Appending
    FMStr& append(FStrToken<T> token) noexcept;
    FMStr& append(T const* s, long n) noexcept { return append(FStrToken<T>(s, n)); }
    /// n copies of \p c.
    FMStr& append(T const& c, long n) noexcept;
    FMStr& operator+=(FStrToken<T> token) noexcept { return append(token); }
    FMStr& operator<<(T const* s) noexcept { return append(FStrToken<T>(s)); }
    FMStr& operator<<(FGStr<T> const& s) noexcept { return append(FStrToken<T>(s)); }
    FMStr& operator<<(FMStr const& s) noexcept { return append(FStrToken<T>(s)); }
    FMStr& operator<<(FStrToken<T> const& s) noexcept { return append(s); }
    FMStr& operator<<(Other const* s) noexcept { return appendValueOf(s); }
    /// One character.
    FMStr& operator<<(T const& c) noexcept { return append(c, 1); }
    FMStr& operator<<(bool const& b) noexcept { return appendValueOf(b, false); }
    FMStr& operator<<(signed char const& v) noexcept { return appendValueOf(v, 0, false); }
    FMStr& operator<<(short const& v) noexcept { return appendValueOf(v, 0, false); }
    FMStr& operator<<(int const& v) noexcept { return appendValueOf(v, 0, false); }
    FMStr& operator<<(long const& v) noexcept { return appendValueOf(v, 0, false); }
    FMStr& operator<<(long long const& v) noexcept { return appendValueOf(v, 0, false); }
    FMStr& operator<<(unsigned char const& v) noexcept { return appendValueOf(v, 0, false); }
    FMStr& operator<<(unsigned short const& v) noexcept { return appendValueOf(v, 0, false); }
    FMStr& operator<<(unsigned int const& v) noexcept { return appendValueOf(v, 0, false); }
    FMStr& operator<<(unsigned long const& v) noexcept { return appendValueOf(v, 0, false); }
    FMStr& operator<<(unsigned long long const& v) noexcept { return appendValueOf(v, 0, false); }
    FMStr& operator<<(float const& v) noexcept { return appendValueOf(v, false); }
    FMStr& operator<<(double const& v) noexcept { return appendValueOf(v, false); }
    FMStr& operator<<(unsigned char const* p) noexcept { return appendValueOf(p); }

    /// Decimal text, with '0' characters in front of the whole text (a minus
    /// sign included) up to \p width characters.
    FMStr& appendValueOf(signed char v, long width = 0, bool emptyWhenZero = false) noexcept;
    FMStr& appendValueOf(short v, long width = 0, bool emptyWhenZero = false) noexcept;
    FMStr& appendValueOf(int v, long width = 0, bool emptyWhenZero = false) noexcept;
    FMStr& appendValueOf(long v, long width = 0, bool emptyWhenZero = false) noexcept;
    FMStr& appendValueOf(long long v, long width = 0, bool emptyWhenZero = false) noexcept;
    FMStr& appendValueOf(unsigned char v, long width = 0, bool emptyWhenZero = false) noexcept;
    FMStr& appendValueOf(unsigned short v, long width = 0, bool emptyWhenZero = false) noexcept;
    FMStr& appendValueOf(unsigned int v, long width = 0, bool emptyWhenZero = false) noexcept;
    FMStr& appendValueOf(unsigned long v, long width = 0, bool emptyWhenZero = false) noexcept;
    FMStr& appendValueOf(unsigned long long v, long width = 0, bool emptyWhenZero = false) noexcept;
    FMStr& appendValueOf(bool b, bool emptyWhenZero) noexcept;
    FMStr& appendValueOf(float v, bool emptyWhenZero) noexcept;
    FMStr& appendValueOf(double v, bool emptyWhenZero) noexcept;
    FMStr& appendValueOf(char const* s) noexcept;
    FMStr& appendValueOf(char const* s, long n) noexcept;
    FMStr& appendValueOf(wchar_t const* s) noexcept;
    FMStr& appendValueOf(wchar_t const* s, long n) noexcept;
    FMStr& appendValueOf(unsigned char const* p) noexcept;
    FMStr& appendHexOf(signed char v) noexcept { return appendHexOf(static_cast<unsigned char>(v)); }
    FMStr& appendHexOf(short v) noexcept { return appendHexOf(static_cast<unsigned short>(v)); }
    FMStr& appendHexOf(int v) noexcept { return appendHexOf(static_cast<unsigned int>(v)); }
    FMStr& appendHexOf(long v) noexcept { return appendHexOf(static_cast<unsigned long long>(v)); }
    FMStr& appendHexOf(long long v) noexcept { return appendHexOf(static_cast<unsigned long long>(v)); }
    FMStr& appendHexOf(unsigned char v) noexcept;
    FMStr& appendHexOf(unsigned short v) noexcept;
    FMStr& appendHexOf(unsigned int v) noexcept;
    FMStr& appendHexOf(unsigned long v) noexcept { return appendHexOf(static_cast<unsigned long long>(v)); }
    FMStr& appendHexOf(unsigned long long v) noexcept;
    FMStr& appendHexOf(void const* p, long n) noexcept;

    // Editing
    /// Inserts n characters before \p pos (negative: from the end). A position
    /// of length - 1 (what -1 resolves to) appends at the end instead.
    FMStr& insert(T const* text, long n, long pos) noexcept;
    FMStr& insert(FStrToken<T> token, long pos) noexcept { return insert(token, token.Length(), pos); }
    /// Grows to \p newLength by inserting copies of \p c at \p pos (negative:
    /// length + pos + 1; at or past the end: appended). Returns the number inserted.
    long fill(T c, long newLength, long pos) noexcept;
    long lFill(T c, long width) noexcept { return fill(c, width, 0); }
    long rFill(T c, long width) noexcept { return fill(c, width, m_length); }
    FMStr& remove(long start, long count = -1);
    long replace(T from, T to) noexcept;
    long replace(FStrToken<T> from, FStrToken<T> to);
    FMStr& reverse() noexcept;
    FMStr& toLower() noexcept;
    FMStr& toUpper() noexcept;
    long trim() noexcept;
    long lTrim() noexcept;
    long rTrim() noexcept;
    FMStr left(long n) const { return FMStr(FStrToken<T>(*this).left(n)); }
    FMStr right(long n) const { return FMStr(FStrToken<T>(*this).right(n)); }
    FMStr subString(long start, long count = -1) const {
        return FMStr(FStrToken<T>(*this).subString(start, count));
    }
    FMStr operator()(long start, long count) const { return subString(start, count); }
    Pieces split(T sep, long max = 0) const noexcept;
    Pieces split(T const* sep, long max = 0) const noexcept;
    Pieces split(FMStr const& sep, long max = 0) const noexcept;
    /// Appends the n items with no separator.
    FMStr& join(FMStr const* items, long n) noexcept;
    /// Appends the items before the first one without a buffer.
    FMStr& join(FMStr const* items) noexcept;

    // Comparison and search (over the stored length)
    long compare(FStrToken<T> other) const noexcept { return FStrToken<T>(*this).compare(other); }
    long compareIgnoreCase(FStrToken<T> other) const noexcept {
        return FStrToken<T>(*this).compareIgnoreCase(other);
    }
    bool operator==(FMStr const& s) const noexcept { return FStrToken<T>(*this) == FStrToken<T>(s); }
    bool operator==(FGStr<T> const& s) const noexcept { return FStrToken<T>(*this) == FStrToken<T>(s); }
    bool operator==(FStrToken<T> const& s) const noexcept { return FStrToken<T>(*this) == s; }
    bool operator==(T const* s) const noexcept { return FStrToken<T>(*this) == FStrToken<T>(s); }
    bool operator!=(FMStr const& s) const noexcept { return !(*this == s); }
    bool operator!=(FGStr<T> const& s) const noexcept { return !(*this == s); }
    bool operator!=(FStrToken<T> const& s) const noexcept { return !(*this == s); }
    bool operator!=(T const* s) const noexcept { return !(*this == s); }
    bool operator<(FMStr const& s) const noexcept { return compare(s) < 0; }
    bool operator<(FGStr<T> const& s) const noexcept { return compare(s) < 0; }
    bool operator<(FStrToken<T> const& s) const noexcept { return compare(s) < 0; }
    bool operator<(T const* s) const noexcept { return compare(s) < 0; }
    bool operator>(FMStr const& s) const noexcept { return compare(s) > 0; }
    bool operator>(FGStr<T> const& s) const noexcept { return compare(s) > 0; }
    bool operator>(FStrToken<T> const& s) const noexcept { return compare(s) > 0; }
    bool operator>(T const* s) const noexcept { return compare(s) > 0; }
    bool isLike(FStrToken<T> other) const noexcept { return *this == other; }
    long indexOf(T c, long start = 0) const noexcept { return FStrToken<T>(*this).indexOf(c, start); }
    long indexOf(FStrToken<T> t, long start = 0) const noexcept {
        return FStrToken<T>(*this).indexOf(t, start);
    }
    long lastIndexOf(T c, long start = -1) const noexcept {
        return FStrToken<T>(*this).lastIndexOf(c, start);
    }
    long lastIndexOf(FStrToken<T> t, long start = -1) const noexcept {
        return FStrToken<T>(*this).lastIndexOf(t, start);
    }
    long count(T c) const noexcept { return FStrToken<T>(*this).count(c); }
    long count(FStrToken<T> t) const noexcept { return FStrToken<T>(*this).count(t); }
    long s_verify(T const& c, long start = 0) const noexcept {
        return FStrToken<T>(*this).s_verify(c, start);
    }
    long s_verify(FStrToken<T> set, long start = 0) const noexcept {
        return FStrToken<T>(*this).s_verify(set, start);
    }
    long s_verify(T const* set, long n, long start) const noexcept {
        return FStrToken<T>(*this).s_verify(set, n, start);
    }
    bool isNumeric() const noexcept { return FStrToken<T>(*this).isNumeric(); }
    bool isAlpha() const noexcept { return FStrToken<T>(*this).isAlpha(); }

    // Parsing (over the stored length)
    signed char toInt8() const noexcept { return FStrToken<T>(*this).toInt8(); }
    short toInt16() const noexcept { return FStrToken<T>(*this).toInt16(); }
    int toInt32() const noexcept { return FStrToken<T>(*this).toInt32(); }
    long long toInt64() const noexcept { return FStrToken<T>(*this).toInt64(); }
    unsigned char toUInt8() const noexcept { return FStrToken<T>(*this).toUInt8(); }
    unsigned short toUInt16() const noexcept { return FStrToken<T>(*this).toUInt16(); }
    unsigned int toUInt32() const noexcept { return FStrToken<T>(*this).toUInt32(); }
    unsigned long long toUInt64() const noexcept { return FStrToken<T>(*this).toUInt64(); }
    float toSingle() const noexcept { return FStrToken<T>(*this).toSingle(); }
    double toDouble() const noexcept { return FStrToken<T>(*this).toDouble(); }

    FMStr concat(FStrToken<T> token) const noexcept;
    FMStr operator+(FStrToken<T> token) const noexcept { return concat(token); }
    FMStr clone() const { return FMStr(*this); }

private:
    /// Reallocates to n + 2 elements (capacity n + 1), keeping the text.
    void alloc(long n) noexcept;
    void allocInc(long n) noexcept { alloc(n + m_capacity + m_capacity / 2); }
    /// Makes room for \p k more characters by the growth rule.
    void grow(long k) noexcept;
    /// Appends an array made by a static function of FGStr and frees it.
    FMStr& appendOwned(T* text, long width = 0) noexcept;
    /// True when \p p points into this string's buffer.
    bool aliases(T const* p) const noexcept;

    T* m_pBuffer = nullptr;
    long m_capacity = 0;
    long m_length = 0;
};

extern template class FStrToken<char>;
extern template class FStrToken<wchar_t>;
extern template class FGStr<char>;
extern template class FGStr<wchar_t>;
extern template class FMStr<char>;
extern template class FMStr<wchar_t>;

} // namespace FSpace

#endif // FSPACE_FTYPESTRING_H
