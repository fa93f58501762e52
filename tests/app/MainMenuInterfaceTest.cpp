// The real interface description and the Qt user-interface operations, on
// Qt's offscreen platform. Screenshots of the window land in
// <build>/screenshots so anyone can look at them.
#include "app/MainMenuInterface.h"

#include "QtTestSupport.h"
#include "agentlink/FOCVersion.h"
#include "platform/qt/QtMainPoster.h"
#include "ui_MainMenu.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTest>

#include <numeric>
#include <thread>
#include <unistd.h>

namespace {

/// The interface of the built bundle \p name started with \p args, prepared
/// for launching (applicationWillFinishLaunching).
struct Prepared {
    Prepared(const std::string& name, std::vector<const char*> args, const char* locale = "en_US")
        : defaults(defaultsFor(std::move(args))),
          ui(app, useBundle(kBuildDir + "/" + name, locale), *defaults) {
        ui.applicationWillFinishLaunching();
    }

    /// Launches and shows the window, and saves a screenshot as \p name.
    void show(const QString& name) {
        ui.applicationDidFinishLaunching();
        QApplication::processEvents();
        QDir().mkpath(QString::fromStdString(kBuildDir + "/screenshots"));
        const QString path = QString::fromStdString(kBuildDir + "/screenshots/") + name;
        EXPECT_TRUE(ui.window().grab().save(path)) << path.toStdString();
    }

    std::unique_ptr<platform::UserDefaults> defaults;
    platform::qt::QtApplication app;
    MainMenuInterface ui;
    const Ui::MainMenu& w = ui.widgets();
};

} // namespace

TEST(InterfaceDescription, InstallerWindowShowsTheInstallerTextsOnlyAfterLaunching) {
    Prepared p("QvtRSInstaller.app", {});
    const Ui::MainMenu& w = p.w;
    EXPECT_FALSE(p.ui.window().isVisible()) << "loading and preparing must not show the window";
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

    p.show("installer-window.png");
    EXPECT_TRUE(p.ui.window().isVisible());
    EXPECT_TRUE(p.ui.window().windowFlags() & Qt::WindowStaysOnTopHint);
}

// Which controls each mode shows: the controller tests.
TEST(InterfaceDescription, UninstallOptionPreparesTheUninstallerControls) {
    Prepared p("QvtRSInstaller.app", {"-uninstall", "NO"});
    const Ui::MainMenu& w = p.w;
    EXPECT_EQ(w.uninstallButton->text(), "Uninstall");
    EXPECT_EQ(w.removeBackupsButton->text(), "Also delete the backups of files the service replaced");
    EXPECT_EQ(w.packageTitle->text(), "Uninstall Quorvantis Remote Support");
    EXPECT_EQ(w.applicationMenu->title(), "Quorvantis Remote Uninstaller");
    p.show("uninstaller-window.png");
}

TEST(InterfaceDescription, UninstallerBundleSpeaksGermanForAGermanUser) {
    Prepared p("QvtRSUninstaller.app", {}, "de_DE");
    EXPECT_EQ(p.w.uninstallButton->text(), "Deinstallieren");
    EXPECT_EQ(p.w.cancelButton->text(), "Abbrechen");
    EXPECT_EQ(p.w.helpMenu->title(), "Hilfe");
    EXPECT_EQ(p.w.hideAction->text(), "Quorvantis Remote Deinstallationsprogramm ausblenden");
}

TEST(InterfaceDescription, CancelButtonEndsTheApplicationLoop) {
    Prepared p("QvtRSInstaller.app", {});
    p.ui.applicationDidFinishLaunching();
    QTimer::singleShot(0, [&] { QTest::mouseClick(p.w.cancelButton, Qt::LeftButton); });
    EXPECT_EQ(runLoopUntil([] { return false; }, 10), 0) << "the loop ran until the time limit";
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
    std::vector<int> expected(50);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
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
