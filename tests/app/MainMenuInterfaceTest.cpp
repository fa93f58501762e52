// The real interface description and the Qt user-interface operations, on
// Qt's offscreen platform. Screenshots of the window land in
// <build>/screenshots so anyone can look at them.
#include "app/MainMenuInterface.h"

#include "agentlink/FOCVersion.h"
#include "platform/qt/QtAlert.h"
#include "platform/qt/QtMainPoster.h"
#include "platform/qt/QtStringTable.h"
#include "ui_MainMenu.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const std::string kBuildDir = QVT_BUILD_DIR;

/// The built bundle \p name as the main bundle, with its translations for \p locale.
const platform::Bundle& useBuiltBundle(const std::string& name, const char* locale = "en_US") {
    platform::Bundle bundle(kBuildDir + "/" + name + "/Contents/MacOS/QvtRSInstaller");
    auto table = std::make_shared<platform::qt::QtStringTable>(
        QString::fromStdString(bundle.resourcesPath() + "/translations"), QStringLiteral("QvtRSInstaller"),
        QLocale(QString::fromLatin1(locale)));
    EXPECT_TRUE(table->loaded()) << "no translations in " << bundle.resourcesPath();
    bundle.setStringTable(table);
    platform::Bundle::setMain(bundle);
    return platform::Bundle::main();
}

platform::UserDefaults defaultsFor(std::vector<const char*> args) {
    args.insert(args.begin(), "QvtRSInstaller");
    return platform::UserDefaults(static_cast<int>(args.size()), args.data(), "");
}

void saveScreenshot(QWidget& window, const QString& name) {
    QDir().mkpath(QString::fromStdString(kBuildDir + "/screenshots"));
    const QString path = QString::fromStdString(kBuildDir + "/screenshots/") + name;
    EXPECT_TRUE(window.grab().save(path)) << path.toStdString();
}

} // namespace

TEST(InterfaceDescription, InstallerWindowShowsTheInstallerTextsOnlyAfterLaunching) {
    const auto& bundle = useBuiltBundle("QvtRSInstaller.app");
    const auto defaults = defaultsFor({});
    platform::qt::QtApplication app;
    MainMenuInterface ui(app, bundle, defaults);
    const Ui::MainMenu& w = ui.widgets();

    ui.applicationWillFinishLaunching();
    EXPECT_FALSE(ui.window().isVisible()) << "loading and preparing must not show the window";
    EXPECT_FALSE(w.installButton->isHidden());
    EXPECT_TRUE(w.uninstallButton->isHidden());
    EXPECT_TRUE(w.removeBackupsButton->isHidden());
    EXPECT_EQ(w.installButton->text(), "Install");
    EXPECT_EQ(w.cancelButton->text(), "Cancel");
    EXPECT_EQ(w.packageTitle->text(), "Install Quorvantis Remote Support");
    EXPECT_TRUE(w.packageInfo->text().contains(QString::fromStdString(FOCVersion::fullVersionInfo())));
    EXPECT_FALSE(w.packageInfo->text().contains("$(1.0.0)"));
    EXPECT_EQ(w.progressInfolabel->text(), "");
    EXPECT_EQ(w.progressIndicator->minimum(), 0);
    EXPECT_EQ(w.progressIndicator->maximum(), 100);
    EXPECT_EQ(w.applicationMenu->title(), "Quorvantis Remote Installer");
    EXPECT_EQ(w.aboutAction->text(), "About Quorvantis Remote Installer");
    EXPECT_EQ(w.quitAction->text(), "Quit Quorvantis Remote Installer");
    EXPECT_EQ(w.helpAction->text(), "Quorvantis Remote Installer Help");
    EXPECT_TRUE(w.installButton->isEnabled() && w.cancelButton->isEnabled());

    ui.applicationDidFinishLaunching();
    QApplication::processEvents();
    EXPECT_TRUE(ui.window().isVisible());
    EXPECT_TRUE(ui.window().windowFlags() & Qt::WindowStaysOnTopHint);
    saveScreenshot(ui.window(), "installer-window.png");
}

TEST(InterfaceDescription, UninstallOptionPreparesTheUninstallerControls) {
    const auto& bundle = useBuiltBundle("QvtRSInstaller.app");
    const auto defaults = defaultsFor({"-uninstall", "NO", "-gui", "YES"});
    platform::qt::QtApplication app;
    MainMenuInterface ui(app, bundle, defaults);
    const Ui::MainMenu& w = ui.widgets();

    ui.applicationWillFinishLaunching();
    EXPECT_TRUE(ui.controller().runWithGUI());
    EXPECT_TRUE(w.installButton->isHidden());
    EXPECT_FALSE(w.uninstallButton->isHidden());
    EXPECT_FALSE(w.removeBackupsButton->isHidden());
    EXPECT_EQ(w.uninstallButton->text(), "Uninstall");
    EXPECT_EQ(w.removeBackupsButton->text(), "Also delete the backups of files the service replaced");
    EXPECT_EQ(w.packageTitle->text(), "Uninstall Quorvantis Remote Support");
    EXPECT_EQ(w.applicationMenu->title(), "Quorvantis Remote Uninstaller");

    ui.applicationDidFinishLaunching();
    QApplication::processEvents();
    saveScreenshot(ui.window(), "uninstaller-window.png");
}

