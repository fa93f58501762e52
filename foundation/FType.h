// Core types of the FSpace library: typed allocation, the container family,
// the exception classes and the debug registry, the recursive mutex, the root
// object class FObject, the library-loading facade, and the small value types
// FTime (UTC calendar time), FGUID (128-bit identifier) and FBITFIELD (bit string).
//
// Containers own what they hold: destroying an FList, FSet or FMap deletes every
// element. They are not synchronised; their owners lock around them.
//
// Index convention for element access (FArray, FList and everything built on
// them): a negative index counts from the end (count + index, at least 0) and an
// index at or beyond the end gives the last element. Accessing an empty
// container throws FXCOutOfBounds.
#pragma once

#include <cstddef>
#include <ctime>
#include <exception>
#include <new>
#include <pthread.h>
#include <type_traits>
#include <utility>

#include "FTypeRef.h"

namespace FSpace {

// ---------------------------------------------------------------------------
// Exceptions

/// Root of the library's exceptions. The texts are not copied: they must be
/// static strings that outlive the exception.
class FException : public std::exception {
public:
    FException() noexcept = default;
    FException(unsigned int code, char const* what) noexcept : m_code(code), m_what(what) {}
    FException(unsigned int code, char const* what, char const* where) noexcept
        : m_code(code), m_what(what), m_where(where) {}
    FException(unsigned int code, char const* what, char const* where, char const* why) noexcept
        : m_code(code), m_what(what), m_where(where), m_why(why) {}
    explicit FException(char const* what) noexcept : m_what(what) {}
    FException(char const* what, char const* where) noexcept : m_what(what), m_where(where) {}
    FException(char const* what, char const* where, char const* why) noexcept
        : m_what(what), m_where(where), m_why(why) {}
    FException(FException const&) noexcept = default;
    /// Copies the three texts through the source's accessors; the code stays.
    FException& operator=(FException const& other) noexcept;
    ~FException() override = default;

    /// The message; never null (an exception without a message gives "").
    char const* what() const noexcept override;
    virtual unsigned int code() const noexcept { return m_code; }
    virtual char const* where() const noexcept { return m_where; }
    virtual char const* why() const noexcept { return m_why; }

private:
    unsigned int m_code = 0;
    char const* m_what = nullptr;
    char const* m_where = nullptr;
    char const* m_why = nullptr;
};

/// Code 1025, "Not implemented".
class FXCNotImplemented : public virtual FException {
public:
    FXCNotImplemented(char const* where, char const* why) noexcept;
};

/// Code 1026, "Out of bounds".
class FXCOutOfBounds : public virtual FException {
public:
    FXCOutOfBounds(char const* where, char const* why) noexcept;
};

/// Marker: a bad index into a value array.
class FOutOfBoundsException : public std::exception {
public:
    char const* what() const noexcept override { return "FOutOfBoundsException"; }
};

/// Marker: an operation that the object does not offer (an unknown method name).
class FInvalidOperationException : public std::exception {
public:
    char const* what() const noexcept override { return "FInvalidOperationException"; }
};

// ---------------------------------------------------------------------------
// Typed allocation

/// Arrays made with array new whose elements start in their empty state.
template <typename T>
class FMemory {
public:
    /// n value-initialised elements; null for n < 1. Throws std::bad_alloc.
    static T* allocate(long n) {
        if (n < 1) {
            return nullptr;
        }
        return new T[static_cast<std::size_t>(n)]();
    }
    /// Destroys the elements (last first) and frees the array; null is accepted.
    static void deallocate(T* p) noexcept { delete[] p; }
    /// A new array of newCount elements holding the first min(oldCount, newCount)
    /// elements of \p p, which is freed. Equal counts return \p p unchanged.
    static T* relocate(T* p, long oldCount, long newCount) {
        if (oldCount == newCount) {
            return p;
        }
        T* fresh = allocate(newCount);
        long const keep = oldCount < newCount ? oldCount : newCount;
        for (long i = 0; i < keep; ++i) {
            fresh[i] = std::move(p[i]);
        }
        deallocate(p);
        return fresh;
    }
    static void copyTo(T* dst, T const* src, long n) {
        for (long i = 0; i < n; ++i) {
            dst[i] = src[i];
        }
    }
};

/// Data pointer and element count shared by both allocation policies.
template <typename T>
class FAllocBase {
public:
    FAllocBase() noexcept = default;
    FAllocBase(FAllocBase const&) = delete;
    FAllocBase& operator=(FAllocBase const&) = delete;

    /// Frees the data; the count is left to the owner.
    void release() noexcept {
        FMemory<T>::deallocate(m_pData);
        m_pData = nullptr;
    }

protected:
    ~FAllocBase() = default;

