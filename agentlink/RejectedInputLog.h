// Whether the agent link logs the input it rejects (a body that does not
// parse, a read that fails) on the calling thread. On by default; a server
// mutes it for a connection whose traffic it has stopped logging, so that a
// client cannot grow the log by sending bad frames over and over.
#pragma once

class RejectedInputLog {
public:
    RejectedInputLog() = delete;

    /// True unless a Muted of this thread is alive.
    static bool enabled();

    /// Mutes this thread's rejection lines while it lives (when \p mute is true).
    class Muted {
    public:
        explicit Muted(bool mute = true);
        ~Muted();
        Muted(const Muted&) = delete;
        Muted& operator=(const Muted&) = delete;

    private:
        bool m_mute;
    };
};
