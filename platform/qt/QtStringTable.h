// The localisation table from Qt Linguist files: context "Localizable", the key
// as source text. Loaded for the system locale with English as the fallback.
#pragma once

#include "platform/StringTable.h"

#include <QLocale>
#include <QTranslator>
#include <memory>
#include <vector>

namespace platform::qt {

class QtStringTable final : public StringTable {
public:
    /// Loads "<baseName>_<language>.qm" files from \p directory: the best match
    /// for \p locale first, then English. Missing files are skipped.
    QtStringTable(const QString& directory, const QString& baseName,
                  const QLocale& locale = QLocale::system());

    std::optional<std::string> lookup(const std::string& key) const override;

    /// True when at least one translation file was loaded.
    bool loaded() const { return !m_translators.empty(); }

private:
    std::vector<std::unique_ptr<QTranslator>> m_translators;
};

} // namespace platform::qt
