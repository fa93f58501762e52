// Counted references of the FSpace library.
//
//  - FRef<T>: a shared pointer whose counter lives in its own allocation. Any
//    object can be shared this way; the last FRef to let go destroys it.
//  - TFReferenceable / FReference<T>: the intrusive counterpart. The counter is
//    embedded in the object (every FObject carries one), so references can be
//    made from a raw pointer at any time without a separate allocation.
//
// Counters change only through sequentially consistent atomic read-modify-write
// operations, so copies of one reference may be made and dropped on different
// threads. A reference object itself is not synchronised: one thread at a time
// per FRef / FReference instance.
#pragma once

#include <atomic>
#include <type_traits>
#include <utility>

namespace FSpace {

/// Prints an assertion report ("<expression> - File: <file> - Line: <line>") on
/// standard output; aborts the process when \p fatal is set. Defined in FType.cpp.
void f_dbg_error(char const* expression, char const* file, unsigned int line, bool fatal);

/// An atomic reference counter occupying one 64-bit word.
template <typename TCount>
class alignas(8) TFRefCounter {
public:
    explicit TFRefCounter(TCount initial = 0) noexcept : m_count(initial) {}

    // A counter belongs to exactly one object; copying it would split the count.
    TFRefCounter(TFRefCounter const&) = delete;
    TFRefCounter& operator=(TFRefCounter const&) = delete;

    /// Adds one and returns the new value.
    TCount increment() noexcept { return m_count.fetch_add(1, std::memory_order_seq_cst) + 1; }
    /// Subtracts one and returns the new value.
    TCount decrement() noexcept { return m_count.fetch_sub(1, std::memory_order_seq_cst) - 1; }
    TCount value() const noexcept { return m_count.load(std::memory_order_seq_cst); }

private:
    std::atomic<TCount> m_count;
};

/// Shared pointer with a separately allocated counter. Holding a null object
/// means holding no counter either. Dereferencing an empty FRef is a broken
/// invariant of the caller: it prints the f_dbg_error report and aborts.
template <typename T, typename TCounter = TFRefCounter<int>>
class FRef {
public:
    FRef() noexcept = default;
    /// Takes ownership of \p p (which may be null): a new counter starts at 1.
    explicit FRef(T* p) { *this = p; }
    /// Shares the source's object.
    FRef(FRef const& other) noexcept { share(other.m_pCounter, other.m_ptValue); }
    /// Takes over the source's share; the source becomes empty.
    FRef(FRef&& other) noexcept
        : m_pCounter(std::exchange(other.m_pCounter, nullptr)),
          m_ptValue(std::exchange(other.m_ptValue, nullptr)) {}
    /// Shares an object of a derived class.
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    FRef(FRef<U, TCounter> const& other) noexcept {
        share(other.m_pCounter, other.m_ptValue);
    }
    ~FRef() { release(); }

    /// Takes ownership of \p p. Assigning the object already held changes nothing.
    /// If the counter cannot be allocated, \p p is deleted and std::bad_alloc thrown.
    FRef& operator=(T* p) {
        if (p == m_ptValue) {
            return *this;
        }
        TCounter* counter = nullptr;
        if (p != nullptr) {
            try {
                counter = new TCounter(1);
            } catch (...) {
                destroy(p);
                throw;
            }
        }
        release();
        m_pCounter = counter;
        m_ptValue = p;
        return *this;
    }
    FRef& operator=(FRef const& other) noexcept {
        share(other.m_pCounter, other.m_ptValue);
        return *this;
    }
    FRef& operator=(FRef&& other) noexcept {
        if (this != &other) {
            release();
            m_pCounter = std::exchange(other.m_pCounter, nullptr);
            m_ptValue = std::exchange(other.m_ptValue, nullptr);
        }
        return *this;
    }
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    FRef& operator=(FRef<U, TCounter> const& other) noexcept {
        share(other.m_pCounter, other.m_ptValue);
        return *this;
    }

    /// Drops this share; the last share destroys the object and the counter.
    void release() noexcept {
        if (m_pCounter == nullptr) {
            return;
        }
        TCounter* counter = std::exchange(m_pCounter, nullptr);
        T* object = std::exchange(m_ptValue, nullptr);
        if (counter->decrement() == 0) {
            delete counter;
            destroy(object); // a throwing destructor ends the process (noexcept)
        }
    }

