#include "platform/Bundle.h"

#include "platform/PropertyList.h"

#include <climits>
#include <unistd.h>

namespace platform {

namespace {

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<Bundle>& mainStorage() {
    static std::optional<Bundle> bundle;
    return bundle;
}

} // namespace

Bundle::Bundle(std::string executablePath) : m_executablePath(std::move(executablePath)) {
    const std::string folder = parentOf(m_executablePath);
    if (endsWith(folder, "/Contents/MacOS"))
        m_path = parentOf(parentOf(folder));
    else
        m_path = folder;
}

Bundle& Bundle::main() {
    auto& bundle = mainStorage();
    if (!bundle)
        bundle.emplace(currentExecutablePath());
    return *bundle;
}

void Bundle::setMain(Bundle bundle) {
    mainStorage() = std::move(bundle);
}

std::optional<std::string> Bundle::infoValue(const std::string& key) const {
    auto info = PropertyList::fromFile(infoPlistPath());
    if (!info)
        return std::nullopt;
    return info->text(key);
}

std::string Bundle::localizedString(const std::string& key, const std::string& defaultValue) const {
    if (m_strings)
        if (auto text = m_strings->lookup(key))
            return *text;
    return defaultValue.empty() ? key : defaultValue;
}

std::string currentExecutablePath() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    return std::string(buffer, static_cast<size_t>(n));
}

} // namespace platform