    T* m_pData = nullptr;
    long m_count = 0;
};

/// Exact fit: the array holds exactly as many elements as are counted.
template <typename T>
class FAllocation : public FAllocBase<T> {
public:
    void resize(long n) noexcept {
        this->m_pData = FMemory<T>::relocate(this->m_pData, this->m_count, n);
        this->m_count = n;
    }
    void reset() noexcept {
        this->release();
        this->m_count = 0;
    }
    void swap(FAllocation& other) noexcept {
        std::swap(this->m_pData, other.m_pData);
        std::swap(this->m_count, other.m_count);
    }
    long capacity() const noexcept { return this->m_count; }
};

/// Buffered: growing to n relocates to capacity + n elements, so appending one at
/// a time gives capacities 1, 3, 7, 15, ... Capacity never shrinks.
template <typename T>
class FAllocationBuf : public FAllocBase<T> {
public:
    void resize(long n) noexcept {
        if (m_capacity < n) {
            this->m_pData = FMemory<T>::relocate(this->m_pData, m_capacity, m_capacity + n);
            m_capacity += n;
        }
        this->m_count = n;
    }
    void reset() noexcept {
        this->release();
        this->m_count = 0;
        m_capacity = 0;
    }
    void swap(FAllocationBuf& other) noexcept {
        std::swap(this->m_pData, other.m_pData);
        std::swap(this->m_count, other.m_count);
        std::swap(m_capacity, other.m_capacity);
    }
    long capacity() const noexcept { return m_capacity; }

private:
    long m_capacity = 0;
};

// ---------------------------------------------------------------------------
// Containers

/// Contiguous array of T; grows only at the end. Copies copy every element.
template <typename T, typename A = FAllocation<T>>
class FArray {
public:
    FArray() noexcept = default;
    FArray(FArray const& other) : FArray() {
        for (long i = 0; i < other.Count(); ++i) {
            add(other.m_alloc.data()[i]);
        }
    }
    FArray(FArray&& other) noexcept { m_alloc.swap(other.m_alloc); }
    FArray& operator=(FArray const& other) {
        if (this != &other) {
            FArray copy(other);
            swap(copy);
        }
        return *this;
    }
    FArray& operator=(FArray&& other) noexcept {
        FArray taken(std::move(other));
        swap(taken);
        return *this;
    }
    ~FArray() { m_alloc.release(); }

    /// Appends a copy of \p item and returns the stored element.
    T& add(T const& item) noexcept {
        long const n = Count();
        m_alloc.resize(n + 1);
        T& slot = m_alloc.data()[n];
        slot = item;
        return slot;
    }
    /// Removes \p n elements from \p index, moving the later ones down; returns
    /// the new count. A range reaching outside the array is cut to it.
    long remove(long index, long n) noexcept {
        long const count = Count();
        if (index < 0 || index >= count || n < 1) {
            return count;
        }
        if (n > count - index) {
            n = count - index;
        }
        T* data = m_alloc.data();
        for (long i = index; i + n < count; ++i) {
            data[i] = std::move(data[i + n]);
        }
        m_alloc.resize(count - n);
        return count - n;
    }
    /// Removes and frees everything.
    void clear() noexcept { m_alloc.reset(); }
    void swap(FArray& other) noexcept { m_alloc.swap(other.m_alloc); }

    long Count() const noexcept { return m_alloc.count(); }
    long Capacity() const noexcept { return m_alloc.capacity(); }
    bool isEmpty() const noexcept { return Count() == 0; }
    /// Element access with the library's index convention (see top of file).
    T& operator[](long index) { return m_alloc.data()[resolve(index)]; }
    T const& operator[](long index) const { return m_alloc.data()[resolve(index)]; }
    T* data() noexcept { return m_alloc.data(); }
    T const* data() const noexcept { return m_alloc.data(); }

private:
    // Gives the policy's protected fields to the array.
    class Alloc : public A {
    public:
        T* data() const noexcept { return this->m_pData; }
        long count() const noexcept { return this->m_count; }
    };

    long resolve(long index) const {
        long const count = Count();
        if (count == 0) {
            throw FXCOutOfBounds("FArray::operator[]", "empty array");
        }
        if (index < 0) {
            index = count + index < 0 ? 0 : count + index;
        }
        return index >= count ? count - 1 : index;
    }

    Alloc m_alloc;
};

/// Key of an element for the searching containers: a pair's key, or the element.
template <typename T>
struct FKeyOf {
    static T const& key(T const& item) noexcept { return item; }
};

/// A key and a value.
template <typename K, typename V>
class FPair {
public:
    FPair() = default;
    FPair(K const& k, V const& v) : key(k), value(v) {}
    FPair(FPair const&) = default;
    FPair(FPair&&) noexcept = default;
    FPair& operator=(FPair const&) = default;
    FPair& operator=(FPair&&) noexcept = default;
    ~FPair() = default;

