#include "agentlink/PHEventThread.h"

#include "agentlink/PHAgentClient.h"
#include "platform/Dispatch.h"

#include <pthread.h>
#include <thread>

std::shared_ptr<PHEventThread> PHEventThread::create(const std::shared_ptr<PHClientProtocolHandler>& handler,
                                                     std::weak_ptr<PHAgentClient> client) {
    auto thread = std::make_shared<PHEventThread>(Token{});
    thread->m_con.store(handler);
    if (handler)
        handler->setDelegate(thread);
    thread->m_client.store(std::move(client));
    return thread;
}

void PHEventThread::start() {
    m_state.store(State::Executing);
    std::thread([self = shared_from_this()] {
        pthread_setname_np(pthread_self(), "PHEventThread");
        self->main();
        self->m_state.store(State::Finished);
    }).detach();
}

void PHEventThread::main() {
    try {
        for (;;) {
            const std::shared_ptr<PHClientProtocolHandler> connection = con();
            if (!connection)
                break;
            std::optional<AgentMessage> message = connection->readMessage();
            // A failed read has closed the connection and has been reported to
            // its delegate (normally this thread, which ended the stream then);
            // nothing is posted for it, and nothing more can be read. Ending
            // here also covers a thread whose connection was handed to a newer
            // thread: it must not spin on a closed connection.
            if (!message)
                break;
            const std::shared_ptr<PHAgentClient> owner = client();
            if (!owner)
                continue;
            // The handler is taken now, not when the main thread gets to the
            // message: an end of stream reported meanwhile drops the client's
            // handler, and the messages that arrived before it must still reach it.
            std::shared_ptr<PHAgentEventHandler> handler = owner->myEventHandler();
            if (!handler)
                continue;
            platform::dispatchMain(
                [self = shared_from_this(), handler = std::move(handler), message = std::move(message)] {
                    if (!self->m_stopped.load())
                        handler->processAgentEvent(message);
                });
        }
    } catch (...) {
        clearReferences();
        throw;
    }
    clearReferences();
}

void PHEventThread::stop() {
    m_stopped.store(true);
    clearReferences();
}

void PHEventThread::clearReferences() {
    if (auto connection = con())
        releaseDelegateOf(*connection);
    m_con.store({});
    m_client.store({});
}

void PHEventThread::releaseDelegateOf(PHProtocolHandler& handler) {
    // Only this thread's own registration is removed; a thread started later on
    // the same connection keeps its own.
    if (handler.delegate().get() == this)
        handler.setDelegate({});
}

bool PHEventThread::takeConnection(PHProtocolHandler& handler) {
    const std::weak_ptr<PHClientProtocolHandler> current = m_con.load();
    if (current.lock().get() != &handler)
        return false;
    return m_con.compareExchange(current, {});
}

void PHEventThread::streamEnded(PHProtocolHandler& handler, const ErrorRef& error, bool closed) {
    // The client is taken before the connection: once con is empty the body may
    // end and clear the client, and the end must still be reported.
    const std::shared_ptr<PHAgentClient> owner = client();
    if (!takeConnection(handler))
        return;
    if (closed)
        OCNSLog("PrivilegedAgent event connection closed by peer");
    else
        OCNSLog("PH connection failed, reason: %@", error ? error->reason() : std::string());
    releaseDelegateOf(handler);
    if (owner)
        owner->eventThreadTerminatedWithError(*this, error);
}

void PHEventThread::connctionFailedWithError(PHProtocolHandler& handler, const ErrorRef& error) {
    streamEnded(handler, error, false);
}

void PHEventThread::connectionClosed(PHProtocolHandler& handler) {
    streamEnded(handler, nullptr, true);
}
