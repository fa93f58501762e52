#include "agent/package/PackagePaths.h"

#include <vector>

namespace {

bool allOf(std::string_view text, std::string_view extra) {
    for (const char c : text) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && extra.find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

} // namespace

bool PackagePaths::isValidVersion(std::string_view version) {
    return !version.empty() && version.size() <= 64 && allOf(version, ".-_+~");
}

bool PackagePaths::isValidInstallLocation(std::string_view location) {
    if (location.empty() || location.front() != '/' || location.find('\0') != std::string_view::npos)
        return false;
    if (location == "/")
        return true;
    for (const auto part : components(location.substr(1)))
        if (part.empty() || part == "." || part == "..")
            return false;
    return true;
}

bool PackagePaths::isSafeRelative(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.find('\0') != std::string_view::npos)
        return false;
    for (const auto part : components(path))
        if (part.empty() || part == "." || part == "..")
            return false;
    return true;
}

std::string PackagePaths::join(const std::string& base, std::string_view relative) {
    if (relative.empty())
        return base;
    std::string result = base;
    if (result.empty() || result.back() != '/')
        result += '/';
    result += relative;
    return result;
}

std::string PackagePaths::rooted(const std::string& root, const std::string& location) {
    if (root.empty() || root == "/")
        return location;
    return location == "/" ? root : root + location;
}

bool PackagePaths::isWithin(std::string_view path, std::string_view folder) {
    if (folder == "/")
        return !path.empty() && path.front() == '/';
    return path == folder || (path.size() > folder.size() && path.substr(0, folder.size()) == folder &&
                              path[folder.size()] == '/');
}

std::string PackagePaths::resolveLinkTarget(std::string_view linkPath, std::string_view target) {
    if (target.empty() || target.front() == '/' || target.find('\0') != std::string_view::npos)
        return {};
    std::vector<std::string_view> stack;
    const auto parts = components(linkPath);
    for (size_t i = 0; i + 1 < parts.size(); ++i) // the link's own folder
        if (!parts[i].empty() && parts[i] != ".")
            stack.push_back(parts[i]);
    // ".." only at the start: after a name it would climb out of whatever that
    // name resolves to, which need not be the folder the text suggests.
    bool named = false;
    for (const auto part : components(target)) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (named || stack.empty())
                return {};
            stack.pop_back();
        } else {
            named = true;
            stack.push_back(part);
        }
    }
    if (stack.empty())
        return ".";
    std::string result;
    for (const auto part : stack) {
        if (!result.empty())
            result += '/';
        result += part;
    }
    return result;
}