TEST(InterfaceDescription, UninstallerBundleSpeaksGermanForAGermanUser) {
    const auto& bundle = useBuiltBundle("QvtRSUninstaller.app", "de_DE");
    const auto defaults = defaultsFor({});
    platform::qt::QtApplication app;
    MainMenuInterface ui(app, bundle, defaults);
    const Ui::MainMenu& w = ui.widgets();

    ui.applicationWillFinishLaunching();
    EXPECT_FALSE(w.uninstallButton->isHidden());
    EXPECT_EQ(w.uninstallButton->text(), "Deinstallieren");
    EXPECT_EQ(w.cancelButton->text(), "Abbrechen");
    EXPECT_EQ(w.helpMenu->title(), "Hilfe");
    EXPECT_EQ(w.hideAction->text(), "Quorvantis Remote Deinstallationsprogramm ausblenden");
}

TEST(InterfaceDescription, HeadlessRunNeverShowsTheWindow) {
    const auto& bundle = useBuiltBundle("QvtRSInstaller.app");
    const auto defaults = defaultsFor({"-gui", "NO"});
    platform::qt::QtApplication app;
    MainMenuInterface ui(app, bundle, defaults);
    // Launching a headless run starts the update flow, which the end-to-end
    // tests drive; here only the preparation, which must not show the window.
    ui.applicationWillFinishLaunching();
    QApplication::processEvents();
    EXPECT_FALSE(ui.window().isVisible());
    EXPECT_FALSE(ui.controller().runWithGUI());
}

TEST(InterfaceDescription, CancelButtonEndsTheApplicationLoop) {
    const auto& bundle = useBuiltBundle("QvtRSInstaller.app");
    const auto defaults = defaultsFor({});
    platform::qt::QtApplication app;
    MainMenuInterface ui(app, bundle, defaults);
    ui.applicationWillFinishLaunching();
    ui.applicationDidFinishLaunching();

    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    safety.start(10000);
    QTimer::singleShot(0, [&] { QTest::mouseClick(ui.widgets().cancelButton, Qt::LeftButton); });
    EXPECT_EQ(QApplication::exec(), 0) << "the loop ran until the safety timer";
}

TEST(QtApplicationLoop, TerminationPostedFromAnotherThreadEndsTheLoopWithTheExitStatus) {
    platform::qt::QtApplication app;
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    safety.start(10000);
    std::thread worker([&] {
        app.setExitStatus(3);
        app.postTermination();
    });
    EXPECT_EQ(QApplication::exec(), 3);
    worker.join();
}

TEST(QtApplicationLoop, MainQueueTasksRunOnTheLoopInPostingOrder) {
    platform::qt::QtMainPoster poster;
    std::vector<int> order;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            platform::dispatchMain([&order, i] { order.push_back(i); });
        platform::dispatchMain([] { QCoreApplication::exit(0); });
    });
    EXPECT_EQ(QApplication::exec(), 0);
    worker.join();
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(QtControls, CallsFromAnotherThreadAreCarriedOutOnTheMainThread) {
    QLabel label;
    QProgressBar bar;
    bar.setRange(0, 100);
    QPushButton button;
    platform::qt::QtTextLabel labelControl(&label);
    platform::qt::QtProgressBar barControl(&bar);
    platform::qt::QtButton buttonControl(&button);

    std::thread worker([&] {
        labelControl.setText("from a worker");
        barControl.setDoubleValue(42.5);
        buttonControl.setEnabled(false);
    });
    worker.join();
    // Handed over, not applied on the worker thread.
    EXPECT_EQ(label.text(), "");
    QApplication::processEvents();
    EXPECT_EQ(label.text(), "from a worker");
    EXPECT_DOUBLE_EQ(bar.property("doubleValue").toDouble(), 42.5);
    EXPECT_EQ(bar.value(), 43);
    EXPECT_FALSE(button.isEnabled());

    barControl.setDoubleValue(250);
    EXPECT_EQ(bar.value(), 100);
}

TEST(QtControls, AlertAnswersByTheOrderInWhichButtonsWereAdded) {
    for (int pressed : {0, 1}) {
        platform::qt::QtAlert alert;
        alert.addButton("Yes");
        alert.addButton("Later");
        alert.setMessageText("Restart?");
        alert.setInformativeText("Do you want to reboot now?");
        alert.setInformationalStyle();
        QTimer::singleShot(50, [&] {
            auto buttons = alert.messageBox().buttons();
            for (QAbstractButton* b : buttons)
                if (b->text() == (pressed == 0 ? "Yes" : "Later"))
                    b->click();
        });
        EXPECT_EQ(alert.runModal(), 1000 + pressed);
        EXPECT_EQ(alert.messageBox().icon(), QMessageBox::Information);
    }
}

int main(int argc, char** argv) {
    // The controller's flows install privileged jobs as root: never on the
    // real system. Outside the test sandbox the binary runs itself inside it.
    if (!getenv("QVT_SANDBOX")) {
        std::vector<char*> args{const_cast<char*>(QVT_SANDBOX_SCRIPT)};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execv(QVT_SANDBOX_SCRIPT, args.data());
        perror("cannot start the test sandbox");
        return 77;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
