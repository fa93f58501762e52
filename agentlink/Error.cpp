#include "agentlink/Error.h"

Error::Error(std::string domain, int64_t code, UserInfo userInfo)
    : m_domain(std::move(domain)), m_code(code), m_userInfo(std::move(userInfo)) {}

std::shared_ptr<const Error> Error::make(std::string domain, int64_t code, UserInfo userInfo) {
    return std::make_shared<const Error>(std::move(domain), code, std::move(userInfo));
}

std::shared_ptr<const Error> Error::withReason(std::string domain, int64_t code, std::string reason) {
    return make(std::move(domain), code, {{kReasonKey, std::move(reason)}});
}

std::shared_ptr<const Error> Error::withLocalizedDescription(std::string domain, int64_t code,
                                                             std::string description) {
    return make(std::move(domain), code, {{kLocalizedDescriptionKey, std::move(description)}});
}

std::optional<std::string> Error::userInfoValue(const std::string& key) const {
    auto it = m_userInfo.find(key);
    if (it == m_userInfo.end())
        return std::nullopt;
    return it->second;
}

std::string Error::reason() const {
    return userInfoValue(kReasonKey).value_or(std::string());
}

std::string Error::localizedDescription() const {
    if (auto description = userInfoValue(kLocalizedDescriptionKey))
        return *description;
    return "The operation couldn\u2019t be completed. (" + m_domain + " error " + std::to_string(m_code) +
           ".)";
}

std::string Error::description() const {
    std::string text = "Error Domain=" + m_domain + " Code=" + std::to_string(m_code) + " \"" +
                       localizedDescription() + "\" UserInfo={";
    bool first = true;
    for (const auto& [key, value] : m_userInfo) {
        if (!first)
            text += ", ";
        first = false;
        text += key;
        text += '=';
        text += value;
    }
    text += '}';
    return text;
}

void OCDescribe(OCTextSink& sink, const Error& error) {
    const std::string text = error.description();
    sink.append(text.data(), text.size());
}

void OCDescribe(OCTextSink& sink, const ErrorRef& error) {
    if (error)
        OCDescribe(sink, *error);
    else
        sink.append("(null)");
}
