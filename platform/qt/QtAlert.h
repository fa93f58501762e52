// A QMessageBox behind the controller's alert operations.
#pragma once

#include "platform/ui/Alert.h"

#include <QMessageBox>
#include <QPushButton>
#include <vector>

namespace platform::qt {

class QtAlert final : public ui::Alert {
public:
    QtAlert();

    void addButton(const std::string& title) override;
    void setMessageText(const std::string& text) override;
    void setInformativeText(const std::string& text) override;
    void setInformationalStyle() override;
    int runModal() override;

    /// The message box, so tests can find and press its buttons.
    QMessageBox& messageBox() { return m_box; }

private:
    QMessageBox m_box;
    std::vector<QPushButton*> m_buttons;
};

} // namespace platform::qt
