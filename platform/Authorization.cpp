#include "platform/Authorization.h"

#include <security/pam_appl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

const Authorization::Item* findItem(const Authorization::Environment* environment, const char* name) {
    if (!environment)
        return nullptr;
    for (const auto& item : *environment)
        if (item.name == name)
            return &item;
    return nullptr;
}

// The PAM conversation: answers every password prompt with the given
// password and nothing else. PAM frees the answers.
int answerWithPassword(int count, const struct pam_message** messages, struct pam_response** responses,
                       void* data) {
    if (count <= 0)
        return PAM_CONV_ERR;
    auto* answers = static_cast<pam_response*>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
    if (!answers)
        return PAM_BUF_ERR;
    const auto* password = static_cast<const std::string*>(data);
    for (int i = 0; i < count; ++i) {
        if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF || messages[i]->msg_style == PAM_PROMPT_ECHO_ON)
            answers[i].resp = strdup(password->c_str());
    }
    *responses = answers;
    return PAM_SUCCESS;
}

bool userMayAdminister(const std::string& user) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    if (found->pw_uid == 0)
        return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(user.c_str(), found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (getgrouplist(user.c_str(), found->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(static_cast<size_t>(count));
    for (const char* name : {"sudo", "wheel", "admin"}) {
        if (const group* g = getgrnam(name))
            if (std::find(groups.begin(), groups.end(), g->gr_gid) != groups.end())
                return true;
    }
    return false;
}

} // namespace

int32_t Authorization::create(const Environment* environment, uint32_t /*flags*/,
                              std::shared_ptr<Authorization>& result) {
    if (environment)
        for (const auto& item : *environment)
            if (item.name.empty())
                return Denied;
    result.reset(new Authorization);
    if (const Item* prompt = findItem(environment, "prompt")) {
        std::string text = prompt->value;
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        result->m_prompt = text;
    }
    return Success;
}

int32_t Authorization::copyRights(const std::string& right, const Environment* environment, uint32_t flags) {
    if (right != kBlessHelperRight)
        return Denied;
    if (const Item* prompt = findItem(environment, "prompt")) {
        std::string text = prompt->value;
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        m_prompt = text;
    }

    int32_t status = Denied;
    if (geteuid() == 0) {
        m_elevation = Elevation::AlreadyRoot;
        status = Success;
    } else if (const Item* user = findItem(environment, "username"); user && !user->value.empty()) {
        const Item* password = findItem(environment, "password");
        status = verifyAdministrator(user->value, password ? password->value : std::string());
        if (status == Success)
            m_elevation = Elevation::Verified;
    } else if (!(flags & FlagInteractionAllowed) || findPkexec().empty()) {
        status = InteractionNotAllowed;
    } else {
        // The dialog itself comes with the privileged step, so the user is
        // asked once per installation.
        m_elevation = Elevation::Pkexec;
        status = Success;
    }
    if (status == Success && !holdsRight(right))
        m_rights.push_back(right);
    return status;
}

bool Authorization::holdsRight(const std::string& right) const {
    return std::find(m_rights.begin(), m_rights.end(), right) != m_rights.end();
}

int32_t Authorization::verifyAdministrator(const std::string& user, const std::string& password) {
    std::string secret = password;
    pam_conv conversation{answerWithPassword, &secret};
    pam_handle_t* handle = nullptr;
    if (pam_start("login", user.c_str(), &conversation, &handle) != PAM_SUCCESS)
        return InteractionNotAllowed;
    int result = pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (result == PAM_SUCCESS)
        result = pam_acct_mgmt(handle, PAM_SILENT);
    pam_end(handle, result);
    std::fill(secret.begin(), secret.end(), '\0');
    if (result != PAM_SUCCESS)
        return Denied;
    return userMayAdminister(user) ? Success : Denied;
}

std::string Authorization::findPkexec() {
    for (const char* path : kPkexecPaths) {
        struct stat info {};
        if (::stat(path, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == 0 &&
            (info.st_mode & S_ISUID) && (info.st_mode & S_IXOTH))
            return path;
    }
    return {};
}

} // namespace platform