    K key{};
    V value{};
};

template <typename K, typename V>
struct FKeyOf<FPair<K, V>> {
    static K const& key(FPair<K, V> const& item) noexcept { return item.key; }
};

/// Owning list of individually allocated elements, in insertion order. The slot
/// array grows with the buffered policy.
template <typename T>
class FList {
public:
    FList() noexcept = default;
    FList(FList const& other) : FList() {
        for (long i = 0; i < other.Count(); ++i) {
            add(*other.m_slots.data()[i]);
        }
    }
    FList(FList&& other) noexcept { m_slots.swap(other.m_slots); }
    FList& operator=(FList const& other) {
        if (this != &other) {
            FList copy(other);
            m_slots.swap(copy.m_slots);
        }
        return *this;
    }
    FList& operator=(FList&& other) noexcept {
        FList taken(std::move(other));
        m_slots.swap(taken.m_slots);
        return *this;
    }
    ~FList() { il_removeAll(); }

    /// Appends a copy of \p item (for FRef elements: a new share) and returns it.
    T& add(T const& item) noexcept { return *il_add(new T(item)); }
    /// Appends \p item, which the list now owns; returns it.
    T* il_add(T* item) noexcept {
        m_slots.add(item);
        return item;
    }
    /// Deletes element \p i; false (nothing changed) when i is outside [0, count).
    bool il_removeAt(long const& i) noexcept {
        if (i < 0 || i >= Count()) {
            return false;
        }
        delete m_slots.data()[i];
        m_slots.remove(i, 1);
        return true;
    }
    /// Deletes every element, last first, and frees the slots. Returns whether
    /// there was anything to remove.
    bool il_removeAll() noexcept {
        long const count = Count();
        for (long i = count - 1; i >= 0; --i) {
            delete m_slots.data()[i];
        }
        m_slots.clear();
        return count > 0;
    }

    long Count() const noexcept { return m_slots.Count(); }
    long Capacity() const noexcept { return m_slots.Capacity(); }
    bool isEmpty() const noexcept { return Count() == 0; }
    /// Element access with the library's index convention.
    T& operator[](long index) { return *m_slots[index]; }
    T const& operator[](long index) const { return *m_slots[index]; }

protected:
    /// Replaces the element in slot \p i (deleting the old one) by \p item.
    void il_replaceAt(long i, T* item) noexcept {
        T*& slot = m_slots.data()[i];
        delete slot;
        slot = item;
    }
    T* il_slot(long i) const noexcept { return m_slots.data()[i]; }

private:
    FArray<T*, FAllocationBuf<T*>> m_slots;
};

/// A list searched by key (linear, from the front: the first equal key wins).
template <typename T>
class FListing : public FList<T> {
public:
    /// Index of the first element at or after \p start whose key equals the key
    /// of \p item, or -1. A negative start counts from the end (at least 0).
    long il_find(T const& item, long start = 0) const noexcept {
        return il_findKey(FKeyOf<T>::key(item), start);
    }

protected:
    template <typename K>
    long il_findKey(K const& key, long start) const noexcept {
        long const count = this->Count();
        if (start < 0) {
            start = count + start < 0 ? 0 : count + start;
        }
        for (long i = start; i < count; ++i) {
            if (FKeyOf<T>::key(*this->il_slot(i)) == key) {
                return i;
            }
        }
        return -1;
    }
};

/// A listing whose keys are unique: adding an element with a known key replaces
/// the old element in its slot.
template <typename T>
class FSet : public FListing<T> {
public:
    /// Stores \p item (owned by the set from now on) and returns it.
    T* il_add(T* item) noexcept {
        long const i = this->il_find(*item, 0);
        if (i < 0) {
            return FListing<T>::il_add(item);
        }
        this->il_replaceAt(i, item);
        return item;
    }
    T& add(T const& item) noexcept { return *il_add(new T(item)); }
};

/// Key/value pairs in insertion order. Keys compare with ==, so pointer keys
/// compare by identity, not by the text they point to. Copies copy keys and
/// values as they are.
template <typename K, typename V>
class FMap : public FSet<FPair<K, V>> {
public:
    /// Replaces the value of the pair with an equal key, or appends a new pair.
    FPair<K, V>& add(K const& key, V const& value) noexcept {
        long const i = this->il_findKey(key, 0);
        if (i >= 0) {
            FPair<K, V>& pair = (*this)[i];
            pair.value = value;
            return pair;
        }
        return *FListing<FPair<K, V>>::il_add(new FPair<K, V>(key, value));
    }
    /// The pair with an equal key, or null.
    FPair<K, V>* find(K const& key) noexcept {
        long const i = this->il_findKey(key, 0);
        return i < 0 ? nullptr : &(*this)[i];
    }
};

// ---------------------------------------------------------------------------
// Threads

template <typename TMutex>
class FThreadLock_T;

/// A recursive POSIX mutex: the thread that holds it may lock it again.
template <>
class FThreadLock_T<pthread_mutex_t> {
public:
    FThreadLock_T() noexcept;
    FThreadLock_T(FThreadLock_T const&) = delete;
    FThreadLock_T& operator=(FThreadLock_T const&) = delete;
    ~FThreadLock_T();

