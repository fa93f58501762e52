// The signed manifest of installer packages: its reader, and the vendor's signing tool as shipped.
#include "agent/package/PackageManifest.h"

#include "PackageBuilder.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const std::string kDigest(64, 'a');

TEST(PackageManifestTest, RefusesEveryLineThatIsNotExactlyAnEntryOfAPackage) {
    const std::string head = "qvt-package-manifest 1\nfolder 755 Payload\n";
    const std::pair<const char*, std::string> cases[] = {
        {"an empty text", ""},
        {"another header", "qvt-package-manifest 2\n"},
        {"no final line feed", head + "folder 755 Scripts"},
        {"an unknown kind", head + "device 644 Payload/x\n"},
        {"a mode beyond 07777", head + "folder 17777 Payload/x\n"},
        {"a mode that is not octal", head + "folder 789 Payload/x\n"},
        {"a size that is not a number", head + "file 644 12x " + kDigest + " Payload/x\n"},
        {"a short digest", head + "file 644 12 " + kDigest.substr(1) + " Payload/x\n"},
        {"a digest that is not hex", head + "file 644 12 " + std::string(64, 'g') + " Payload/x\n"},
        {"a field too many", head + "folder 755 Payload/x y\n"},
        {"two spaces", head + "folder  755 Payload/x\n"},
        {"a path climbing out", head + "folder 755 Payload/../etc\n"},
        {"an absolute path", head + "folder 755 /Payload/x\n"},
        {"an empty component", head + "folder 755 Payload//x\n"},
        {"a dot component", head + "folder 755 Payload/./x\n"},
        {"a path outside the package's parts", head + "file 644 1 " + kDigest + " Other\n"},
        {"PackageInfo as a folder", "qvt-package-manifest 1\nfolder 755 PackageInfo\n"},
        {"Payload as a file", "qvt-package-manifest 1\nfile 644 1 " + kDigest + " Payload\n"},
        {"a path listed twice", head + "folder 755 Payload\n"},
        {"a parent not listed", head + "folder 755 Payload/a/b\n"},
        {"a parent that is a file", head + "file 644 1 " + kDigest + " Payload/a\nfolder 755 Payload/a/b\n"},
        {"a malformed escape", head + "folder 755 Payload/a%G1\n"},
        {"an escaped NUL", head + "folder 755 Payload/a%00\n"},
        {"an unescaped control character", head + "folder 755 Payload/a\tb\n"},
        {"a link without target", head + "link Payload/a \n"},
    };
    for (const auto& [what, text] : cases)
        EXPECT_FALSE(PackageManifest::parse(text)) << what;
    EXPECT_TRUE(PackageManifest::parse(head + "folder 755 Scripts\n")) << "the valid base of the rows";
}

TEST(PackageManifestTest, NamesWithSpacesPercentsAndLineFeedsSurviveWritingAndReading) {
    testsupport::TemporaryFolder folder;
    PackageBuilder package(folder.path() + "/p", "a.b", "1", "/opt/x");
    package.file("with space/100% sure\nnext", "x").link("odd link", "target with %20 and \t tab");
    const auto written = PackageManifest::ofFolder(package.path());
    ASSERT_TRUE(written) << written.failure().description;
    const auto read = PackageManifest::parse(written->text());
    ASSERT_TRUE(read) << read.failure().description << "\n" << written->text();
    EXPECT_EQ(*read, *written);
    const auto* link = read->find("Payload/odd link");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->linkTarget, "target with %20 and \t tab");
    ASSERT_NE(read->find("Payload/with space/100% sure\nnext"), nullptr);
}

TEST(SigningToolTest, SignsAndChecksPackagesAndFilesAndRefusesWhatChangedOrAnotherKeySigned) {
    testsupport::TemporaryFolder folder;
    const std::string secret = folder.path() + "/secret.key", publicKey = folder.path() + "/public.key";
    const auto tool = [](std::vector<std::string> args) {
        args.insert(args.begin(), QVT_SIGN_TOOL);
        return testsupport::runProcess(args);
    };
    ASSERT_EQ(tool({"keygen", secret, publicKey}).exitStatus, 0);
    EXPECT_EQ(fs::status(secret).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    const auto again = tool({"keygen", secret, publicKey});
    EXPECT_EQ(again.exitStatus, 1) << "a key is never overwritten";
    EXPECT_NE(again.errors.find("exists"), std::string::npos) << again.errors;

    PackageBuilder package(folder.path() + "/package", "a.b", "1", "/opt/x");
    package.file("bin/tool", "#!/bin/sh\n", 0755).script("postinstall", "true");
    ASSERT_EQ(tool({"package", package.path(), secret}).exitStatus, 0);
    EXPECT_EQ(tool({"verify-package", package.path(), publicKey}).exitStatus, 0);
    const std::string file = folder.path() + "/agent";
    std::ofstream(file) << "an executable";
    ASSERT_EQ(tool({"file", file, secret}).exitStatus, 0);
    EXPECT_EQ(tool({"verify-file", file, publicKey}).exitStatus, 0);

    ASSERT_EQ(tool({"keygen", folder.path() + "/other.key", folder.path() + "/other.pub"}).exitStatus, 0);
    EXPECT_EQ(tool({"verify-package", package.path(), folder.path() + "/other.pub"}).exitStatus, 1);
    EXPECT_EQ(tool({"verify-file", file, folder.path() + "/other.pub"}).exitStatus, 1);
    std::ofstream(package.path() + "/Scripts/postinstall", std::ios::app) << "id\n";
    const auto changed = tool({"verify-package", package.path(), publicKey});
    EXPECT_EQ(changed.exitStatus, 1);
    EXPECT_NE(changed.errors.find("differ"), std::string::npos) << changed.errors;
    std::ofstream(file, std::ios::app) << "!";
    EXPECT_EQ(tool({"verify-file", file, publicKey}).exitStatus, 1);

    EXPECT_EQ(tool({"sign"}).exitStatus, 64);
    EXPECT_EQ(tool({"package", package.path(), publicKey}).exitStatus, 1) << "a public key cannot sign";
}

} // namespace
