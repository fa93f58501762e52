#include "agentlink/PHAgentClient.h"

#include "agentlink/AgentProtocol.h"
#include "platform/Bundle.h"
#include "platform/ExecutableInfo.h"
#include "platform/ServiceManager.h"
#include "platform/VersionNumber.h"

#include <algorithm>
#include <thread>

PHAgentClient::PHAgentClient(int fd, const std::string& agentPath, bool trace)
    : m_protocolHandler(std::make_shared<PHClientProtocolHandler>(fd, trace)), m_agentName(agentPath) {
    const std::string executable = agentExecutablePath(agentPath);
    if (auto info = platform::ExecutableInfo::read(executable)) {
        m_agentBundleId = info->string("CFBundleIdentifier").value_or(std::string());
        m_embeddedToolVersion = info->text("CFBundleVersion").value_or(std::string());
    } else {
        OCNSLog("No information list in agent executable: %@", executable);
    }
}

PHAgentClient::PHAgentClient(std::shared_ptr<PHAgentEventHandler> eventHandler, const std::string& agentPath,
                             bool trace)
    : PHAgentClient(-1, agentPath, trace) {
    m_myEventHandler.store(std::move(eventHandler));
}

PHAgentClient::~PHAgentClient() {
    // The event thread may be blocked in a read: stopping it first means nothing
    // more is delivered, and closing shuts the socket down, which ends that read.
    if (auto thread = m_eventThread.exchange(nullptr))
        thread->stop();
    m_protocolHandler->closeConnection();
}

std::string PHAgentClient::agentExecutablePath(const std::string& agentPath) {
    return platform::Bundle::main().path() + "/Contents/" + agentPath;
}

bool PHAgentClient::sendMessage(const AgentMessage& message) {
    return m_protocolHandler->sendMessage(message);
}

std::optional<AgentMessage> PHAgentClient::readMessage() {
    if (m_eventThread.load())
        throw PHException("PHAgentClientInvalidState",
                          "Cannot invoke readMessage while eventThread is running");
    return m_protocolHandler->readMessage();
}

void PHAgentClient::startEventThread() {
    auto thread = PHEventThread::create(m_protocolHandler, weak_from_this());
    m_eventThread.store(thread);
    thread->start();
}

void PHAgentClient::stopEventThread() {
    if (auto thread = m_eventThread.exchange(nullptr))
        thread->stop();
}

bool PHAgentClient::dispatchAgentEvent(const std::optional<AgentMessage>& message) {
    auto handler = myEventHandler();
    return handler ? handler->processAgentEvent(message) : false;
}

void PHAgentClient::eventThreadTerminatedWithError(PHEventThread& thread, const ErrorRef& error) {
    const std::shared_ptr<PHEventThread> current = m_eventThread.load();
    if (current.get() == &thread)
        m_eventThread.compareExchange(current, nullptr);
    // Taking the handler out first makes the report happen once, even if two
    // threads notice the end at the same time.
    if (auto handler = m_myEventHandler.exchange(nullptr))
        handler->processErrorEvent(error);
}

void PHAgentClient::terminatePrivilegedAgent() {
    sendMessage({{AgentProtocol::Key::kControl, AgentProtocol::Control::kBye}});
    stopEventThread();
    m_protocolHandler->closeConnection();
}

std::string PHAgentClient::embeddedToolVersion() const {
    std::lock_guard lock(m_textLock);
    return m_embeddedToolVersion;
}

void PHAgentClient::setEmbeddedToolVersion(std::string value) {
    std::lock_guard lock(m_textLock);
    m_embeddedToolVersion = std::move(value);
}

std::optional<std::string> PHAgentClient::installedToolVersion() const {
    std::lock_guard lock(m_textLock);
    return m_installedToolVersion;
}

void PHAgentClient::setInstalledToolVersion(std::optional<std::string> value) {
    std::lock_guard lock(m_textLock);
    m_installedToolVersion = std::move(value);
}

