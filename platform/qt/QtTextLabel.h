// A Qt label behind the controller's text-label operations.
#pragma once

#include "platform/ui/TextLabel.h"

#include <QLabel>
#include <QPointer>

namespace platform::qt {

class QtTextLabel final : public ui::TextLabel {
public:
    explicit QtTextLabel(QLabel* label) : m_label(label) {}

    void setText(const std::string& text) override;

private:
    QPointer<QLabel> m_label;
};

} // namespace platform::qt
