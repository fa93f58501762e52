#include "agent/AgentSession.h"

#include "agent/CommandEvents.h"
#include "agent/CommandGate.h"
#include "agent/CommandRequest.h"
#include "agent/RebootCommand.h"
#include "agent/package/PackageInstaller.h"
#include "agentlink/AgentCodec.h"
#include "agentlink/AgentProtocol.h"
#include "agentlink/RejectedInputLog.h"
#include "platform/LogText.h"
#include "platform/ServiceManager.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <exception>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace AgentProtocol;

namespace {

/// What "%@" prints for \p value, fit for one log line.
template <class T>
std::string loggable(const T& value) {
    OCTextSink text;
    OCFormat(text, "%@", value);
    return platform::LogText::escaped(std::string_view(text.text(), text.size()));
}

} // namespace

void AgentSession::start(int fd, int number, std::optional<PeerCredentials> peer, bool logged,
                         std::string label, std::string version, std::shared_ptr<CommandGate> gate,
                         std::function<void()> onEnd) {
    auto session = std::make_shared<AgentSession>(Token{}, fd, number, peer, logged, std::move(label),
                                                  std::move(version), std::move(gate));
    session->m_link.setDelegate(session);
    std::thread([session, onEnd = std::move(onEnd)] {
        pthread_setname_np(pthread_self(), "AgentSession");
        session->run();
        if (onEnd)
            onEnd();
    }).detach();
}

AgentSession::AgentSession(Token, int fd, int number, std::optional<PeerCredentials> peer, bool logged,
                           std::string label, std::string version, std::shared_ptr<CommandGate> gate)
    : m_link(fd, false), m_number(number), m_label(std::move(label)), m_version(std::move(version)),
      m_gate(std::move(gate)), m_peer(peer), m_logged(logged), m_limited(!peer || peer->uid() != 0) {}

void AgentSession::run() {
    // What the agent link rejects is logged only where this connection's own traffic is.
    const RejectedInputLog::Muted rejections(!m_logged);
    // A send that the client takes nothing of for this long fails, and the
    // connection with it; the running command goes on.
    const timeval limit{static_cast<time_t>(kIdleLimit.count()), 0};
    ::setsockopt(m_link.conFd(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ::setsockopt(m_link.conFd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (m_logged) {
        OCNSLog("Connection %d: accepted", m_number);
        if (m_peer)
            OCNSLog("Connection %d: client uid %u gid %u pid %d", m_number, m_peer->uid(), m_peer->gid(),
                    static_cast<int>(m_peer->pid()));
        else
            OCNSLog("Connection %d: the client's credentials are unknown: commands are refused", m_number);
    }
    while (m_link.isConnected()) {
        switch (awaitRequest()) {
        case Arrival::Request:
            if (auto request = m_link.readMessage())
                handle(*request);
            break;
        case Arrival::Closed:
            m_link.closeConnection();
            if (m_logged)
                OCNSLog("Connection %d: closed by client", m_number);
            break;
        case Arrival::Silent:
            m_link.closeConnection();
            if (m_logged)
                OCNSLog("Connection %d: no request for %d s: dropped", m_number,
                        static_cast<int>(kIdleLimit.count()));
            break;
        }
    }
    if (m_logged)
        OCNSLog("Connection %d: ended", m_number);
}

AgentSession::Arrival AgentSession::awaitRequest() {
    using namespace std::chrono;
    const int fd = m_link.conFd();
    const auto deadline = steady_clock::now() + kIdleLimit;
    char bytes[kFrameHeaderSize + kMaxFrameBodySize];
    auto pause = milliseconds(1);
    for (;;) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0)
            return Arrival::Silent;
        pollfd ready{fd, POLLIN | POLLRDHUP, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(left));
        if (polled < 0 && errno != EINTR)
            return Arrival::Request; // the read reports the failure
        if (polled <= 0)
            continue;
        const ssize_t n = ::recv(fd, bytes, sizeof bytes, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0)
            return Arrival::Closed;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return Arrival::Request; // the read reports the failure
        }
        const auto have = static_cast<size_t>(n);
        if (have >= kFrameHeaderSize) {
            const FrameHeader header = readFrameHeader(std::string_view(bytes, kFrameHeaderSize));
            if (!header.isValid() || have >= kFrameHeaderSize + header.bodyLength)
                return Arrival::Request;
        }
        // Part of a frame, which a client that stopped sending cannot complete.
        if ((ready.revents & (POLLRDHUP | POLLHUP)) != 0)
            return Arrival::Closed;
        // The rest of a frame sent in pieces; waiting for readable data would
        // return at once, as part of it is there already.
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, milliseconds(100));
    }
}

