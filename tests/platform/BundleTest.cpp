#include "platform/Bundle.h"

#include "MapStringTable.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <map>

using platform::Bundle;
using testsupport::TemporaryFolder;

TEST(BundlePath, IsTwoLevelsAboveContentsMacOSOtherwiseTheExecutablesFolder) {
    struct Case {
        const char* executable;
        const char* bundle;
    };
    const Case cases[] = {
        {"/opt/My Apps/QvtRSInstaller.app/Contents/MacOS/QvtRSInstaller", "/opt/My Apps/QvtRSInstaller.app"},
        {"/build/app/QvtRSInstaller", "/build/app"},
        {"/x/Contents/Tools/QvtRSInstaller", "/x/Contents/Tools"},
        {"/x/MacOS/QvtRSInstaller", "/x/MacOS"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Bundle(c.executable).path(), c.bundle) << c.executable;
}

TEST(BundleInformation, ReadsInfoPlistAfreshOnEveryCall) {
    TemporaryFolder folder;
    const std::string plist = "Q.app/Contents/Info.plist";
    folder.write(plist, "<plist><dict><key>CFBundleVersion</key><string>7</string></dict></plist>");
    Bundle bundle(folder.path() + "/Q.app/Contents/MacOS/Q");
    EXPECT_EQ(bundle.infoPlistPath(), folder.path() + "/" + plist);
    EXPECT_EQ(bundle.infoValue("CFBundleVersion"), "7");
    EXPECT_FALSE(bundle.infoValue("CFBundleShortVersionString"));
    folder.write(plist, "<plist><dict><key>CFBundleVersion</key><string>8</string></dict></plist>");
    EXPECT_EQ(bundle.infoValue("CFBundleVersion"), "8");
    folder.write(plist, "not a plist");
    EXPECT_FALSE(bundle.infoValue("CFBundleVersion"));
}

TEST(BundleLocalization, MissingKeysYieldTheDefaultOrTheKeyItself) {
    Bundle bundle("/a/b");
    EXPECT_EQ(bundle.localizedString("Install"), "Install");
    bundle.setStringTable(std::make_shared<testsupport::MapStringTable>(
        std::map<std::string, std::string>{{"Install", "Installieren"}}));
    EXPECT_EQ(bundle.localizedString("Install"), "Installieren");
    EXPECT_EQ(bundle.localizedString("Cancel", ""), "Cancel");
    EXPECT_EQ(bundle.localizedString("Cancel", "Abort"), "Abort");
}

TEST(BundleMain, IsTheRunningExecutablesBundleUntilReplaced) {
    EXPECT_EQ(Bundle::main().executablePath(), platform::currentExecutablePath());
    Bundle::setMain(Bundle("/elsewhere/Z.app/Contents/MacOS/Z"));
    EXPECT_EQ(Bundle::main().path(), "/elsewhere/Z.app");
}
