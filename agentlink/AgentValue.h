// One value of an agent message: a text, a 64-bit signed integer or a double,
// kept apart so that a number is written back in the form it was stored in.
// A yes/no value travels as the integer 1 or 0.
#pragma once

#include "CNSLog.h"

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

class AgentValue {
public:
    /// None is a value that holds nothing; the writer drops it with a log line.
    enum class Kind { None, Text, Integer, Real };

    AgentValue() = default;
    AgentValue(std::string text) : m_value(std::move(text)) {}
    AgentValue(const char* text) : m_value(std::string(text ? text : "")) {}
    template <std::integral T>
    AgentValue(T number) : m_value(static_cast<int64_t>(number)) {}
    AgentValue(double number) : m_value(number) {}

    AgentValue(const AgentValue&) = default;
    AgentValue& operator=(const AgentValue&) = default;
    AgentValue(AgentValue&&) noexcept = default;
    AgentValue& operator=(AgentValue&&) noexcept = default;
    ~AgentValue() = default;

    /// Replace the value in place, without a temporary.
    void setText(std::string_view text) { m_value.emplace<std::string>(text); }
    void setInteger(int64_t number) { m_value = number; }
    void setReal(double number) { m_value = number; }

    Kind kind() const { return static_cast<Kind>(m_value.index()); }
    bool isText() const { return kind() == Kind::Text; }
    bool isInteger() const { return kind() == Kind::Integer; }
    bool isReal() const { return kind() == Kind::Real; }

    /// The text, or null when the value is not a text.
    const std::string* text() const { return std::get_if<std::string>(&m_value); }
    std::optional<int64_t> integer() const;
    std::optional<double> real() const;

    /// Same kind and same contents. A NaN equals nothing, as doubles do.
    bool operator==(const AgentValue& other) const = default;

private:
    // Index order matches Kind.
    std::variant<std::monostate, std::string, int64_t, double> m_value;
};

/// "%@" of a value: a text in double quotes, a number as the writer prints it,
/// "(null)" for a value that holds nothing.
void OCDescribe(OCTextSink& sink, const AgentValue& value);