bool AgentSession::mayLogRequest() {
    return mayLog(m_requestsLogged, kLoggedRequests, "further requests are not logged");
}

bool AgentSession::mayLogRefusal() {
    return mayLog(m_refusalsLogged, kLoggedRefusals,
                  "further refused, malformed or unknown requests are not logged");
}

bool AgentSession::mayLog(int& logged, int limit, const char* stopping) {
    if (!m_logged)
        return false;
    if (!m_limited || logged < limit) {
        ++logged;
        return true;
    }
    if (logged++ == limit)
        OCNSLog("Connection %d: %@", m_number, stopping);
    return false;
}

void AgentSession::handle(const AgentMessage& request) {
    if (mayLogRequest())
        OCNSLog("Connection %d: request %@", m_number, loggable(request));
    const std::optional<std::string> control = request.text(Key::kControl);
    if (control == Control::kGetVersion) {
        // The version travels as quoted text: the application compares it as text.
        m_link.sendMessage({{Key::kVersion, m_version}});
    } else if (control == Control::kBye) {
        // Nothing is sent back; the application closes the connection next.
    } else if (const AgentValue* command = request.find(Key::kCommand)) {
        if (command->text() && !CommandRequest::kindNamed(*command->text())) {
            if (mayLogRefusal())
                OCNSLog("Connection %d: command not supported, ignored: %@", m_number,
                        platform::LogText::escaped(*command->text()));
        } else {
            handleCommand(request);
        }
    } else if (mayLogRefusal()) {
        OCNSLog("Connection %d: unknown request ignored", m_number);
    }
}

bool AgentSession::mayCommand() {
    if (!m_peer) {
        if (mayLogRefusal())
            OCNSLog("Connection %d: command refused: the client's credentials are unknown", m_number);
        return false;
    }
    const int pid = static_cast<int>(m_peer->pid());
    if (m_peer->uid() == 0)
        return true;
    if (m_grant) {
        if (!m_grant->lapsed())
            return true;
        if (mayLogRefusal())
            OCNSLog("Connection %d: command refused: the administrator's grant for uid %u pid %d has lapsed",
                    m_number, m_peer->uid(), pid);
        return false;
    }
    m_grant = CommandGrant::claim(m_label, m_peer->uid(), m_peer->pid());
    if (m_grant) {
        OCNSLog("Connection %d: uid %u pid %d holds an administrator's grant for this connection", m_number,
                m_peer->uid(), pid);
        return true;
    }
    if (mayLogRefusal())
        OCNSLog(
            "Connection %d: command refused: uid %u pid %d is not root and holds no administrator's grant",
            m_number, m_peer->uid(), pid);
    return false;
}

void AgentSession::handleCommand(const AgentMessage& request) {
    if (!mayCommand()) {
        sendCompletion(Status::NotPermitted);
        return;
    }
    const auto command = CommandRequest::parse(request);
    if (!command) {
        if (mayLogRefusal())
            OCNSLog("Connection %d: malformed command refused: %@", m_number,
                    platform::LogText::escaped(command.failure().description));
        sendCompletion(Status::CommandMalformed);
        return;
    }
    auto pass = m_gate->tryEnter();
    if (!pass) {
        if (mayLogRefusal())
            OCNSLog("Connection %d: %@ refused: %@", m_number, command->name(),
                    m_gate->isClosed() ? "the agent is stopping" : "another command is running");
        sendCompletion(Status::Busy);
        return;
    }
    // What happens to the connection while its command runs is logged in any case.
    m_commandRunning = true;
    switch (command->kind()) {
    case CommandRequest::Kind::Install:
    case CommandRequest::Kind::Update:
    case CommandRequest::Kind::Uninstall:
        runPackageCommand(*command, pass);
        break;
    case CommandRequest::Kind::Reboot:
        reboot(pass);
        break;
    case CommandRequest::Kind::UninstallInstallerAgent:
        // No command may start while the agent removes itself and ends.
        m_gate->refuseFurther();
        uninstallSelf();
        break;
    }
    m_commandRunning = false;
}

