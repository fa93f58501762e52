// The real installer agent as root inside the test sandbox (see AgentProcess), and a client of it as the
// installer application is one.
#pragma once

#include "AgentProcess.h"
#include "TestSupport.h"

#include "agentlink/PHClientProtocolHandler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sys/socket.h>
#include <thread>
#include <vector>

constexpr const char* kAgentIdentifier = "com.quorvantis.remote.RInstallerAgent";
constexpr const char* kAgentSocket = "/var/run/com.quorvantis.remote.RInstallerAgent.socket";

/// Whether \p done holds within \p timeout.
template <class Predicate>
bool waitFor(Predicate done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    for (const auto deadline = std::chrono::steady_clock::now() + timeout; !done();
         std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (std::chrono::steady_clock::now() > deadline)
            return false;
    return true;
}

/// A client that never waits forever for an agent that stopped answering.
class Client {
public:
    bool connect() {
        timeval timeout{60, 0};
        return m_handler.connectPrivilegedAgent(kAgentIdentifier) &&
               ::setsockopt(m_handler.conFd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
    }
    bool send(const AgentMessage& message) { return m_handler.sendMessage(message); }
    std::optional<AgentMessage> read() { return m_handler.readMessage(); }
    std::optional<std::string> version() { return m_handler.getAgentVersion(); }

    /// Events up to and including the first "CommandCompleted", or until the connection fails.
    std::vector<AgentMessage> eventsUntilCompletion() {
        std::vector<AgentMessage> events;
        while (auto event = read()) {
            events.push_back(*event);
            if (event->text("Event") == "CommandCompleted")
                break;
        }
        return events;
    }
    std::vector<AgentMessage> run(const AgentMessage& command) {
        return send(command) ? eventsUntilCompletion() : std::vector<AgentMessage>{};
    }

    /// Runs \p command: the "status" of its completion, which may follow progress events unless \p refused
    /// (-1002 then); -1000 without a completion, -1001 when the status is no integer.
    int64_t status(const AgentMessage& command, bool refused = false) {
        const auto events = run(command);
        if (events.empty() || events.back().text("Event") != "CommandCompleted")
            return -1000;
        return refused && events.size() != 1 ? -1002 : events.back().integer("status").value_or(-1001);
    }

private:
    PHClientProtocolHandler m_handler{-1, false};
};

/// Runs the real agent from /usr/local/libexec/<folder> for each test once \p cleared is removed.
class RealAgentTest : public testing::Test {
protected:
    void startAgent(const std::string& folder, const std::vector<std::string>& cleared) {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP()
                << "needs root inside the test sandbox (tests/sandbox): the agent runs on system paths";
        for (const auto& path : cleared)
            std::filesystem::remove_all(path);
        ASSERT_TRUE(m_agent.start(QVT_AGENT_PATH, folder));
        // The socket file exists from bind() on, so wait for the log line.
        ASSERT_TRUE(waitFor([&] { return logHas("Listening at "); })) << agentLog();
    }
    void TearDown() override {
        if (m_agent.running())
            m_agent.stop();
        // A sanitizer build of the agent reports into its log.
        EXPECT_EQ(agentLog().find("Sanitizer"), std::string::npos) << agentLog();
    }

    std::string agentLog() const { return m_agent.log(); }
    bool logHas(const std::string& part) const { return m_agent.logHas(part); }

    testsupport::AgentProcess m_agent;
};
