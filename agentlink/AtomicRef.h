// A std::shared_ptr or std::weak_ptr that several threads load, store and
// exchange. It plays the part of std::atomic<std::shared_ptr<T>>: the standard
// library this project builds with (libstdc++ 12) releases that type's internal
// lock with relaxed ordering in load(), which ThreadSanitizer rightly reports as
// a race with a later store. A mutex held for a pointer copy is cheap next to
// the socket I/O around every use here.
//
// A replaced value is released after the lock is dropped, so a destructor it
// runs may use this object again.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

template <class Ref>
class AtomicRef {
public:
    AtomicRef() = default;
    explicit AtomicRef(Ref value) : m_value(std::move(value)) {}

    AtomicRef(const AtomicRef&) = delete;
    AtomicRef& operator=(const AtomicRef&) = delete;
    AtomicRef(AtomicRef&&) = delete;
    AtomicRef& operator=(AtomicRef&&) = delete;
    ~AtomicRef() = default;

    Ref load() const {
        std::lock_guard lock(m_lock);
        return m_value;
    }

    void store(Ref value) { exchange(std::move(value)); }

    /// Stores \p value and returns the previous value.
    Ref exchange(Ref value) {
        std::lock_guard lock(m_lock);
        return std::exchange(m_value, std::move(value));
    }

    /// Stores \p desired only if the current value refers to the same object as
    /// \p expected (same owner); true when it did.
    bool compareExchange(const Ref& expected, Ref desired) {
        Ref previous;
        {
            std::lock_guard lock(m_lock);
            if (m_value.owner_before(expected) || expected.owner_before(m_value))
                return false;
            previous = std::exchange(m_value, std::move(desired));
        }
        return true;
    }

private:
    mutable std::mutex m_lock;
    Ref m_value;
};