void AgentSession::sendCompletion(int status) {
    CommandEvents events(m_link, m_number);
    events.completed(status);
}

void AgentSession::runPackageCommand(const CommandRequest& command, std::optional<CommandGate::Pass>& pass) {
    if (command.loggedInUser())
        OCNSLog("Connection %d: %@ for user %u", m_number, command.name(), *command.loggedInUser());
    else
        OCNSLog("Connection %d: %@", m_number, command.name());
    if (m_peer && command.loggedInUser() && m_peer->uid() != 0 && *command.loggedInUser() != m_peer->uid())
        OCNSLog("Connection %d: the client (uid %u) names another user (%u)", m_number, m_peer->uid(),
                *command.loggedInUser());

    CommandEvents events(m_link, m_number);
    InstallResult result;
    try {
        PackageInstaller installer(
            PackageInstaller::Options{},
            [&events](double percent, const std::string& info) { events.progress(percent, info); });
        switch (command.kind()) {
        case CommandRequest::Kind::Install:
            result = installer.install(command.packagePath());
            break;
        case CommandRequest::Kind::Update:
            result = installer.update(command.packagePath());
            break;
        default:
            result = installer.uninstall(command.removeBackups());
            break;
        }
    } catch (const std::exception& error) {
        result = {InstallResult::InternalError, error.what()};
    } catch (...) {
        result = {InstallResult::InternalError, "unknown exception"};
    }
    OCNSLog("Connection %d: %@ completed with status %d (%@): %@", m_number, command.name(), result.code(),
            InstallResult::statusName(result.status()), platform::LogText::escaped(result.reason()));
    // The work is done: a client that starts its next command as soon as it
    // reads the completion must not find the agent busy.
    pass.reset();
    if (!events.completed(result.code()))
        OCNSLog("Connection %d: the completion of %@ was not delivered", m_number, command.name());
}

void AgentSession::reboot(std::optional<CommandGate::Pass>& pass) {
    OCNSLog("Connection %d: Reboot", m_number);
    InstallResult result;
    try {
        result = RebootCommand::run();
    } catch (const std::exception& error) {
        result = {InstallResult::InternalError, error.what()};
    } catch (...) {
        result = {InstallResult::InternalError, "unknown exception"};
    }
    if (result.ok()) {
        // The application terminates right after sending "Reboot" and reads
        // nothing more; a completion would only race with its end.
        OCNSLog("Connection %d: the reboot command ran", m_number);
        return;
    }
    OCNSLog("Connection %d: Reboot failed with status %d: %@", m_number, result.code(),
            platform::LogText::escaped(result.reason()));
    pass.reset();
    sendCompletion(result.code());
}

void AgentSession::connctionFailedWithError(PHProtocolHandler&, const ErrorRef& error) {
    if (m_logged || m_commandRunning)
        OCNSLog("Connection %d: closed after failure: %@", m_number, loggable(error));
}

void AgentSession::connectionClosed(PHProtocolHandler&) {
    if (m_logged || m_commandRunning)
        OCNSLog("Connection %d: closed by client", m_number);
}

void AgentSession::uninstallSelf() {
    // Removing first lets the reply say whether it worked. The running
    // executable and the open connection survive their files being removed.
    platform::ServiceManager::stopJobAsRoot(m_label, getpid());
    const bool removed = platform::ServiceManager::removeJobFilesAsRoot(m_label);
    CommandGrant::removeAll(m_label);
    OCNSLog("Connection %d: uninstalled job %@: %@", m_number, m_label, removed ? "done" : "incomplete");
    // The reply's status only tells success (0) from failure; 1 is what
    // agents have always sent for a removal left incomplete.
    m_link.sendMessage({{Key::kStatus, int64_t{removed ? Status::Success : 1}}});
    // The same way out as a stop request from outside: the listener closes
    // and the process ends.
    ::kill(getpid(), SIGTERM);
}
