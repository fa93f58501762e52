// The rules both ends of the link must share: how progress becomes "Progress"
// events, and which of two versions is newer.
#include "LinkTestSupport.h"

#include "agent/CommandEvents.h"
#include "agent/CommandRequest.h"
#include "agent/package/CheckPackageStep.h"
#include "agentlink/PHAgentClient.h"
#include "agentlink/ProgressNormaliser.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace {

TEST(ProgressNormaliser, SendsWholeRisingPercentsWithinRangeOnlyWhenSomethingChanged) {
    const double nan = std::nan("");
    // {raw percent, raw info, percent sent (-1: nothing sent)}; the info sent is the raw one here.
    const std::tuple<double, const char*, double> steps[] = {
        {nan, "Preparing", 0},        {-5, "Preparing", -1},
        {10.2, "Copying", 10},        {10.9, "Copying", -1},
        {5, "Copying", -1},           {5, "Copying again", 10},
        {99.99, "Copying again", 99}, {250, "Writing receipt", 100},
        {nan, "Writing receipt", -1}, {50, "Done", 100},
    };
    ProgressNormaliser normaliser;
    for (const auto& [percent, info, sent] : steps) {
        const auto step = normaliser.next(percent, info);
        EXPECT_EQ(step ? step->percent : -1, sent) << percent << " " << info;
        EXPECT_EQ(step ? step->info : info, info) << percent << " " << info;
    }
}

TEST(ProgressNormaliser, TextsAreMadeSafeForTheMessageTextAndTheLongestEventFitsAFrame) {
    const std::tuple<std::string, size_t, std::string> rows[] = {
        {"Copying a,b,c", ProgressNormaliser::kMaxInfoBytes, "Copying a b c"},
        {"say \"hi\"\tnow\n\x7f", ProgressNormaliser::kMaxInfoBytes, "say 'hi' now  "},
        {"bad \xff\xfe byte \xc3", ProgressNormaliser::kMaxInfoBytes, "bad ?? byte ?"},
        {"Kopiere Dateien \xc3\xa4", ProgressNormaliser::kMaxInfoBytes, "Kopiere Dateien \xc3\xa4"},
        {"ab\xc3\xa4", 3, "ab"}, // a cut never splits a character
        {"Copying /" + std::string(2000, 'x'), ProgressNormaliser::kMaxInfoBytes,
         "Copying /" + std::string(ProgressNormaliser::kMaxInfoBytes - 9, 'x')},
    };
    for (const auto& [text, limit, safe] : rows)
        EXPECT_EQ(ProgressNormaliser::safeText(text, limit), safe) << testing::PrintToString(text);

    const auto event =
        CommandEvents::progressEvent(100, std::string(ProgressNormaliser::kMaxInfoBytes * 2, ','));
    EXPECT_LE(serialize(event).size(), kMaxFrameBodySize);
    EXPECT_EQ(deserialize(serialize(event)), event);
}

TEST(CommandEvents, SendTheNormalisedProgressThenOneCompletion) {
    SocketPair pair;
    {
        PHProtocolHandler agentSide(pair.takeLocal(), false);
        CommandEvents events(agentSide, 1);
        events.progress(10.2, "Copying, files");
        events.progress(10.9, "Copying, files");
        events.progress(250, "Writing receipt");
        EXPECT_TRUE(events.completed(0));
        EXPECT_FALSE(events.completed(9));
        events.progress(100, "late");
    }
    EXPECT_EQ(
        pair.readAvailable(),
        writeFrame(R"({"Event":"Progress","percentCompleted":10.000000,"info":"Copying  files"})") +
            writeFrame(R"({"Event":"Progress","percentCompleted":100.000000,"info":"Writing receipt"})") +
            writeFrame(R"({"Event":"CommandCompleted","status":0})"));
    // A client gone meanwhile is logged once, not per event: the agent command tests.
}

