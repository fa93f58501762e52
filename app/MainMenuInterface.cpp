#include "app/MainMenuInterface.h"

#include "ui_MainMenu.h"

#include <QMessageBox>

MainMenuInterface::MainMenuInterface(platform::qt::QtApplication& application, const platform::Bundle& bundle,
                                     const platform::UserDefaults& defaults)
    : m_window(std::make_unique<QMainWindow>()), m_widgets(std::make_unique<Ui::MainMenu>()) {
    m_widgets->setupUi(m_window.get());
    application.setMainMenuBar(m_widgets->mainMenu);

    m_windowControl = std::make_unique<platform::qt::QtWindow>(m_window.get());
    m_progressIndicator = std::make_unique<platform::qt::QtProgressBar>(m_widgets->progressIndicator);
    m_progressInfolabel = std::make_unique<platform::qt::QtTextLabel>(m_widgets->progressInfolabel);
    m_packageTitle = std::make_unique<platform::qt::QtTextLabel>(m_widgets->packageTitle);
    m_packageInfo = std::make_unique<platform::qt::QtTextLabel>(m_widgets->packageInfo);
    m_installButton = std::make_unique<platform::qt::QtButton>(m_widgets->installButton);
    m_uninstallButton = std::make_unique<platform::qt::QtButton>(m_widgets->uninstallButton);
    m_cancelButton = std::make_unique<platform::qt::QtButton>(m_widgets->cancelButton);
    m_removeBackupsButton = std::make_unique<platform::qt::QtButton>(m_widgets->removeBackupsButton);

    m_controller = std::make_shared<AppDelegate>(application, bundle, defaults);
    m_controller->setWindow(m_windowControl.get());
    m_controller->setProgressIndicator(m_progressIndicator.get());
    m_controller->setProgressInfolabel(m_progressInfolabel.get());
    m_controller->setPackageTitle(m_packageTitle.get());
    m_controller->setPackageInfo(m_packageInfo.get());
    m_controller->setInstallButton(m_installButton.get());
    m_controller->setUninstallButton(m_uninstallButton.get());
    m_controller->setCancelButton(m_cancelButton.get());
    m_controller->setRemoveBackupsButton(m_removeBackupsButton.get());

    AppDelegate* controller = m_controller.get();
    QObject::connect(m_widgets->installButton, &QPushButton::clicked,
                     [controller] { controller->installButtonClicked(); });
    QObject::connect(m_widgets->uninstallButton, &QPushButton::clicked,
                     [controller] { controller->uninstallButtonClicked(); });
    QObject::connect(m_widgets->cancelButton, &QPushButton::clicked,
                     [controller] { controller->cancelButtonClicked(); });
    connectMenuActions(application);
}

MainMenuInterface::~MainMenuInterface() = default;

void MainMenuInterface::connectMenuActions(platform::qt::QtApplication& application) {
    QMainWindow* window = m_window.get();
    Ui::MainMenu* widgets = m_widgets.get();
    auto showAbout = [window, widgets] {
        QMessageBox::about(window, widgets->aboutAction->text(),
                           widgets->packageTitle->text() + QStringLiteral("\n\n") +
                               widgets->packageInfo->text());
    };
    QObject::connect(widgets->aboutAction, &QAction::triggered, showAbout);
    QObject::connect(widgets->helpAction, &QAction::triggered, showAbout);
    QObject::connect(widgets->hideAction, &QAction::triggered, [window] { window->showMinimized(); });
    QObject::connect(widgets->quitAction, &QAction::triggered,
                     [&application] { application.terminateDeferred(); });
}
