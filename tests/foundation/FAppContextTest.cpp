#include "FTypeApp.h"

#include "FoundationTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

using namespace FSpace;
using namespace foundation_test;

namespace {

std::wstring str(FMStr<wchar_t> const& s) {
    return s.isEmpty() ? std::wstring() : std::wstring(static_cast<wchar_t const*>(s));
}

} // namespace

TEST(FAppContextTest, ArgumentsSkipTheProgramNameAndClampTheirIndex) {
    char program[] = "prog", a[] = "a", b[] = "\xE9";
    char* argv[] = {program, a, b, nullptr};
    FAppContext const none(1, argv);
    FAppContext const empty;
    FAppContext const two(3, argv);
    EXPECT_ROWS(long, {none.ArgCount(), 0}, {empty.ArgCount(), 0}, {two.ArgCount(), 2});
    EXPECT_ROWS(std::wstring, {str(none.Arg(0)), L""}, {text(empty.ArgW(-1)), L""}, {str(two.Arg(0)), L"a"},
                {str(two.Arg(-1)), L"\u00E9"}, {str(two.Arg(5)), L"\u00E9"}, {str(two.Arg(-7)), L"a"},
                {text(two.ArgW(1)), L"\u00E9"});

    FAppContext more(two);
    wchar_t wa[] = L"w", wb[] = L"x";
    wchar_t* wargv[] = {wa, wb};
    more.initArguments(2, wargv); // appended, the list is not cleared
    EXPECT_EQ(more.ArgCount(), 3);
    EXPECT_EQ(str(more.Arg(-1)), L"x");
    EXPECT_EQ(static_cast<int>(more), 0);
}

TEST(FAppContextTest, OnlyTheConstructingThreadIsTheMainThread) {
    FAppContext const context;
    bool onOther = true;
    std::thread([&] { onOther = context.isMainThread(); }).join();
    EXPECT_FALSE(onOther);
    EXPECT_TRUE(context.isMainThread());
    EXPECT_TRUE(FAppContext(context).isMainThread());
}

TEST(FAppContextTest, PathIsTheRunningExecutable) {
    std::wstring exe;
    for (unsigned char const c : std::filesystem::read_symlink("/proc/self/exe").string()) {
        exe.push_back(c);
    }
    EXPECT_EQ(str(FAppContext().Path()), exe);
    FAppContext twice;
    twice.loadProcessData(); // replaces the path, does not repeat it
    EXPECT_EQ(str(twice.Path()), exe);
}

TEST(FAppContextTest, UnsetAndEmptyVariablesReadAsEmptyText) {
    ::unsetenv("FSPACE_TEST_UNSET");
    ::setenv("FSPACE_TEST_EMPTY", "", 1);
    ::setenv("FSPACE_TEST_SET", "v\xE9", 1);
    FMStr<wchar_t> const name(L"FSPACE_TEST_SET");
    EXPECT_ROWS(std::wstring, {str(FAppContext::getEnv("FSPACE_TEST_UNSET")), L""},
                {str(FAppContext::getEnv(L"FSPACE_TEST_EMPTY")), L""},
                {str(FAppContext::getEnv("FSPACE_TEST_SET")), L"v\u00E9"},
                {str(FAppContext::getEnv(L"FSPACE_TEST_\u0153ET")), L"v\u00E9"}, // U+0153 narrows to 'S'
                {str(FAppContext::getEnv(name)), L"v\u00E9"},
                {str(FAppContext::getEnv(L"FSPACE_TEST_SET\u0100X")), L""}, // would read FSPACE_TEST_SET
                {str(FAppContext::getEnv(static_cast<char const*>(nullptr))), L""});
    ::unsetenv("FSPACE_TEST_EMPTY");
    ::unsetenv("FSPACE_TEST_SET");
}
