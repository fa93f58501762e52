// The agent event thread: reads every message the agent sends on a connection
// and posts it to the main queue for the client's event handler, in arrival
// order, without waiting for the main thread. While it runs it is the
// connection's delegate, so it also learns how the event stream ends.
//
// Ownership: the thread refers to the client and the connection without owning
// them. For each read it holds its own reference to the connection, so a client
// destroyed meanwhile does not free the connection under the reader; and the
// running thread holds a reference to this object until its body returns.
#pragma once

#include "agentlink/AtomicRef.h"
#include "agentlink/PHClientProtocolHandler.h"
#include "agentlink/PHConnectionDelegate.h"

#include <atomic>
#include <memory>

class PHAgentClient;

class PHEventThread final : public PHConnectionDelegate, public std::enable_shared_from_this<PHEventThread> {
    struct Token {};

public:
    /// Makes the thread the delegate of \p handler; does not start it.
    static std::shared_ptr<PHEventThread> create(const std::shared_ptr<PHClientProtocolHandler>& handler,
                                                 std::weak_ptr<PHAgentClient> client);

    explicit PHEventThread(Token) {}
    ~PHEventThread() override = default;

    PHEventThread(const PHEventThread&) = delete;
    PHEventThread& operator=(const PHEventThread&) = delete;
    PHEventThread(PHEventThread&&) = delete;
    PHEventThread& operator=(PHEventThread&&) = delete;

    /// Runs main() on a thread of its own.
    void start();
    /// The body: reads until the connection is cleared (by stop or by the end
    /// of the stream), then lets go of the connection and the client.
    void main();
    /// Clears the connection's delegate, the connection and the client, so that
    /// nothing more is delivered, not even messages already posted. Any thread;
    /// does not wait for the body, which ends when its pending read returns.
    void stop();

    void connctionFailedWithError(PHProtocolHandler& handler, const ErrorRef& error) override;
    void connectionClosed(PHProtocolHandler& handler) override;

    std::shared_ptr<PHAgentClient> client() const { return m_client.load().lock(); }
    std::shared_ptr<PHClientProtocolHandler> con() const { return m_con.load().lock(); }
    /// True from start() until the body has returned.
    bool isExecuting() const { return m_state.load() == State::Executing; }
    bool isFinished() const { return m_state.load() == State::Finished; }

private:
    enum class State { Created, Executing, Finished };

    /// Takes \p handler out of con; false when it was not the one in con, or
    /// another thread took it first (so each end is reported once).
    bool takeConnection(PHProtocolHandler& handler);
    void releaseDelegateOf(PHProtocolHandler& handler);
    void clearReferences();
    /// Reports the end of the stream once, if \p handler is the connection read.
    void streamEnded(PHProtocolHandler& handler, const ErrorRef& error, bool closed);

    AtomicRef<std::weak_ptr<PHAgentClient>> m_client;
    AtomicRef<std::weak_ptr<PHClientProtocolHandler>> m_con;
    std::atomic<bool> m_stopped{false};
    std::atomic<State> m_state{State::Created};
};