    void lock() noexcept;
    void unlock() noexcept;
    bool tryLock() noexcept;

private:
    static constexpr int kSpins = 200;

    pthread_mutex_t m_mutex;
};

/// Holds an FThreadLock_T for the lifetime of the guard.
class FThreadLockGuard {
public:
    explicit FThreadLockGuard(FThreadLock_T<pthread_mutex_t>& lock) noexcept : m_lock(lock) { m_lock.lock(); }
    FThreadLockGuard(FThreadLockGuard const&) = delete;
    FThreadLockGuard& operator=(FThreadLockGuard const&) = delete;
    ~FThreadLockGuard() { m_lock.unlock(); }

private:
    FThreadLock_T<pthread_mutex_t>& m_lock;
};

// ---------------------------------------------------------------------------
// Delegates

/// A callable taking two arguments. Bound implementations live with the
/// asynchronous stream layer; the exception-handler slot needs only the interface.
template <typename R, typename A1, typename A2>
class FDelegate2 {
public:
    FDelegate2() = default;
    FDelegate2(FDelegate2 const&) = default;
    FDelegate2& operator=(FDelegate2 const&) = default;

    virtual int ParamCount() const { return 2; }
    /// True when unbound.
    virtual bool operator!() const = 0;
    virtual void* Object() const = 0;
    virtual ~FDelegate2() = default;
    virtual R operator()(A1 a1, A2 a2) = 0;
    virtual FDelegate2* clone() const = 0;
    virtual bool operator==(FDelegate2 const& other) const = 0;
    virtual bool operator==(void const* object) const = 0;
};

// ---------------------------------------------------------------------------
// Debug facility

/// Does nothing in this build.
void f_dbg_breakpoint() noexcept;
/// Does nothing in this build.
void f_dbg_trace(char const* text) noexcept;
/// Registers \p p (the same pointer may be registered more than once).
void f_dbg_add_eventreg(void* p);
/// Removes the first registration of \p p; throws the int -1 if there is none.
void f_dbg_rem_eventreg(void* p);
/// Throws the int -1 while \p p is still registered.
void f_dbg_check_eventreg(void* p);

using FExceptionHandlerRef = FRef<FDelegate2<int, unsigned int, void*>, TFRefCounter<int>>;
/// Installs the process-wide exception handler (replacing the previous one).
void g_setExceptionHandler(FExceptionHandlerRef handler) noexcept;

/// Registered pointers of the debug registry, guarded by g_eventreg_cs.
extern FArray<void*, FAllocationBuf<void*>> g_eventregistrations;
extern FThreadLock_T<pthread_mutex_t> g_eventreg_cs;
/// The installed exception handler (empty until one is installed).
extern FExceptionHandlerRef g_ref_Exception_Handler_Delegate;

} // namespace FSpace

// The string classes build on the types above, and FObject and FLibraryResource
// below hold strings. FTypeString.h includes this header first in turn, so
// either header may be included first.
#include "FTypeString.h"

namespace FSpace {

// ---------------------------------------------------------------------------
// Objects

// Named methods take and give dynamically typed values (FTypeValue.h).
enum FTypeId : unsigned int;
template <typename TId>
class TFValueBase;

/// A method that an FDispatchable object offers by name.
class FInvokableMethod {
public:
    FInvokableMethod() = default;
    FInvokableMethod(FInvokableMethod const&) = delete;
    FInvokableMethod& operator=(FInvokableMethod const&) = delete;
    virtual ~FInvokableMethod() = default;

    virtual FGStr<char> name() const = 0;
    /// Runs the method on \p args; \p index is its position in the object's
    /// method list.
    virtual TFValueBase<FTypeId> invoke(FList<TFValueBase<FTypeId>>& args, long index) = 0;
};

template <typename TLock>
class FDispatchable;

/// Base of every FObject: reference counted, with a list of methods that can be
/// invoked by name. The methods are owned by the object.
template <>
class FDispatchable<FThreadLock_T<pthread_mutex_t>> : public TFReferenceable<TFRefCounter<int>> {
public:
    FDispatchable() = default;
    // Methods belong to one object; copying would share them.
    FDispatchable(FDispatchable const&) = delete;
    FDispatchable& operator=(FDispatchable const&) = delete;
    ~FDispatchable() override;

    /// Invokes the first method, in list order, whose name equals \p name exactly
    /// and returns its result. Throws FInvalidOperationException when none
    /// matches (a null name matches none). Callers include FTypeValue.h.
    TFValueBase<FTypeId> invokeByName(char const* name, FList<TFValueBase<FTypeId>>& args);

