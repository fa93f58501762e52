#include "agent/CommandGate.h"

CommandGate::Pass::~Pass() {
    if (m_gate)
        m_gate->leave();
}

std::optional<CommandGate::Pass> CommandGate::tryEnter() {
    std::lock_guard lock(m_lock);
    if (m_running || m_closed)
        return std::nullopt;
    m_running = true;
    return Pass(this);
}

bool CommandGate::isRunning() const {
    std::lock_guard lock(m_lock);
    return m_running;
}

bool CommandGate::isClosed() const {
    std::lock_guard lock(m_lock);
    return m_closed;
}

void CommandGate::refuseFurther() {
    std::lock_guard lock(m_lock);
    m_closed = true;
}

void CommandGate::close() {
    std::unique_lock lock(m_lock);
    m_closed = true;
    m_idle.wait(lock, [this] { return !m_running; });
}

void CommandGate::leave() {
    {
        std::lock_guard lock(m_lock);
        m_running = false;
    }
    m_idle.notify_all();
}
