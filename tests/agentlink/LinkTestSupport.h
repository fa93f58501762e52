// What the agent-link tests share: socket pairs, recorders of delegate reports
// and agent events, and waiting for a condition.
#pragma once

#include "DelegateRecorder.h"
#include "EventRecorder.h"
#include "SocketPair.h"

#include <chrono>
#include <thread>

/// Waits up to \p timeout for \p done, polling.
template <class Predicate>
bool waitFor(Predicate done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