    FList<FInvokableMethod*> const& InvokableMethods() const noexcept { return m_methods; }
    /// Method \p i with the library's index convention (the index is clamped into
    /// the list); throws FXCOutOfBounds when there are no methods.
    FInvokableMethod* InvokableMethod(long i) const { return m_methods[i]; }

protected:
    /// Adds \p method to the end of the list; the object owns it from now on.
    void addInvokableMethod(FInvokableMethod* method);

private:
    FInvokableMethod* findInvokable(char const* name, long& index);

    FList<FInvokableMethod*> m_methods;
    mutable FThreadLock_T<pthread_mutex_t> m_lock;
};

/// Common root of reference-counted library objects.
class FObject : public FDispatchable<FThreadLock_T<pthread_mutex_t>> {
public:
    FObject() = default;
    ~FObject() override = default;
};

// ---------------------------------------------------------------------------
// Libraries

/// A loaded library resource. Nothing is loaded on this platform; the record
/// keeps the names it was asked for.
class FLibraryResource {
public:
    FLibraryResource(wchar_t const* library, wchar_t const* resource);
    FLibraryResource(FLibraryResource const&) = delete;
    FLibraryResource& operator=(FLibraryResource const&) = delete;
    ~FLibraryResource();

    FGStr<wchar_t> const& libraryName() const noexcept { return m_library; }
    FGStr<wchar_t> const& resourceName() const noexcept { return m_resource; }
    void* module() const noexcept { return m_module; }
    int (*entry() const noexcept)() { return m_entry; }
    long refCount() const noexcept { return m_refCount; }

private:
    FGStr<wchar_t> m_library;
    FGStr<wchar_t> m_resource;
    void* m_module = nullptr;
    int (*m_entry)() = nullptr;
    long m_refCount = 1;
};

/// Library loading. This platform loads nothing: load reports success with no
/// entry point, and the release functions have nothing to release.
class FLibrary {
public:
    FLibrary() = delete;

    static int load(wchar_t const* library, wchar_t const* resource, int (*&entry)()) noexcept;
    static void clone(int (*entry)()) noexcept;
    static void release(wchar_t const* library, wchar_t const* resource) noexcept;
    static void release(int (*entry)()) noexcept;
};

// ---------------------------------------------------------------------------
// Time

/// A calendar time in UTC with millisecond precision, kept as broken-down
/// fields. All fields zero is the cleared time, the value meaning "no time".
///
/// The setting operations never report an out-of-range argument; they store a
/// replacement instead: year outside 1600-3000 gives 1970, month outside 1-12
/// gives 1, day outside 1-31 gives 1, hour, minute or second out of range give
/// 0, and milliseconds above 999 give 999 (0 through the MilliSeconds setter).
/// The day is not checked against the month: 31 February is held as given
/// until the time is moved, which normalises it.
///
/// The day of week is set by setNow only (cleared by clear); nothing reads it
/// and it takes no part in comparisons, the packed form or isCleared.
///
/// Packed form (unsigned 64 bits, ordered chronologically): milliseconds in
/// bits 0-9, second 10-15, minute 16-21, hour 22-26, day 27-31, month 32-35,
/// year 36-47, bits 48-63 zero.
///
/// Calendar arithmetic is done in UTC by this class itself and never depends on
/// the host's time zone.
class FTime {
public:
    /// The cleared time.
    FTime() noexcept = default;
    /// The current time when \p now is set, otherwise the cleared time.
    explicit FTime(bool now) noexcept;
    FTime(unsigned short year, unsigned char month, unsigned char day, unsigned char hour,
          unsigned char minute, unsigned char second, unsigned short milliseconds) noexcept;
    /// Parses YYYY-MM-DDThh:mm:ss (see operator=(char const*)); a text of
    /// another form gives the cleared time.
    explicit FTime(char const* text) noexcept;
    explicit FTime(wchar_t const* text) noexcept;
    explicit FTime(FGStr<char> const& text) noexcept;
    explicit FTime(FGStr<wchar_t> const& text) noexcept;
    /// Seconds since 1970-01-01T00:00:00 UTC; milliseconds 0.
    explicit FTime(unsigned int seconds) noexcept;
    /// The packed form; each field goes through the replacement rule.
    explicit FTime(unsigned long long packed) noexcept;
    FTime(FTime const&) noexcept = default;
    FTime& operator=(FTime const&) noexcept = default;
    ~FTime() = default;

    /// Parses YYYY-MM-DDThh:mm:ss: the text is cut once at "T", the date at "-"
    /// and the clock time at ":" into exactly three decimal pieces each; the
    /// fields go through the replacement rule and the milliseconds become 0. A
    /// text of any other shape leaves the time unchanged. Wide text is narrowed
    /// to its low 8 bits first.
    FTime& operator=(char const* text) noexcept;
    FTime& operator=(wchar_t const* text) noexcept;
    FTime& operator=(FGStr<char> const& text) noexcept;
    FTime& operator=(FGStr<wchar_t> const& text) noexcept;
    /// Seconds since 1970-01-01T00:00:00 UTC; milliseconds 0, day of week kept.
    FTime& operator=(unsigned int seconds) noexcept;
    /// The packed form; each field goes through the replacement rule (so a
    /// packed 0 gives 1970-01-01T00:00:00.000, not the cleared time).
    FTime& operator=(unsigned long long packed) noexcept;

