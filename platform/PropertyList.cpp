#include "platform/PropertyList.h"

#include "platform/FileDescriptor.h"

#include <plist/plist.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace platform {

namespace {

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::optional<std::string> nodeString(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    char* value = nullptr;
    plist_get_string_val(node, &value);
    if (!value)
        return std::nullopt;
    std::string result(value);
    std::free(value);
    return result;
}

} // namespace

std::optional<PropertyList> PropertyList::fromBytes(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    PlistPtr owner(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT)
        return std::nullopt;

    PropertyList list;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(root, &iter);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root, iter, &key, &value);
        if (!value) {
            std::free(key);
            break;
        }
        std::string name = key ? key : "";
        std::free(key);
        switch (plist_get_node_type(value)) {
        case PLIST_STRING:
            if (auto s = nodeString(value))
                list.m_values[name] = *s;
            break;
        case PLIST_UINT: {
            // libplist keeps integers unsigned; negative XML integers come back
            // as their two's complement, which the cast restores.
            uint64_t v = 0;
            plist_get_uint_val(value, &v);
            list.m_values[name] = static_cast<int64_t>(v);
            break;
        }
        case PLIST_REAL: {
            double v = 0;
            plist_get_real_val(value, &v);
            list.m_values[name] = v;
            break;
        }
        case PLIST_BOOLEAN: {
            uint8_t v = 0;
            plist_get_bool_val(value, &v);
            list.m_values[name] = v != 0;
            break;
        }
        case PLIST_ARRAY: {
            std::vector<std::string> items;
            bool allTexts = true;
            const uint32_t count = plist_array_get_size(value);
            for (uint32_t i = 0; i < count && allTexts; ++i) {
                auto s = nodeString(plist_array_get_item(value, i));
                if (s)
                    items.push_back(*s);
                else
                    allTexts = false;
            }
            if (allTexts)
                list.m_values[name] = std::move(items);
            break;
        }
        default:
            break;
        }
    }
    std::free(iter);
    return list;
}

std::optional<PropertyList> PropertyList::fromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return fromBytes(content.str());
}

std::optional<std::string> PropertyList::string(const std::string& key) const {
    auto it = m_values.find(key);
    if (it == m_values.end())
        return std::nullopt;
    if (const auto* s = std::get_if<std::string>(&it->second))
        return *s;
    return std::nullopt;
}

std::optional<std::string> PropertyList::text(const std::string& key) const {
    auto it = m_values.find(key);
    if (it == m_values.end())
        return std::nullopt;
    const Value& v = it->second;
    if (const auto* s = std::get_if<std::string>(&v))
        return *s;
    if (const auto* i = std::get_if<int64_t>(&v))
        return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v)) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.17g", *d);
        return std::string(buffer);
    }
    if (const auto* b = std::get_if<bool>(&v))
        return std::string(*b ? "1" : "0");
    return std::nullopt;
}

std::optional<std::vector<std::string>> PropertyList::stringArray(const std::string& key) const {
    auto it = m_values.find(key);
    if (it == m_values.end())
        return std::nullopt;
    if (const auto* a = std::get_if<std::vector<std::string>>(&it->second))
        return *a;
    return std::nullopt;
}

std::string PropertyList::toXml() const {
    PlistPtr root(plist_new_dict());
    for (const auto& [key, value] : m_values) {
        plist_t node = nullptr;
        if (const auto* s = std::get_if<std::string>(&value)) {
            node = plist_new_string(s->c_str());
        } else if (const auto* i = std::get_if<int64_t>(&value)) {
            node = plist_new_uint(static_cast<uint64_t>(*i));
        } else if (const auto* d = std::get_if<double>(&value)) {
            node = plist_new_real(*d);
        } else if (const auto* b = std::get_if<bool>(&value)) {
            node = plist_new_bool(*b ? 1 : 0);
        } else if (const auto* a = std::get_if<std::vector<std::string>>(&value)) {
            node = plist_new_array();
            for (const std::string& item : *a)
                plist_array_append_item(node, plist_new_string(item.c_str()));
        }
        plist_dict_set_item(root.get(), key.c_str(), node);
    }
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    std::string result = xml ? std::string(xml, length) : std::string();
    plist_to_xml_free(xml);
    return result;
}

Result<void> PropertyList::writeFile(const std::string& path) const {
    const std::string temporary = path + ".tmp." + std::to_string(getpid());
    const std::string text = toXml();
    ::unlink(temporary.c_str()); // left by an earlier run of this pid
    errno = 0;
    FileDescriptor out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    const bool written =
        out.get() >= 0 && ::write(out.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
        ::fsync(out.get()) == 0 && out.close() == 0 && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (written)
        return {};
    const int error = errno ? errno : EIO;
    ::unlink(temporary.c_str());
    return Failure{kErrorDomain, error, "Cannot write " + path + ": " + std::strerror(error)};
}

} // namespace platform
