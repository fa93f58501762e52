#include "agentlink/PHProtocolHandler.h"

#include "agentlink/AgentCodec.h"
#include "agentlink/RejectedInputLog.h"
#include "platform/LogText.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string formatText(const char* format, std::string_view text, int code) {
    OCTextSink sink;
    OCFormat(sink, format, text, code);
    return std::string(sink.text(), sink.size());
}

std::string formatSize(uint32_t size) {
    OCTextSink sink;
    OCFormat(sink, "Invalid message size: %d", size);
    return std::string(sink.text(), sink.size());
}

} // namespace

namespace {

std::shared_ptr<const platform::FileDescriptor> own(platform::FileDescriptor fd) {
    return fd.get() >= 0 ? std::make_shared<const platform::FileDescriptor>(std::move(fd)) : nullptr;
}

} // namespace

PHProtocolHandler::PHProtocolHandler(int fd, bool trace)
    : m_traceOn(trace), m_descriptor(own(platform::FileDescriptor(fd))) {}

PHProtocolHandler::~PHProtocolHandler() {
    closeConnection();
}

void PHProtocolHandler::setConnection(int fd) {
    auto current = descriptor();
    if (current && current->get() == fd)
        return;
    m_descriptor.store(own(platform::FileDescriptor(fd)));
}

void PHProtocolHandler::setConnection(platform::FileDescriptor fd) {
    m_descriptor.store(own(std::move(fd)));
}

int PHProtocolHandler::conFd() const {
    auto current = descriptor();
    return current ? current->get() : -1;
}

void PHProtocolHandler::closeConnection() {
    // Only the thread that takes the descriptor out shuts it down. shutdown(2)
    // ends a read(2) that another thread is blocked in (it returns end of
    // stream) and tells the peer at once; close(2) alone would do neither
    // reliably while a reader still uses the descriptor. The number is closed
    // when the last user drops its reference.
    if (auto closing = m_descriptor.exchange(nullptr))
        ::shutdown(closing->get(), SHUT_RDWR);
}

bool PHProtocolHandler::sendMessage(const AgentMessage& message) {
    if (!isConnected()) {
        reportIOError("Can't send message, not connected", PHErrorNotConnected);
        return false;
    }
    const std::string frame = serializeFrame(message);
    const std::string_view body = std::string_view(frame).substr(kFrameHeaderSize);
    if (body.size() > kMaxFrameBodySize) {
        // The peer rejects such a frame and drops the connection; refuse it here
        // instead, before anything is written, and say why.
        reportIOError(formatSize(static_cast<uint32_t>(body.size())), PHErrorInvalidMessage);
        return false;
    }
    if (traceOn())
        OCNSLog("Sending Message: %s", body);

    int code = 0;
    if (auto current = descriptor()) {
        // Frames of concurrent senders must not interleave on the stream.
        std::lock_guard lock(m_sendLock);
        size_t done = 0;
        while (done < frame.size()) {
            // MSG_NOSIGNAL: a vanished peer gives EPIPE, never SIGPIPE.
            const ssize_t n = ::send(current->get(), frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n == 0) {
                code = EPIPE;
                break;
            } else if (errno != EINTR) {
                code = errno;
                break;
            }
        }
    } else {
        code = EBADF; // closed by another thread since the check above
    }
    if (code != 0) {
        OCTextSink text;
        OCFormat(text, "Failed to send message: %@", body);
        reportIOError(std::string_view(text.text(), text.size()), code);
        return false;
    }
    return true;
}

std::optional<AgentMessage> PHProtocolHandler::readMessage() {
    // The reader keeps its own reference to the descriptor for the whole frame.
    const auto current = descriptor();
    if (!current) {
        reportIOError("Can't read message, not connected", PHErrorNotConnected);
        return std::nullopt;
    }
    char header[kFrameHeaderSize];
    int code = PHRead(current->get(), header, sizeof header);
    if (code != 0) {
        if (RejectedInputLog::enabled())
            OCNSLog("PHProtocolhandler Read failed: %d", code);
        reportIOError("Failed to read message header", code);
        return std::nullopt;
    }
    const FrameHeader frame = readFrameHeader(std::string_view(header, sizeof header));
    if (!frame.isValid()) {
        reportIOError(formatSize(frame.bodyLength), PHErrorInvalidMessage);
        return std::nullopt;
    }
    char body[kMaxFrameBodySize];
    code = PHRead(current->get(), body, frame.bodyLength);
    if (code != 0) {
        reportIOError("Failed to read message body", code);
        return std::nullopt;
    }
    const std::string_view text(body, frame.bodyLength);
    const bool isText = isValidUtf8(text);
    if (traceOn()) {
        if (isText)
            OCNSLog("Received Message: %@", platform::LogText::escaped(removeWhiteSpace(text)));
        else
            OCNSLog("Received Message: %@", nullptr);
    }
    // A body that fails to parse has been reported and the connection closed;
    // the read ends here with that one report.
    return parseMessage(isText ? std::optional<std::string_view>(text) : std::nullopt);
}

std::optional<AgentMessage> PHProtocolHandler::parseMessage(std::optional<std::string_view> text) {
    // Bytes that are not UTF-8 decode to no text, and no text holds no pair:
    // an empty message, which the reader ignores like any other without a
    // known key. The connection stays open.
    if (!text)
        return AgentMessage();
    std::optional<AgentMessage> message = deserialize(*text);
    if (!message) {
        // The text is the peer's: its control characters are escaped, so it
        // cannot pass for lines of its own.
        if (RejectedInputLog::enabled())
            OCNSLog("Failed to parse message: %@", platform::LogText::escaped(*text));
        reportError("Failed to deserialize message", PHErrorInvalidMessage);
    }
    return message;
}

void PHProtocolHandler::reportIOError(std::string_view text, int code) {
    closeConnection();
    if (code == EPIPE) {
        if (auto target = delegate())
            target->connectionClosed(*this);
        return;
    }
    deliverFailure(Error::withReason("IO", code, formatText("%@, error: %d", text, code)));
}

void PHProtocolHandler::reportError(std::string_view text, int code) {
    closeConnection();
    deliverFailure(Error::withReason("PH", code, std::string(text)));
}

void PHProtocolHandler::deliverFailure(const ErrorRef& error) {
    if (auto target = delegate())
        target->connctionFailedWithError(*this, error);
}

PHException PHProtocolHandler::createIOException(std::string_view text, int code) {
    return PHException("IOException", formatText("%@, error: %d", text, code));
}

int PHRead(int fd, void* buffer, size_t length) {
    if (fd < 0)
        return EBADF;
    if (!buffer)
        return EINVAL;
    auto* bytes = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::read(fd, bytes + done, length - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0)
            return EPIPE;
        else if (errno != EINTR)
            return errno;
    }
    return 0;
}

int PHSetNonBlocking(int fd, bool nonBlocking) {
    if (fd < 0)
        return EBADF;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1 && errno != 0) {
        const int error = errno;
        OCNSLog("Failed to set blocking mode: %d for fd: %d, error: %d", nonBlocking ? 0 : 1, fd, error);
        return error;
    }
    if (((flags & O_NONBLOCK) != 0) == nonBlocking)
        return 0;
    if (::fcntl(fd, F_SETFL, flags ^ O_NONBLOCK) != 0) {
        const int error = errno;
        OCNSLog("Failed to set blocking mode: %d for fd: %d, error: %d", nonBlocking ? 0 : 1, fd, error);
        return error;
    }
    return 0;
}
