#include "app/ProgressReporter.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

/// What \p report wrote through a reporter of \p style, from the stream it writes to.
std::string written(ProgressReporter::Style style, const std::function<void(ProgressReporter&)>& report) {
    std::FILE* file = std::tmpfile();
    {
        ProgressReporter reporter(style, file, file);
        report(reporter);
    }
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

} // namespace

TEST(ProgressReporter, JsonLinesStayValidWhateverTheAgentSends) {
    // Info texts come from packages and the agent: bytes that are not UTF-8, line feeds and quotes must
    // neither break a line nor end the run; percentages outside 0-100 are clamped.
    const std::string text = written(ProgressReporter::Style::Json, [](ProgressReporter& r) {
        r.phase("authorizing");
        r.progress(42.5, "caf\xc3\xa9 \xff\xfe broken");
        r.progress(std::nan(""), "line\nfeed \"quoted\"");
        r.progress(250, "");
        r.completed(20, false);
        r.exited(ExitStatus::CommandFailed);
    });
    std::istringstream lines(text);
    std::vector<nlohmann::json> objects;
    for (std::string line; std::getline(lines, line);)
        objects.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(objects.size(), 6u) << text;
    EXPECT_EQ(objects[0]["phase"], "authorizing");
    EXPECT_EQ(objects[1]["percent"], 42.5);
    EXPECT_EQ(objects[1]["info"], "caf\xc3\xa9 \xef\xbf\xbd\xef\xbf\xbd broken");
    EXPECT_EQ(objects[2]["percent"], 0.0);
    EXPECT_EQ(objects[2]["info"], "line\nfeed \"quoted\"");
    EXPECT_EQ(objects[3]["percent"], 100.0);
    EXPECT_EQ(objects[4]["status"], 20);
    EXPECT_EQ(objects[4]["succeeded"], false);
    EXPECT_EQ(objects[5]["exitStatus"], 1);
    EXPECT_EQ(objects[5]["meaning"], "command-failed");
    // The phase leads each line, for a reader scanning the stream.
    EXPECT_EQ(text.rfind("{\"phase\":", 0), 0u);
}

TEST(ProgressReporter, TheBarIsRedrawnInPlaceAndOnlyTheLastDrawingKeepsItsLine) {
    const std::string text = written(ProgressReporter::Style::TerminalBar, [](ProgressReporter& r) {
        r.phase("authorizing"); // phases have no bar
        r.progress(50, "Copying\tfiles\x1b[2J");
        r.completed(0, false);
        r.exited(ExitStatus::Succeeded);
    });
    EXPECT_EQ(text, "\r[###############---------------]  50% Copying files [2J\033[K\r"
                    "\r[##############################] 100% Completed\033[K\n");
}