    void set(unsigned short year, unsigned char month, unsigned char day, unsigned char hour,
             unsigned char minute, unsigned char second, unsigned short milliseconds) noexcept;
    /// The current UTC time, day of week included, from one clock read.
    void setNow() noexcept;
    void setDate(unsigned short year, unsigned char month, unsigned char day) noexcept;
    void setTime(unsigned char hour, unsigned char minute, unsigned char second,
                 unsigned short milliseconds) noexcept;
    void clear() noexcept;
    /// True when every field but the day of week is zero.
    bool isCleared() const noexcept;

    // Setters store one field by the replacement rule and return what they stored.
    unsigned short Year(unsigned short v) noexcept;
    unsigned char Month(unsigned char v) noexcept;
    unsigned char Day(unsigned char v) noexcept;
    unsigned char Hour(unsigned char v) noexcept;
    unsigned char Minute(unsigned char v) noexcept;
    unsigned char Second(unsigned char v) noexcept;
    unsigned short MilliSeconds(unsigned short v) noexcept;
    unsigned short Year() const noexcept { return m_year; }
    unsigned char Month() const noexcept { return m_month; }
    unsigned char Day() const noexcept { return m_day; }
    unsigned char Hour() const noexcept { return m_hour; }
    unsigned char Minute() const noexcept { return m_minute; }
    unsigned char Second() const noexcept { return m_second; }
    unsigned short MilliSeconds() const noexcept { return m_milliseconds; }

    /// The packed form.
    explicit operator unsigned long long() const noexcept;
    /// Seconds from 1970-01-01T00:00:00 UTC, milliseconds ignored, reduced to
    /// 32 bits.
    explicit operator unsigned int() const noexcept;
    /// YYYY-MM-DDThh:mm:ss, each field zero-filled to its width (the cleared time
    /// gives 0000-00-00T00:00:00).
    FGStr<char> toCString() const noexcept;
    FGStr<wchar_t> toWString() const noexcept;
    /// The same followed by "." and three digits of milliseconds.
    FGStr<char> toCStringEx() const noexcept;
    FGStr<wchar_t> toWStringEx() const noexcept;
    operator FGStr<char>() const noexcept { return toCString(); }
    operator FGStr<wchar_t>() const noexcept { return toWString(); }

    /// Seconds from \p other to this time, milliseconds ignored.
    long long operator-(FTime const& other) const noexcept;
    /// Moves the time n seconds later or earlier, normalising out-of-range
    /// calendar fields (31 February becomes 2 or 3 March). Milliseconds and day
    /// of week stay. The cleared time has nothing to move and stays cleared.
    FTime& operator+=(unsigned int seconds) noexcept;
    FTime& operator-=(unsigned int seconds) noexcept;
    FTime operator+(unsigned int seconds) const noexcept;
    FTime operator-(unsigned int seconds) const noexcept;

    // Comparison of packed forms; with a 32-bit number, of the 32-bit
    // conversion; with a text, of the packed form of the parsed text
    // (milliseconds 0; a text that does not parse counts as the cleared time).
    bool operator==(FTime const& other) const noexcept;
    bool operator!=(FTime const& other) const noexcept { return !(*this == other); }
    bool operator<(FTime const& other) const noexcept;
    bool operator>(FTime const& other) const noexcept;
    bool operator==(unsigned long long packed) const noexcept;
    bool operator!=(unsigned long long packed) const noexcept { return !(*this == packed); }
    bool operator<(unsigned long long packed) const noexcept;
    bool operator>(unsigned long long packed) const noexcept;
    bool operator==(unsigned int seconds) const noexcept;
    bool operator!=(unsigned int seconds) const noexcept { return !(*this == seconds); }
    bool operator<(unsigned int seconds) const noexcept;
    bool operator>(unsigned int seconds) const noexcept;
    bool operator==(char const* text) const noexcept { return *this == FTime(text); }
    bool operator!=(char const* text) const noexcept { return !(*this == text); }
    bool operator<(char const* text) const noexcept { return *this < FTime(text); }
    bool operator>(char const* text) const noexcept { return *this > FTime(text); }
    bool operator==(wchar_t const* text) const noexcept { return *this == FTime(text); }
    bool operator!=(wchar_t const* text) const noexcept { return !(*this == text); }
    bool operator<(wchar_t const* text) const noexcept { return *this < FTime(text); }
    bool operator>(wchar_t const* text) const noexcept { return *this > FTime(text); }

private:
    long long secondsSinceEpoch() const noexcept;
    void setFromSeconds(long long seconds) noexcept;
    void parse(FGStr<char> const& text) noexcept;
    template <typename T>
    FGStr<T> render(bool withMilliseconds) const noexcept;

