#include "FTypeApp.h"

#include "FoundationTestSupport.h"

using namespace FSpace;
using namespace foundation_test;

TEST(FAppContextTest, ArgumentsSkipTheProgramNameAndClampTheirIndex) {
    char program[] = "prog", a[] = "a", b[] = "\xE9";
    char* argv[] = {program, a, b, nullptr};
    wchar_t wa[] = L"w", wb[] = L"x";
    wchar_t* wargv[] = {wa, wb};
    FAppContext const none(1, argv), empty, two(3, argv);
    FAppContext more(two);
    more.initArguments(2, wargv); // appended, the list is not cleared
    EXPECT_ROWS(long, {none.ArgCount(), 0}, {empty.ArgCount(), 0}, {two.ArgCount(), 2}, {more.ArgCount(), 3},
                {static_cast<int>(more), 0});
    EXPECT_ROWS(std::wstring, {text(none.Arg(0)), L""}, {text(empty.ArgW(-1)), L""}, {text(two.Arg(0)), L"a"},
                {text(two.Arg(-1)), L"\u00E9"}, {text(two.Arg(5)), L"\u00E9"}, {text(two.Arg(-7)), L"a"},
                {text(two.ArgW(1)), L"\u00E9"}, {text(more.Arg(-1)), L"x"});
}

TEST(FAppContextTest, ProcessDataIsTheConstructingThreadAndTheRunningExecutable) {
    FAppContext context;
    bool onOther = true;
    std::thread([&] { onOther = context.isMainThread(); }).join();
    EXPECT_ROWS(bool, {onOther, false}, {context.isMainThread(), true},
                {FAppContext(context).isMainThread(), true});
    std::string const exe = std::filesystem::read_symlink("/proc/self/exe").string();
    std::wstring const built = text(context.Path());
    context.loadProcessData(); // replaces the path, does not repeat it
    EXPECT_ROWS(std::wstring, {built, widened(exe)}, {text(context.Path()), built});
}

TEST(FAppContextTest, UnsetAndEmptyVariablesReadAsEmptyText) {
    ScopedEnv const unset("FSPACE_TEST_UNSET", nullptr), empty("FSPACE_TEST_EMPTY", ""),
        set("FSPACE_TEST_SET", "v\xE9");
    FMStr<wchar_t> const name(L"FSPACE_TEST_SET");
    EXPECT_ROWS(std::wstring, {text(FAppContext::getEnv("FSPACE_TEST_UNSET")), L""},
                {text(FAppContext::getEnv(L"FSPACE_TEST_EMPTY")), L""},
                {text(FAppContext::getEnv("FSPACE_TEST_SET")), L"v\u00E9"},
                {text(FAppContext::getEnv(L"FSPACE_TEST_\u0153ET")), L"v\u00E9"}, // U+0153 narrows to 'S'
                {text(FAppContext::getEnv(name)), L"v\u00E9"},
                {text(FAppContext::getEnv(L"FSPACE_TEST_SET\u0100X")), L""}, // would read FSPACE_TEST_SET
                {text(FAppContext::getEnv(static_cast<char const*>(nullptr))), L""});
}
