#include "agentlink/PHException.h"

PHException::PHException(std::string name, std::string reason)
    : m_name(std::move(name)), m_reason(std::move(reason)), m_what(m_name + ": " + m_reason) {}
