// Helpers of the Qt tests: a built bundle as the main bundle with its real
// translations, the user defaults of a command line, and the application loop
// run until something happens.
#pragma once

#include "TestSupport.h"
#include "platform/Bundle.h"
#include "platform/UserDefaults.h"
#include "platform/qt/QtStringTable.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using testsupport::count;
using testsupport::readFile;

const std::string kBuildDir = QVT_BUILD_DIR;
/// What runLoopUntil() answers when its condition came true.
constexpr int kDone = 42;

/// The bundle at \p path as the main bundle, with its translations for \p locale.
inline const platform::Bundle& useBundle(const std::string& path, const char* locale = "en_US") {
    platform::Bundle bundle(path + "/Contents/MacOS/QvtRSInstaller");
    auto table = std::make_shared<platform::qt::QtStringTable>(
        QString::fromStdString(bundle.resourcesPath() + "/translations"), QStringLiteral("QvtRSInstaller"),
        QLocale(QString::fromLatin1(locale)));
    EXPECT_TRUE(table->loaded()) << "no translations in " << bundle.resourcesPath();
    bundle.setStringTable(table);
    platform::Bundle::setMain(bundle);
    return platform::Bundle::main();
}

/// The user defaults of the program started with \p args.
inline std::unique_ptr<platform::UserDefaults> defaultsFor(std::vector<const char*> args) {
    args.insert(args.begin(), "QvtRSInstaller");
    return std::make_unique<platform::UserDefaults>(static_cast<int>(args.size()), args.data(), "");
}

/// Runs the application loop until \p done holds (then answers kDone), a
/// termination request ends it (its exit status), or \p seconds pass (99).
inline int runLoopUntil(const std::function<bool()>& done, int seconds = 60) {
    QTimer poll, deadline;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done())
            QCoreApplication::exit(kDone);
    });
    QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    poll.start(20);
    deadline.start(seconds * 1000);
    return QApplication::exec();
}

/// Whether \p text contains \p part; either way the text is shown should the
/// expectation fail.
inline ::testing::AssertionResult includes(const std::string& text, const std::string& part) {
    auto result =
        text.find(part) != std::string::npos ? ::testing::AssertionSuccess() : ::testing::AssertionFailure();
    return result << "\"" << part << "\" in:\n" << text;
}
