#include "platform/qt/QtStringTable.h"

namespace platform::qt {

QtStringTable::QtStringTable(const QString& directory, const QString& baseName, const QLocale& locale) {
    auto system = std::make_unique<QTranslator>();
    if (system->load(locale, baseName, QStringLiteral("_"), directory))
        m_translators.push_back(std::move(system));
    auto english = std::make_unique<QTranslator>();
    if (english->load(baseName + QStringLiteral("_en"), directory))
        m_translators.push_back(std::move(english));
}

std::optional<std::string> QtStringTable::lookup(const std::string& key) const {
    for (const auto& translator : m_translators) {
        const QString text = translator->translate("Localizable", key.c_str());
        if (!text.isEmpty())
            return text.toStdString();
    }
    return std::nullopt;
}

} // namespace platform::qt
