// A Qt push button or check box behind the controller's button operations.
#pragma once

#include "platform/ui/Button.h"

#include <QAbstractButton>
#include <QPointer>

namespace platform::qt {

class QtButton final : public ui::Button {
public:
    explicit QtButton(QAbstractButton* button) : m_button(button) {}

    void setHidden(bool hidden) override;
    void setTitle(const std::string& title) override;
    void setEnabled(bool enabled) override;
    int state() const override;

private:
    QPointer<QAbstractButton> m_button;
};

} // namespace platform::qt
