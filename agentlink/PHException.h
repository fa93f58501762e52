// The exception of the agent link: a name ("IOException",
// "PHAgentClientInvalidState") and a reason.
#pragma once

#include <exception>
#include <string>

class PHException : public std::exception {
public:
    PHException(std::string name, std::string reason);

    PHException(const PHException&) = default;
    PHException& operator=(const PHException&) = default;
    PHException(PHException&&) noexcept = default;
    PHException& operator=(PHException&&) noexcept = default;
    ~PHException() override = default;

    const std::string& name() const { return m_name; }
    const std::string& reason() const { return m_reason; }
    /// "<name>: <reason>"
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    std::string m_name;
    std::string m_reason;
    std::string m_what;
};