    unsigned short m_milliseconds = 0;
    unsigned char m_second = 0;
    unsigned char m_minute = 0;
    unsigned char m_hour = 0;
    unsigned char m_day = 0;
    unsigned char m_dayOfWeek = 0;
    unsigned char m_month = 0;
    unsigned short m_year = 0;
};

/// Clears \p record, then sets seconds, minutes, hours and day of month from the
/// arguments, the month as month - 1 and the year as year - 1900.
void fill_tm(std::tm& record, int second, int minute, int hour, int day, int month, int year) noexcept;
/// The wall clock in milliseconds since 1970-01-01 UTC.
unsigned long long GetSystemTimeMillis() noexcept;
/// The low 32 bits of GetSystemTimeMillis() / 10.
unsigned int GetTickCount() noexcept;

// ---------------------------------------------------------------------------
// GUIDs

/// A 128-bit identifier in the four-part layout, all zero when cleared. The 16
/// bytes in storage order are: the first part low byte first (0-3), the second
/// and third parts low byte first (4-5, 6-7), then bytes 8-15 as held.
/// Ordering compares those bytes in order, each as a signed 8-bit number.
/// Text form: {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}, lower-case, bytes 8-15 in
/// storage order.
class FGUID {
public:
    /// The cleared identifier.
    FGUID() noexcept = default;
    FGUID(unsigned int first, unsigned short second, unsigned short third, unsigned char b8, unsigned char b9,
          unsigned char b10, unsigned char b11, unsigned char b12, unsigned char b13, unsigned char b14,
          unsigned char b15)
    noexcept;
    /// \p fourth goes to bytes 8 and 9 low byte first, so its low byte prints first.
    FGUID(unsigned int first, unsigned short second, unsigned short third, unsigned short fourth,
          unsigned char b10, unsigned char b11, unsigned char b12, unsigned char b13, unsigned char b14,
          unsigned char b15)
    noexcept;
    /// As above; bytes 10-15 are the first six bytes of \p node when it has at
    /// least 5 characters (a 5-character text gives its terminator as the sixth
    /// byte), and zero otherwise (also for a null text).
    FGUID(unsigned int first, unsigned short second, unsigned short third, unsigned short fourth,
          char const* node)
    noexcept;
    /// Parses the token (see operator=(FStrToken<char>)).
    explicit FGUID(FStrToken<char> token) noexcept;
    explicit FGUID(FStrToken<wchar_t> token) noexcept;
    FGUID(FGUID const&) noexcept = default;
    FGUID& operator=(FGUID const&) noexcept = default;
    ~FGUID() = default;

    /// Copies the identifier \p other points to; a null pointer changes nothing.
    FGUID& operator=(FGUID const* other) noexcept;
    /// Parses the text form, with or without braces: a leading "{" drops the
    /// first and the last character; the rest must cut at "-" into exactly five
    /// hexadecimal pieces, otherwise the identifier becomes cleared. Missing
    /// digits count as zero.
    FGUID& operator=(FStrToken<char> token) noexcept;
    FGUID& operator=(FStrToken<wchar_t> token) noexcept;

    void clear() noexcept;
    /// A new random identifier from the kernel's random source (no version or
    /// variant bits). Safe to call from several threads. If no random source can
    /// be read the identifier is left cleared.
    void generate() noexcept;
    bool isCleared() const noexcept;
    bool operator!() const noexcept { return isCleared(); }

    bool operator==(FGUID const& other) const noexcept;
    bool operator!=(FGUID const& other) const noexcept { return !(*this == other); }
    bool operator<(FGUID const& other) const noexcept;
    bool operator>(FGUID const& other) const noexcept { return other < *this; }

    FGStr<char> toCString() const noexcept;
    FMStr<wchar_t> toString() const noexcept;
    FGStr<wchar_t> toWString() const noexcept;
    operator FGStr<char>() const noexcept { return toCString(); }
    operator FGStr<wchar_t>() const noexcept { return toWString(); }
    operator FMStr<wchar_t>() const noexcept { return toString(); }

private:
    template <typename T>
    void parse(FStrToken<T> token) noexcept;
    template <typename T>
    FMStr<T> render() const noexcept;
    void toBytes(unsigned char (&bytes)[16]) const noexcept;
    void fromBytes(unsigned char const (&bytes)[16]) noexcept;

