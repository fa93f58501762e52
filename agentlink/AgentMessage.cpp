#include "agentlink/AgentMessage.h"

#include "agentlink/AgentCodec.h"

AgentMessage::AgentMessage(std::initializer_list<Entry> entries) {
    m_entries.reserve(entries.size());
    for (const auto& entry : entries)
        set(entry.first, entry.second);
}

void AgentMessage::set(std::string key, AgentValue value) {
    for (auto& entry : m_entries) {
        if (entry.first == key) {
            entry.second = std::move(value);
            return;
        }
    }
    m_entries.emplace_back(std::move(key), std::move(value));
}

AgentValue& AgentMessage::slot(std::string_view key) {
    for (auto& entry : m_entries)
        if (entry.first == key)
            return entry.second;
    return m_entries.emplace_back(std::string(key), AgentValue()).second;
}

bool AgentMessage::remove(std::string_view key) {
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->first == key) {
            m_entries.erase(it);
            return true;
        }
    }
    return false;
}

const AgentValue* AgentMessage::find(std::string_view key) const {
    for (const auto& entry : m_entries)
        if (entry.first == key)
            return &entry.second;
    return nullptr;
}

std::optional<std::string> AgentMessage::text(std::string_view key) const {
    const AgentValue* value = find(key);
    if (value && value->isText())
        return *value->text();
    return std::nullopt;
}

std::optional<int64_t> AgentMessage::integer(std::string_view key) const {
    const AgentValue* value = find(key);
    return value ? value->integer() : std::nullopt;
}

std::optional<double> AgentMessage::real(std::string_view key) const {
    const AgentValue* value = find(key);
    return value ? value->real() : std::nullopt;
}

bool AgentMessage::operator==(const AgentMessage& other) const {
    if (size() != other.size())
        return false;
    for (const auto& entry : m_entries) {
        const AgentValue* value = other.find(entry.first);
        if (!value || !(*value == entry.second))
            return false;
    }
    return true;
}

void OCDescribe(OCTextSink& sink, const AgentMessage& message) {
    const std::string body = serialize(message);
    sink.append(body.data(), body.size());
}
