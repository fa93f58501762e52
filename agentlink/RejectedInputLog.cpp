#include "agentlink/RejectedInputLog.h"

namespace {

thread_local int t_muted = 0;

} // namespace

bool RejectedInputLog::enabled() {
    return t_muted == 0;
}

RejectedInputLog::Muted::Muted(bool mute) : m_mute(mute) {
    if (m_mute)
        ++t_muted;
}

RejectedInputLog::Muted::~Muted() {
    if (m_mute)
        --t_muted;
}
