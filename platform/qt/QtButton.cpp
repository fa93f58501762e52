#include "platform/qt/QtButton.h"

#include "platform/qt/MainThread.h"

namespace platform::qt {

void QtButton::setHidden(bool hidden) {
    runOnMainThread([button = m_button, hidden] {
        if (button)
            button->setHidden(hidden);
    });
}

void QtButton::setTitle(const std::string& title) {
    runOnMainThread([button = m_button, text = QString::fromStdString(title)] {
        if (button)
            button->setText(text);
    });
}

void QtButton::setEnabled(bool enabled) {
    runOnMainThread([button = m_button, enabled] {
        if (button)
            button->setEnabled(enabled);
    });
}

int QtButton::state() const {
    int result = 0;
    runOnMainThreadAndWait(
        [&] { result = m_button && m_button->isCheckable() && m_button->isChecked() ? 1 : 0; });
    return result;
}

} // namespace platform::qt
