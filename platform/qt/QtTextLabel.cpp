#include "platform/qt/QtTextLabel.h"

#include "platform/qt/MainThread.h"

namespace platform::qt {

void QtTextLabel::setText(const std::string& text) {
    runOnMainThread([label = m_label, value = QString::fromStdString(text)] {
        if (label)
            label->setText(value);
    });
}

} // namespace platform::qt
