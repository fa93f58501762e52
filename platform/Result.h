// The result of a platform or agent operation that can fail: either a value
// (nothing, for Result<void>) or a Failure naming its domain, code and text.
//
// Domains and codes are the ones the caller's error objects carry (for
// example ServiceManager::kErrorDomain with an errno or an Authorization
// status), so a failure can be handed to the application unchanged.
//
// Results are [[nodiscard]]: a failure cannot be dropped by accident. Reading
// the value of a failed result, or the failure of a successful one, is a bug
// of the caller and asserts.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace platform {

/// What went wrong.
struct Failure {
    std::string domain;
    int code = 0;
    std::string description;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : m_state(std::in_place_index<1>, std::move(failure)) {}
    Result(const Result&) = default;
    Result& operator=(const Result&) = default;
    Result(Result&&) noexcept = default;
    Result& operator=(Result&&) noexcept = default;
    ~Result() = default;

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    /// The value; only for a successful result.
    T& value() & {
        assert(ok());
        return std::get<0>(m_state);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(m_state);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(m_state));
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    /// The failure; only for a failed result.
    const Failure& failure() const {
        assert(!ok());
        return std::get<1>(m_state);
    }

private:
    std::variant<T, Failure> m_state;
};

template <>
class [[nodiscard]] Result<void> {
public:
    /// Success.
    Result() = default;
    Result(Failure failure) : m_failure(std::move(failure)) {}
    Result(const Result&) = default;
    Result& operator=(const Result&) = default;
    Result(Result&&) noexcept = default;
    Result& operator=(Result&&) noexcept = default;
    ~Result() = default;

    bool ok() const { return !m_failure.has_value(); }
    explicit operator bool() const { return ok(); }

    const Failure& failure() const {
        assert(!ok());
        return *m_failure;
    }
    const std::optional<Failure>& failureIfAny() const { return m_failure; }

private:
    std::optional<Failure> m_failure;
};

} // namespace platform
