#include "agentlink/PHAgentClient.h"

#include "platform/Bundle.h"
#include "platform/ExecutableInfo.h"

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
    sendMessage({{"Ctrl", "bye"}});
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
