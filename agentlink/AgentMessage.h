// An agent message: a flat map from text keys to values. A key occurs at most
// once. The map promises no order, but this one iterates in insertion order,
// which keeps the written text reproducible; equality ignores order.
#pragma once

#include "agentlink/AgentValue.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class AgentMessage {
public:
    using Entry = std::pair<std::string, AgentValue>;
    using const_iterator = std::vector<Entry>::const_iterator;

    AgentMessage() = default;
    /// Later entries with an earlier key replace its value.
    AgentMessage(std::initializer_list<Entry> entries);

    AgentMessage(const AgentMessage&) = default;
    AgentMessage& operator=(const AgentMessage&) = default;
    AgentMessage(AgentMessage&&) noexcept = default;
    AgentMessage& operator=(AgentMessage&&) noexcept = default;
    ~AgentMessage() = default;

    /// Stores \p value under \p key, replacing an earlier value in place.
    void set(std::string key, AgentValue value);
    /// The value under \p key, added as a value that holds nothing when the
    /// key is new; the reference stays valid until the next change of keys.
    AgentValue& slot(std::string_view key);
    bool remove(std::string_view key);
    void reserve(size_t count) { m_entries.reserve(count); }

    /// The value under \p key, or null.
    const AgentValue* find(std::string_view key) const;
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    /// The value under \p key when it is a text (an integer, a real).
    std::optional<std::string> text(std::string_view key) const;
    std::optional<int64_t> integer(std::string_view key) const;
    std::optional<double> real(std::string_view key) const;

    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    const_iterator begin() const { return m_entries.begin(); }
    const_iterator end() const { return m_entries.end(); }

    /// Same keys with equal values, in any order.
    bool operator==(const AgentMessage& other) const;

private:
    std::vector<Entry> m_entries;
};

/// "%@" of a message: its body text as the writer makes it.
void OCDescribe(OCTextSink& sink, const AgentMessage& message);
