#include "platform/qt/QtAlert.h"

namespace platform::qt {

QtAlert::QtAlert() {
    m_box.setWindowModality(Qt::ApplicationModal);
}

void QtAlert::addButton(const std::string& title) {
    // Every button accepts; which one was pressed is read from clickedButton().
    QPushButton* button = m_box.addButton(QString::fromStdString(title), QMessageBox::AcceptRole);
    if (m_buttons.empty())
        m_box.setDefaultButton(button);
    m_buttons.push_back(button);
}

void QtAlert::setMessageText(const std::string& text) {
    m_box.setText(QString::fromStdString(text));
}

void QtAlert::setInformativeText(const std::string& text) {
    m_box.setInformativeText(QString::fromStdString(text));
}

void QtAlert::setInformationalStyle() {
    m_box.setIcon(QMessageBox::Information);
}

int QtAlert::runModal() {
    m_box.exec();
    QAbstractButton* clicked = m_box.clickedButton();
    for (size_t i = 0; i < m_buttons.size(); ++i)
        if (m_buttons[i] == clicked)
            return FirstButtonReturn + static_cast<int>(i);
    // Closed without a button (Escape): the answer of no listed button.
    return 0;
}

} // namespace platform::qt
