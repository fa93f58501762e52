#include "platform/ProcessInfo.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using platform::OperatingSystemVersion;
using platform::ProcessInfo;
using testsupport::TemporaryFolder;

TEST(ProcessInfoVersion, ParsesVersionIdComponentWise) {
    const std::pair<const char*, OperatingSystemVersion> cases[] = {
        {"\"12\"", {12, 0, 0}},  {"10.9", {10, 9, 0}},   {"10.12.1", {10, 12, 1}},
        {"'22.04'", {22, 4, 0}}, {"", {0, 0, 0}},        {"abc", {0, 0, 0}},
        {"3.x.1", {3, 0, 0}},    {"1.2.3.4", {1, 2, 3}}, {"99999999999", {1000000, 0, 0}}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ProcessInfo::parseVersion(text), expected) << text;
}

TEST(ProcessInfoVersion, ReadsOsReleaseAndFallsBackToZero) {
    TemporaryFolder folder;
    const std::string file = folder.write("os-release", "NAME=\"Debian\"\nVERSION_ID=\"10.9\"\nID=debian\n");
    EXPECT_EQ(ProcessInfo::readOsRelease(file), (OperatingSystemVersion{10, 9, 0}));
    EXPECT_EQ(ProcessInfo::readOsRelease(folder.path() + "/missing"), (OperatingSystemVersion{0, 0, 0}));
    const std::string noVersion = folder.write("rolling", "NAME=Arch\n");
    EXPECT_EQ(ProcessInfo::readOsRelease(noVersion), (OperatingSystemVersion{0, 0, 0}));
}

TEST(ProcessInfoProcesses, StartTimeTellsAProcessFromALaterOneWithTheSamePid) {
    const auto own = ProcessInfo::processStartTime(getpid());
    ASSERT_TRUE(own);
    EXPECT_EQ(ProcessInfo::processStartTime(getpid()), own) << "stable for one process";
    EXPECT_LE(ProcessInfo::processStartTime(1).value_or(0), *own) << "init started first";
    EXPECT_EQ(ProcessInfo::processRealUserId(getpid()), getuid());
    for (pid_t missing : {0, -1, 4194305}) {
        EXPECT_FALSE(ProcessInfo::processStartTime(missing)) << missing;
        EXPECT_FALSE(ProcessInfo::processRealUserId(missing)) << missing;
    }
    // An ended child that nobody collected yet has no start time any more.
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
    EXPECT_FALSE(ProcessInfo::processStartTime(child));
    waitpid(child, nullptr, 0);
}
