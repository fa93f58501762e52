// Core types of the FSpace library: typed allocation, the container family,
// the exception classes and the debug registry, the recursive mutex, the root
// object class FObject and the library-loading facade.
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

/// A method that an FDispatchable object offers by name.
class FInvokableMethod {
public:
    FInvokableMethod() = default;
    FInvokableMethod(FInvokableMethod const&) = delete;
    FInvokableMethod& operator=(FInvokableMethod const&) = delete;
    virtual ~FInvokableMethod() = default;

    virtual FGStr<char> name() const = 0;
};

/// A method invoked with an argument list of type TArgs and giving a TResult.
/// The list of dynamically typed values is the usual argument type.
template <typename TArgs, typename TResult>
class TFInvokableMethod : public FInvokableMethod {
public:
    /// \p index is the method's position in the object's method list.
    virtual TResult invoke(TArgs& args, long index) = 0;
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

    /// Invokes the first method, in list order, whose name equals \p name exactly.
    /// Throws FInvalidOperationException when none matches, or when that method
    /// does not take TArgs or give TResult.
    template <typename TResult, typename TArgs>
    TResult invokeByName(char const* name, TArgs& args) {
        long index = -1;
        FInvokableMethod* method = findInvokable(name, index);
        auto* typed = dynamic_cast<TFInvokableMethod<TArgs, TResult>*>(method);
        if (typed == nullptr) {
            throw FInvalidOperationException();
        }
        return typed->invoke(args, index);
    }

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

} // namespace FSpace
