#include "agent/AgentSession.h"

#include "platform/ServiceManager.h"

#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

void AgentSession::start(int fd, int number, std::string label, std::string version,
                         std::function<void()> onEnd) {
    auto session = std::make_shared<AgentSession>(Token{}, fd, number, std::move(label), std::move(version));
    session->m_link.setDelegate(session);
    std::thread([session, onEnd = std::move(onEnd)] {
        pthread_setname_np(pthread_self(), "AgentSession");
        session->run();
        if (onEnd)
            onEnd();
    }).detach();
}

AgentSession::AgentSession(Token, int fd, int number, std::string label, std::string version)
    : m_link(fd, false), m_number(number), m_label(std::move(label)), m_version(std::move(version)) {}

void AgentSession::run() {
    OCNSLog("Connection %d: accepted", m_number);
    while (m_link.isConnected()) {
        if (auto request = m_link.readMessage())
            handle(*request);
    }
    OCNSLog("Connection %d: ended", m_number);
}

void AgentSession::handle(const AgentMessage& request) {
    OCNSLog("Connection %d: request %@", m_number, request);
    const std::optional<std::string> control = request.text("Ctrl");
    if (control == "getVersion") {
        // The version travels as quoted text: the application compares it as text.
        m_link.sendMessage({{"version", m_version}});
    } else if (control == "bye") {
        // Nothing is sent back; the application closes the connection next.
    } else if (auto command = request.text("Cmd"); command == "UninstallInstallerAgent") {
        uninstallSelf();
    } else if (command) {
        OCNSLog("Connection %d: command not supported, ignored: %@", m_number, *command);
    } else {
        OCNSLog("Connection %d: unknown request ignored", m_number);
    }
}

void AgentSession::connctionFailedWithError(PHProtocolHandler&, const ErrorRef& error) {
    OCNSLog("Connection %d: closed after failure: %@", m_number, error);
}

void AgentSession::connectionClosed(PHProtocolHandler&) {
    OCNSLog("Connection %d: closed by client", m_number);
}

void AgentSession::uninstallSelf() {
    // Removing first lets the reply say whether it worked. The running
    // executable and the open connection survive their files being removed.
    platform::ServiceManager::stopJobAsRoot(m_label, getpid());
    const bool removed = platform::ServiceManager::removeJobFilesAsRoot(m_label);
    OCNSLog("Connection %d: uninstalled job %@: %@", m_number, m_label, removed ? "done" : "incomplete");
    m_link.sendMessage({{"status", int64_t{removed ? 0 : 1}}});
    // The same way out as a stop request from outside: the listener closes
    // and the process ends.
    ::kill(getpid(), SIGTERM);
}