    unsigned int m_data1 = 0;
    unsigned short m_data2 = 0;
    unsigned short m_data3 = 0;
    unsigned char m_data4[8] = {};
};

// ---------------------------------------------------------------------------
// Bit fields

/// A counted string of bits in an owned byte buffer. Bit i lives in byte i / 8
/// at bit i % 8, least significant bit first; a buffer for n bits has
/// ceil(n / 8) bytes (none for n < 1). Bits of the last byte beyond the length
/// are not part of the value and are never read as such.
///
/// The class-level functions work on raw buffers and do not check indices: the
/// caller keeps them inside the buffer. The object operations check every bit
/// index: one below 0 or not below Length() throws FXCOutOfBounds (code 1026,
/// place "FBitField::get") and leaves the field unchanged.
class FBITFIELD {
public:
    // Raw buffers (n is a bit count, i a bit index).
    /// A zeroed buffer for \p n bits; null for n < 1. Free it with release.
    static unsigned char* create(int n);
    static void release(unsigned char* buffer) noexcept;
    static void bit(unsigned char* buffer, int i, bool value) noexcept;
    static bool bit(unsigned char const* buffer, int i) noexcept;
    /// Bit i becomes bit i OR value; returns the new bit.
    static bool bitOr(unsigned char* buffer, int i, bool value) noexcept;
    /// Bit i becomes bit i AND value; returns the new bit.
    static bool bitAnd(unsigned char* buffer, int i, bool value) noexcept;
    /// Copies source bits 0 to n - 1 to target bits start to start + n - 1.
    static void bit(unsigned char* target, int start, unsigned char const* source, int n) noexcept;
    /// ORs / ANDs source bits 0 to n - 1 into target bits start onwards.
    static void bitOr(unsigned char* target, int start, unsigned char const* source, int n) noexcept;
    static void bitAnd(unsigned char* target, int start, unsigned char const* source, int n) noexcept;
    /// True when bits 0 to n - 1 of both buffers are equal (true for n < 1).
    static bool equals(unsigned char const* a, unsigned char const* b, int n) noexcept;
    /// A new buffer with all ceil(n / 8) bytes of \p buffer; null for n < 1.
    static unsigned char* copy(unsigned char const* buffer, int n);
    /// Zeroes the ceil(n / 8) bytes.
    static void clear(unsigned char* buffer, int n) noexcept;

    /// No bits.
    FBITFIELD() noexcept = default;
    /// \p n bits (none for n < 1), all 0.
    explicit FBITFIELD(int n);
    /// A copy of the first \p n bits of a raw buffer; a null buffer gives n clear bits.
    FBITFIELD(unsigned char const* buffer, int n);
    /// The n bits start to start + n - 1 of \p source; a range reaching outside
    /// the source throws as get does.
    FBITFIELD(FBITFIELD const& source, int start, int n);
    FBITFIELD(FBITFIELD const& other);
    FBITFIELD(FBITFIELD&& other) noexcept;
    FBITFIELD& operator=(FBITFIELD const& other);
    FBITFIELD& operator=(FBITFIELD&& other) noexcept;
    ~FBITFIELD();

    int Length() const noexcept { return m_length; }
    bool get(int i) const;
    bool operator[](int i) const { return get(i); }
    bool operator()(int i) const { return get(i); }
    void set(int i, bool value);
    void operator()(int i, bool value) { set(i, value); }
    /// Sets bit i to 1 / to 0.
    FBITFIELD& operator+=(int i);
    FBITFIELD& operator-=(int i);
    /// Copies all of \p other's bits to bits start onwards. A range reaching
    /// beyond this field throws as set does, before any bit is changed.
    void set(int start, FBITFIELD const& other);
    /// All bits 0.
    void clear() noexcept;
    /// Appends \p other's bits after this field's bits.
    FBITFIELD& operator+=(FBITFIELD const& other);

    // Combination: \p other's bit k is combined into position k for every k
    // inside both fields; the other positions keep this field's bits.
    FBITFIELD operator|(FBITFIELD const& other) const;
    FBITFIELD operator&(FBITFIELD const& other) const;
    FBITFIELD& operator|=(FBITFIELD const& other) noexcept;
    FBITFIELD& operator&=(FBITFIELD const& other) noexcept;
    /// A copy with every bit inverted.
    FBITFIELD operator~() const;
    /// Inverts every bit / bit i.
    void invert() noexcept;
    void invert(int i);

    /// Equal lengths and equal bits.
    bool operator==(FBITFIELD const& other) const noexcept;
    bool operator!=(FBITFIELD const& other) const noexcept { return !(*this == other); }

    /// Length() characters, "1" for a set bit and "0" for a clear one, bit 0 first.
    FGStr<char> toCString() const noexcept;
    FGStr<wchar_t> toWString() const noexcept;
    operator FGStr<char>() const noexcept { return toCString(); }
    operator FGStr<wchar_t>() const noexcept { return toWString(); }

private:
    /// Throws FXCOutOfBounds unless bit \p i is inside the field.
    void check(int i) const;
    /// The same for the n >= 1 bits from \p start.
    void checkRange(int start, int n) const;
    template <typename T>
    FGStr<T> render() const noexcept;

    unsigned char* m_pBuffer = nullptr;
    int m_length = 0;
};

} // namespace FSpace
