// A Qt progress bar behind the controller's progress-bar operations.
//
// QProgressBar holds integers; the value is rounded for the bar and kept
// exactly in the widget's property "doubleValue".
#pragma once

#include "platform/ui/ProgressBar.h"

#include <QPointer>
#include <QProgressBar>

namespace platform::qt {

class QtProgressBar final : public ui::ProgressBar {
public:
    explicit QtProgressBar(QProgressBar* bar) : m_bar(bar) {}

    void setDoubleValue(double value) override;

private:
    QPointer<QProgressBar> m_bar;
};

} // namespace platform::qt