std::string PHAgentClient::agentBundleId() const {
    std::lock_guard lock(m_textLock);
    return m_agentBundleId;
}

void PHAgentClient::setAgentBundleId(std::string value) {
    std::lock_guard lock(m_textLock);
    m_agentBundleId = std::move(value);
}

std::string PHAgentClient::agentName() const {
    std::lock_guard lock(m_textLock);
    return m_agentName;
}

void PHAgentClient::setAgentName(std::string value) {
    std::lock_guard lock(m_textLock);
    m_agentName = std::move(value);
}

// ---------------------------------------------------------------------------
// Installation and version policy

namespace {

OCArg optionalArg(const std::optional<std::string>& text) {
    return text ? OCArg(*text) : OCArg();
}

/// The service manager reports the authorization's own codes when the right
/// to install was not obtained.
bool isAuthorizationFailure(int64_t code) {
    using platform::Authorization;
    return code == Authorization::Denied || code == Authorization::Canceled ||
           code == Authorization::InteractionNotAllowed;
}

} // namespace

bool PHAgentClient::mustDowngrade(std::string_view shipped, std::string_view installed) {
    return platform::VersionNumber::compare(shipped, installed) < 0;
}

std::shared_ptr<platform::Authorization>
PHAgentClient::createAuthorizationForUser(const std::optional<std::string>& user,
                                          const std::optional<std::string>& password,
                                          const std::optional<std::string>& prompt) {
    using platform::Authorization;
    const std::string userName = user.value_or(std::string());
    std::shared_ptr<Authorization> reference;
    Authorization::Environment environment;
    uint32_t rightsFlags = 0;
    int32_t status = 0;
    if (!userName.empty()) {
        environment.push_back({"username", userName, 0});
        environment.push_back({"password", password.value_or(std::string()), 0});
        status = Authorization::create(&environment, 0, reference);
        rightsFlags = Authorization::FlagExtendRights | Authorization::FlagPreAuthorize;
    } else {
        if (prompt && !prompt->empty())
            environment.push_back({"prompt", *prompt + "\n\n", 0});
        const uint32_t flags = Authorization::FlagInteractionAllowed | Authorization::FlagExtendRights |
                               Authorization::FlagPreAuthorize;
        OCNSLog("AuthorizationCreate: flags: %d", flags);
        status = Authorization::create(environment.empty() ? nullptr : &environment, flags, reference);
        rightsFlags = flags;
    }

    if (status != Authorization::Success) {
        OCNSLog("PHProtocolHandler failed to create Authorization: %d", status);
    } else {
        const uintptr_t handle = reference ? reference->handle() : 0;
        // Only the first item is ever logged: the user name or the prompt,
        // never the password.
        if (!environment.empty())
            OCNSLog("AuthorizationCopyRights: %lx, flags: %d, env items: %d, %ld, %s", handle, rightsFlags,
                    static_cast<int>(environment.size()), static_cast<long>(environment.front().value.size()),
                    environment.front().value);
        else
            OCNSLog("AuthorizationCopyRights: %lx, flags: %d, env items: 0", handle, rightsFlags);
        status = reference->copyRights(Authorization::kBlessHelperRight,
                                       environment.empty() ? nullptr : &environment, rightsFlags);
        if (status != Authorization::Success)
            OCNSLog("PHProtocolHandler AuthorizationCopyRights failed with error: %d", status);
    }
    for (auto& item : environment)
        std::fill(item.value.begin(), item.value.end(), '\0');
    return reference;
}

bool PHAgentClient::downgradeRequiredForAgent(const std::string& label) {
    const auto job = platform::ServiceManager::copyJobDictionary(label);
    if (!job) {
        OCNSDbgLog("Helper tool not yet installed: %@", label);
        return false;
    }
    // The service manager gives only records with a program to run.
    const auto arguments = job->stringArray("ProgramArguments");
    const auto info = platform::ExecutableInfo::read(arguments->front());
    const auto installed = info ? info->text("CFBundleVersion") : std::nullopt;
    const std::string shipped = embeddedToolVersion();
    OCNSDbgLog("%@, installed version: %@, new version: %@", label, optionalArg(installed), shipped);
    if (mustDowngrade(shipped, installed.value_or(std::string()))) {
        OCNSLog("Must downgrade %@ from version: %@ to version:%@", label, optionalArg(installed), shipped);
        return true;
    }
    return false;
}

