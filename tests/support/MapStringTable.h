// A localisation table held in a map, for tests that need known texts.
#pragma once

#include "platform/StringTable.h"

#include <map>
#include <string>

namespace testsupport {

class MapStringTable final : public platform::StringTable {
public:
    explicit MapStringTable(std::map<std::string, std::string> texts) : m_texts(std::move(texts)) {}

    std::optional<std::string> lookup(const std::string& key) const override {
        auto it = m_texts.find(key);
        return it == m_texts.end() ? std::nullopt : std::optional<std::string>(it->second);
    }

private:
    std::map<std::string, std::string> m_texts;
};

} // namespace testsupport
