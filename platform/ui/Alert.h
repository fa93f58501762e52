// A modal alert with up to two buttons.
#pragma once

#include <string>

namespace platform::ui {

class Alert {
public:
    /// What runModal() answers for the first and the second button added.
    enum : int { FirstButtonReturn = 1000, SecondButtonReturn = 1001 };

    Alert() = default;
    Alert(const Alert&) = delete;
    Alert& operator=(const Alert&) = delete;
    virtual ~Alert() = default;

    virtual void addButton(const std::string& title) = 0;
    virtual void setMessageText(const std::string& text) = 0;
    virtual void setInformativeText(const std::string& text) = 0;
    /// The informational style (an information icon).
    virtual void setInformationalStyle() = 0;
    /// Runs the alert modally on the main thread; the pressed button's answer.
    virtual int runModal() = 0;
};

} // namespace platform::ui
