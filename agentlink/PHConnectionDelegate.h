// Receives the failure reports of a protocol handler. Both operations run on the
// thread that noticed the failure, after the handler has closed its connection.
#pragma once

#include "agentlink/Error.h"

class PHProtocolHandler;

class PHConnectionDelegate {
public:
    PHConnectionDelegate() = default;
    PHConnectionDelegate(const PHConnectionDelegate&) = delete;
    PHConnectionDelegate& operator=(const PHConnectionDelegate&) = delete;
    virtual ~PHConnectionDelegate() = default;

    /// Any failure other than the peer's close; \p error carries a domain
    /// ("IO" or "PH"), a code and a "reason".
    virtual void connctionFailedWithError(PHProtocolHandler& handler, const ErrorRef& error) = 0;
    /// The peer closed the stream.
    virtual void connectionClosed(PHProtocolHandler& handler) = 0;
};
