// One command at a time across all connections of the agent. A command that
// arrives while another one runs is refused at once (the session answers with
// the Busy status), never queued: a waiting client would see no progress for
// as long as the other command takes, and the package engine refuses a second
// operation with Busy as well, also one started by another process.
//
// Stopping the agent closes the gate: later commands are refused, and the
// stop waits for the running one to end, so a stop request never cuts an
// installation short halfway.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>

class CommandGate {
public:
    /// Holds the gate while it lives; destroying it lets the next command in.
    /// Move-only.
    class Pass {
    public:
        Pass(Pass&& other) noexcept : m_gate(other.m_gate) { other.m_gate = nullptr; }
        Pass& operator=(Pass&&) = delete;
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        ~Pass();

    private:
        friend class CommandGate;
        explicit Pass(CommandGate* gate) : m_gate(gate) {}

        CommandGate* m_gate;
    };

    CommandGate() = default;
    CommandGate(const CommandGate&) = delete;
    CommandGate& operator=(const CommandGate&) = delete;
    CommandGate(CommandGate&&) = delete;
    CommandGate& operator=(CommandGate&&) = delete;
    ~CommandGate() = default;

    /// The pass when no command runs and the gate is open; nothing otherwise.
    std::optional<Pass> tryEnter();
    /// True while a pass is held.
    bool isRunning() const;
    /// True once close() or refuseFurther() was called.
    bool isClosed() const;
    /// Refuses every later command without waiting (for the command that ends
    /// the agent itself while it holds a pass).
    void refuseFurther();
    /// Refuses every later command and waits until the running one has ended.
    void close();

private:
    void leave();

    mutable std::mutex m_lock;
    std::condition_variable m_idle;
    bool m_running = false;
    bool m_closed = false;
};