bool PHAgentClient::installPrivilegedAgent(const std::string& label, const std::optional<std::string>& user,
                                           const std::optional<std::string>& password,
                                           const std::optional<std::string>& prompt) {
    setAgentName(label);
    const auto phase = [this](InstallPhase step, const std::string& detail = {}) {
        if (m_installPhaseHandler)
            m_installPhaseHandler(step, detail);
    };
    m_lastInstallFailure = InstallFailure::Agent;
    if (m_installErrorCount >= kMaxInstallErrors) {
        if (m_installErrorCount == kMaxInstallErrors)
            OCNSLog("Too many install errors of privileged agent: %@, skipping installation in this session",
                    agentName());
        return false;
    }
    if (m_protocolHandler->isConnected())
        terminatePrivilegedAgent();

    phase(InstallPhase::Authorizing);
    std::shared_ptr<platform::Authorization> authorization =
        createAuthorizationForUser(user, password, prompt);

    if (downgradeRequiredForAgent(label)) {
        const auto version = m_protocolHandler->connectPrivilegedAgent(agentBundleId());
        const auto status =
            m_protocolHandler->isConnected() ? m_protocolHandler->uninstallAgent() : std::nullopt;
        stopEventThread();
        m_protocolHandler->closeConnection();
        std::this_thread::sleep_for(kPauseAfterUninstall);
        OCNSLog("Privileged helper tool version: %@, uninstalled: %@", optionalArg(version),
                status ? OCArg(*status) : OCArg());
    }

    phase(InstallPhase::InstallingHelper);
    ErrorRef error;
    const std::string helper = agentExecutablePath("Library/LaunchServices/" + label);
    const auto failed = platform::ServiceManager::bless(label, helper, authorization.get(),
                                                        PHClientProtocolHandler::runningAgentVersion)
                            .failureIfAny();
    // The reference has done its work: nothing else needs the right.
    authorization.reset();
    if (failed) {
        error = Error::withLocalizedDescription(failed->domain, failed->code, failed->description);
        if (isAuthorizationFailure(failed->code))
            m_lastInstallFailure = InstallFailure::Authorization;
    } else {
        m_tryToConnect = true;
        const auto version = m_protocolHandler->connectPrivilegedAgent(agentBundleId());
        if (!version) {
            OCNSLog("Failed to get version of privileged helper tool: %@", agentName());
        } else {
            setInstalledToolVersion(version);
            if (*version == embeddedToolVersion()) {
                OCNSLog("Privileged helper %@ is up-to-date, version: %@", agentName(), *version);
                m_lastInstallFailure = InstallFailure::None;
                phase(InstallPhase::Connected, *version);
                return true;
            }
            OCNSLog("Failed to update privileged helper tool: %@", agentName());
        }
    }

    m_tryToConnect = false;
    ++m_installErrorCount;
    OCNSLog("Failed to install privileged helper tool: %@: error:%@", agentName(), error);
    return false;
}

bool PHAgentClient::verifyAgentConnection() {
    if (m_protocolHandler->isConnected())
        return true;
    if (m_tryToConnect) {
        if (const auto version = m_protocolHandler->connectPrivilegedAgent(agentBundleId())) {
            setInstalledToolVersion(version);
            const std::string shipped = embeddedToolVersion();
            if (*version == shipped) {
                m_tryToConnect = true;
                return true;
            }
            OCNSLog("Privileged helper:%@ must be updated, installed version: %@, current: %@\n", agentName(),
                    *version, shipped);
            m_tryToConnect = false;
            return false;
        }
    }
    m_tryToConnect = false;
    return false;
}