TEST(CommandRequest, TakesOnlyCommandsWhoseKeysArePresentOfTheirTypeAndInRange) {
    const std::string longPath = "/" + std::string(PATH_MAX, 'p');
    // {command, "name|package|user|backups" when accepted, otherwise the problem}.
    const std::pair<AgentMessage, std::string> rows[] = {
        {{{"Cmd", "Install"}, {"InstallerPackage", "/p"}, {"LoggedInUser", 501}}, "Install|/p|501|0"},
        {{{"Cmd", "Update"}, {"InstallerPackage", "/p"}, {"LoggedInUser", "x"}}, "Update|/p|-|0"},
        {{{"Cmd", "Uninstall"}, {"LoggedInUser", 0}, {"RemoveBackups", 1}}, "Uninstall||0|1"},
        {{{"Cmd", "Reboot"}, {"InstallerPackage", 3}}, "Reboot||-|0"},
        {{{"Cmd", "UninstallInstallerAgent"}}, "UninstallInstallerAgent||-|0"},
        {{{"Cmd", "Install"}, {"LoggedInUser", 0}}, R"("InstallerPackage" is missing)"},
        {{{"Cmd", "Install"}, {"InstallerPackage", "/p"}}, R"("LoggedInUser" is missing)"},
        {{{"Cmd", "Update"}, {"InstallerPackage", 7}},
         R"("InstallerPackage" is an integer; a text is expected)"},
        {{{"Cmd", "Update"}, {"InstallerPackage", 1.5}},
         R"("InstallerPackage" is a real number; a text is expected)"},
        {{{"Cmd", "Update"}, {"InstallerPackage", "package/p"}},
         R"("InstallerPackage" is not an absolute path)"},
        {{{"Cmd", "Update"}, {"InstallerPackage", std::string("/a\0b", 4)}},
         R"("InstallerPackage" holds a NUL byte)"},
        {{{"Cmd", "Update"}, {"InstallerPackage", longPath}},
         R"("InstallerPackage" is longer than a path can be)"},
        {{{"Cmd", "Install"}, {"InstallerPackage", "/p"}, {"LoggedInUser", "0"}},
         R"("LoggedInUser" is a text; an integer is expected)"},
        {{{"Cmd", "Uninstall"}, {"LoggedInUser", -1}, {"RemoveBackups", 0}},
         R"("LoggedInUser" -1 is no user id)"},
        {{{"Cmd", "Uninstall"}, {"LoggedInUser", int64_t{UINT32_MAX}}, {"RemoveBackups", 0}},
         R"("LoggedInUser" 4294967295 is no user id)"},
        {{{"Cmd", "Uninstall"}, {"LoggedInUser", 0}}, R"("RemoveBackups" is missing)"},
        {{{"Cmd", "Uninstall"}, {"LoggedInUser", 0}, {"RemoveBackups", 2}},
         R"("RemoveBackups" is 2; 1 or 0 is expected)"},
        {{{"Cmd", "Uninstall"}, {"LoggedInUser", 0}, {"RemoveBackups", "1"}},
         R"("RemoveBackups" is a text; the integer 1 or 0 is expected)"},
        {{{"Cmd", 5}}, R"("Cmd" is an integer; a text is expected)"},
        {{{"Cmd", "Frobnicate"}}, R"("Frobnicate" is no command)"},
    };
    for (const auto& [message, expected] : rows) {
        const auto request = CommandRequest::parse(message);
        const std::string got =
            request ? std::string(request->name()) + "|" + request->packagePath() + "|" +
                          (request->loggedInUser() ? std::to_string(*request->loggedInUser()) : "-") + "|" +
                          (request->removeBackups() ? "1" : "0")
                    : request.failure().description;
        EXPECT_EQ(got, expected) << "the row for " << expected;
    }
}

TEST(VersionRule, TheApplicationsDowngradeAndTheAgentsUpdateRefusalOrderVersionsAlike) {
    // {shipped or package version, installed version, the installed one is newer}: rows that catch a
    // reversed, textual or strict order; the order itself is VersionNumber's table.
    const std::tuple<const char*, const char*, bool> pairs[] = {
        {"2.9", "2.10", true}, {"2.10", "2.9", false}, {"3.1", "3.1.0", false}};
    for (const auto& [shipped, installed, newer] : pairs) {
        EXPECT_EQ(PHAgentClient::mustDowngrade(shipped, installed), newer) << shipped << " / " << installed;
        EXPECT_EQ(CheckPackageStep::refusesUpdate(shipped, installed), newer)
            << shipped << " / " << installed;
    }
}

} // namespace
