// The installer agent's listener: the local stream socket
// "/var/run/<bundle identifier>.socket", one thread per connection, one
// command at a time across them (see AgentSession.h for who may send one).
#pragma once

#include "agent/CommandGate.h"
#include "platform/FileDescriptor.h"

#include <atomic>
#include <memory>
#include <string>

class AgentServer {
public:
    /// More connections than this at once are refused (closed at once), so idle
    /// clients cannot exhaust the agent's threads.
    static constexpr int kMaxConnections = 64;

    AgentServer(std::string bundleIdentifier, std::string version);
    /// Stops listening and removes the socket file.
    ~AgentServer();

    AgentServer(const AgentServer&) = delete;
    AgentServer& operator=(const AgentServer&) = delete;
    AgentServer(AgentServer&&) = delete;
    AgentServer& operator=(AgentServer&&) = delete;

    static std::string socketPath(const std::string& bundleIdentifier);

    /// Removes a stale socket file and starts listening. False, logged, when
    /// that fails.
    bool listen();
    /// Accepts connections until stop(); then refuses further commands and
    /// returns once the running command, if any, has completed.
    void run();
    /// Makes run() return. Async-signal-safe.
    void stop();

private:
    void acceptConnections();
    void closeListener();

    const std::string m_label;
    const std::string m_version;
    const std::string m_socketPath;
    platform::FileDescriptor m_listenFd;
    platform::FileDescriptor m_wakeRead;
    platform::FileDescriptor m_wakeWrite;
    // Shared with the connection threads, which may end after the server.
    const std::shared_ptr<std::atomic<int>> m_connections = std::make_shared<std::atomic<int>>(0);
    const std::shared_ptr<CommandGate> m_commands = std::make_shared<CommandGate>();
    int m_nextNumber = 1;
};
