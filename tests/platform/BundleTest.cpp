#include "platform/Bundle.h"

#include "MapStringTable.h"

#include <gtest/gtest.h>

#include <map>

using platform::Bundle;

TEST(BundlePath, IsTwoLevelsAboveContentsMacOSOtherwiseTheExecutablesFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/My Apps/QvtRSInstaller.app/Contents/MacOS/QvtRSInstaller", "/opt/My Apps/QvtRSInstaller.app"},
        {"/build/app/QvtRSInstaller", "/build/app"},
        {"/x/Contents/Tools/QvtRSInstaller", "/x/Contents/Tools"},
        {"/x/MacOS/QvtRSInstaller", "/x/MacOS"},
    };
    for (const auto& [executable, bundle] : cases)
        EXPECT_EQ(Bundle(executable).path(), bundle) << executable;
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