    T* operator->() const noexcept {
        if (m_ptValue == nullptr) {
            f_dbg_error("this->m_ptValue", "FTypeRef", 534, true);
        }
        return m_ptValue;
    }
    T& operator*() const noexcept {
        if (m_ptValue == nullptr) {
            f_dbg_error("this->m_ptValue", "FTypeRef", 543, true);
        }
        return *m_ptValue;
    }

    /// The held object, or null.
    T* get() const noexcept { return m_ptValue; }
    bool isNull() const noexcept { return m_ptValue == nullptr; }
    explicit operator bool() const noexcept { return m_ptValue != nullptr; }
    /// Number of FRef objects sharing the object (0 when empty).
    long refCount() const noexcept {
        return m_pCounter == nullptr ? 0 : static_cast<long>(m_pCounter->value());
    }

    friend bool operator==(FRef const& a, FRef const& b) noexcept { return a.m_ptValue == b.m_ptValue; }

private:
    template <typename U, typename C>
    friend class FRef;

    // Copy rule: the same object changes nothing; otherwise drop ours and take
    // a share of theirs (incremented before anything is released).
    template <typename U>
    void share(TCounter* counter, U* object) noexcept {
        if (static_cast<T*>(object) == m_ptValue) {
            return;
        }
        if (counter != nullptr) {
            counter->increment();
        }
        release();
        if (counter != nullptr && object != nullptr) {
            m_pCounter = counter;
            m_ptValue = object;
        }
    }

    static void destroy(T* object) noexcept { delete object; }

    TCounter* m_pCounter = nullptr;
    T* m_ptValue = nullptr;
};

/// Base of objects that carry their own reference counter (starting at 0; each
/// FReference made to the object adds one).
template <typename TCounter = TFRefCounter<int>>
class TFReferenceable {
public:
    TFReferenceable() noexcept = default;
    // A copy is a new object with no references of its own.
    TFReferenceable(TFReferenceable const&) noexcept {}
    TFReferenceable& operator=(TFReferenceable const&) noexcept { return *this; }
    virtual ~TFReferenceable() = default;

    TCounter& refCounter() noexcept { return m_refCounter; }
    long refCount() const noexcept { return static_cast<long>(m_refCounter.value()); }

private:
    TCounter m_refCounter;
};

/// Intrusive reference to an object derived from TFReferenceable. The object is
/// destroyed (through its virtual destructor) when the last reference goes.
template <typename T, typename TCounter = TFRefCounter<int>>
class FReference {
public:
    FReference() noexcept = default;
    /// Adds a reference to \p p (which may be null).
    explicit FReference(T* p) noexcept { attach(p); }
    FReference(FReference const& other) noexcept { attach(other.m_pObject); }
    FReference(FReference&& other) noexcept
        : m_pCounter(std::exchange(other.m_pCounter, nullptr)),
          m_pObject(std::exchange(other.m_pObject, nullptr)) {}
    ~FReference() { release(); }

    FReference& operator=(T* p) noexcept {
        if (p != m_pObject) {
            FReference keep(p); // referenced before ours is dropped
            swap(keep);
        }
        return *this;
    }
    FReference& operator=(FReference const& other) noexcept { return *this = other.m_pObject; }
    FReference& operator=(FReference&& other) noexcept {
        if (this != &other) {
            release();
            m_pCounter = std::exchange(other.m_pCounter, nullptr);
            m_pObject = std::exchange(other.m_pObject, nullptr);
        }
        return *this;
    }

    /// Drops this reference. Returns false when it was the last one and the
    /// object has been destroyed, true otherwise (also when empty).
    bool release() noexcept {
        if (m_pCounter == nullptr) {
            return true;
        }
        TCounter* counter = std::exchange(m_pCounter, nullptr);
        T* object = std::exchange(m_pObject, nullptr);
        if (counter->decrement() > 0) {
            return true;
        }
        delete object;
        return false;
    }

    void swap(FReference& other) noexcept {
        std::swap(m_pCounter, other.m_pCounter);
        std::swap(m_pObject, other.m_pObject);
    }

    T* operator->() const noexcept { return m_pObject; }
    T& operator*() const noexcept { return *m_pObject; }
    T* get() const noexcept { return m_pObject; }
    bool isNull() const noexcept { return m_pObject == nullptr; }

private:
    void attach(T* p) noexcept {
        if (p != nullptr) {
            m_pCounter = &p->refCounter();
            m_pCounter->increment();
            m_pObject = p;
        }
    }

    TCounter* m_pCounter = nullptr;
    T* m_pObject = nullptr;
};

} // namespace FSpace
