// Moves framed agent messages over one connected stream socket and turns every
// failure into one report to a connection delegate. It never reconnects: a
// failure closes the descriptor first, then reports, and the owner decides.
//
// One thread may block in readMessage while another sends on the same socket.
// The descriptor and the delegate are atomic for that reason.
#pragma once

#include "agentlink/AgentMessage.h"
#include "agentlink/AtomicRef.h"
#include "agentlink/PHConnectionDelegate.h"
#include "agentlink/PHException.h"
#include "platform/FileDescriptor.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

/// Error codes the handler makes itself; all others are errno values.
enum : int {
    PHErrorNotConnected = -102,
    PHErrorInvalidMessage = -101, ///< invalid message size, or a body that does not parse
};

class PHProtocolHandler {
public:
    /// Takes ownership of \p fd (negative: not connected); no check is made.
    PHProtocolHandler(int fd, bool trace);
    /// Closes the connection.
    virtual ~PHProtocolHandler();

    PHProtocolHandler(const PHProtocolHandler&) = delete;
    PHProtocolHandler& operator=(const PHProtocolHandler&) = delete;
    PHProtocolHandler(PHProtocolHandler&&) = delete;
    PHProtocolHandler& operator=(PHProtocolHandler&&) = delete;

    /// Takes ownership of \p fd. A different descriptor held before is closed,
    /// so it cannot leak.
    void setConnection(int fd);
    /// Takes \p fd over; the descriptor held before is closed.
    void setConnection(platform::FileDescriptor fd);
    /// The descriptor, or -1 when not connected.
    int conFd() const;
    bool isConnected() const { return conFd() >= 0; }
    /// Closes the descriptor if there is one; calling it again does nothing and
    /// never closes a descriptor that is not this handler's.
    void closeConnection();

    bool traceOn() const { return m_traceOn.load(); }
    void setTraceOn(bool on) { m_traceOn.store(on); }

    /// The delegate is not owned; a destroyed delegate is simply not called.
    std::shared_ptr<PHConnectionDelegate> delegate() const { return m_delegate.load().lock(); }
    void setDelegate(std::weak_ptr<PHConnectionDelegate> delegate) { m_delegate.store(std::move(delegate)); }

    /// Writes the message as one frame. False after a failure, which has been
    /// reported.
    bool sendMessage(const AgentMessage& message);
    /// Blocks until the next whole frame has arrived and returns its message;
    /// nothing after a failure, which has been reported.
    std::optional<AgentMessage> readMessage();
    /// Parses a received body; a body that is not text (invalid UTF-8) is given
    /// as nothing and reads as an empty message. Reports a failure to parse.
    std::optional<AgentMessage> parseMessage(std::optional<std::string_view> text);

    /// Closes, then reports \p text with ", error: <code>" appended in the
    /// domain "IO"; code 32 (EPIPE) is reported as the peer's close instead.
    void reportIOError(std::string_view text, int code);
    /// Closes, then reports \p text in the domain "PH".
    void reportError(std::string_view text, int code);
    /// "IOException" with the reason "<text>, error: <code>" (not thrown).
    static PHException createIOException(std::string_view text, int code);

private:
    // The handler and its readers and writers share one owned descriptor.
    // Closing the connection takes it out of the handler and shuts the socket
    // down, which wakes a reader blocked in read(2) with end-of-stream; the
    // descriptor itself is closed when the last user lets go. So a thread that
    // is still inside read(2) or write(2) never finds its descriptor number
    // given to a new file.
    using Descriptor = std::shared_ptr<const platform::FileDescriptor>;

    Descriptor descriptor() const { return m_descriptor.load(); }
    void deliverFailure(const ErrorRef& error);

    std::atomic<bool> m_traceOn;
    AtomicRef<Descriptor> m_descriptor;
    AtomicRef<std::weak_ptr<PHConnectionDelegate>> m_delegate;
    std::mutex m_sendLock;
};

/// Reads exactly \p length bytes. 0 on success; 9 for a negative descriptor, 22
/// without a buffer, 32 at end of stream, otherwise the errno of the failed read
/// (EAGAIN when a receive time-out expired). Interrupted reads are resumed.
int PHRead(int fd, void* buffer, size_t length);

/// Switches \p fd to non-blocking (true) or blocking mode. 0 on success, 9 for a
/// negative descriptor, otherwise the errno, logged.
int PHSetNonBlocking(int fd, bool nonBlocking);
