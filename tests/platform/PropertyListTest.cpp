#include "platform/PropertyList.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using platform::PropertyList;
using testsupport::TemporaryFolder;

namespace {
const char* kInfoPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleShortVersionString</key><string>3.2.1</string>
  <key>Count</key><integer>-12</integer>
  <key>Ratio</key><real>0.25</real>
  <key>Enabled</key><true/>
  <key>Disabled</key><false/>
  <key>ProgramArguments</key><array><string>/usr/local/libexec/agent</string><string>-x</string></array>
  <key>Mixed</key><array><string>a</string><integer>1</integer></array>
  <key>Nested</key><dict><key>a</key><string>b</string></dict>
  <key>Umlaut</key><string>Schließen</string>
</dict>
</plist>)";
} // namespace

TEST(PropertyListReading, ReadsTextsNumbersBooleansAndTextArrays) {
    auto list = PropertyList::fromBytes(kInfoPlist);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->string("CFBundleShortVersionString"), "3.2.1");
    EXPECT_EQ(list->string("Umlaut"), "Schließen");
    EXPECT_EQ(list->text("Count"), "-12");
    EXPECT_EQ(list->text("Ratio"), "0.25");
    EXPECT_EQ(list->text("Enabled"), "1");
    EXPECT_EQ(list->text("Disabled"), "0");
    EXPECT_EQ(list->stringArray("ProgramArguments"),
              (std::vector<std::string>{"/usr/local/libexec/agent", "-x"}));
    // A number is not a text, and what cannot be represented is skipped.
    EXPECT_FALSE(list->string("Count"));
    EXPECT_FALSE(list->stringArray("Mixed"));
    EXPECT_FALSE(list->text("Nested"));
    EXPECT_FALSE(list->text("Missing"));
}

TEST(PropertyListReading, RejectsWhatIsNotADictionary) {
    for (const char* bytes : {"", "garbage", "<plist><array><string>x</string></array></plist>",
                              "<?xml version=\"1.0\"?><plist><dict><key>a</key>", "bplist00\x01\x02"}) {
        EXPECT_FALSE(PropertyList::fromBytes(bytes)) << bytes;
    }
    EXPECT_FALSE(PropertyList::fromFile("/nonexistent/Info.plist"));
}

TEST(PropertyListWriting, WrittenFileReadsBackTheSameValues) {
    TemporaryFolder folder;
    PropertyList list;
    list.set("Label", std::string("com.quorvantis.remote.RInstallerAgent"));
    list.set("ProgramArguments", std::vector<std::string>{"/usr/local/libexec/x", "a <&> \"b\" Schließen"});
    const std::string path = folder.path() + "/job.plist";
    const auto written = list.writeFile(path);
    ASSERT_TRUE(written) << written.failure().description;
    auto back = PropertyList::fromFile(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->values(), list.values());
    EXPECT_FALSE(list.writeFile(folder.path() + "/missing-folder/job.plist"));
}
