#include "FoundationTestSupport.h"

using namespace FSpace;
using namespace foundation_test;

namespace {

// Answers every text from its own accessors, not from the base's fields.
struct Relabelled : FException {
    Relabelled() : FException(4, "base", "base", "base") {}
    char const* what() const noexcept override { return "own what"; }
    char const* where() const noexcept override { return "own where"; }
    char const* why() const noexcept override { return "own why"; }
};

int codeThrownBy(void (*function)(void*), void* p) {
    try {
        function(p);
    } catch (int code) {
        return code;
    }
    return 0;
}

} // namespace

TEST(FExceptionTest, EachFormSetsItsFieldsAndLeavesTheRestEmpty) {
    FException assigned(3, "old");
    assigned = FException(9, "new", "there", "because"); // copies the texts, keeps the code
    FException relabelled;
    relabelled = Relabelled(); // the texts come through the source's accessors
    // what() is never null: an exception without a message gives "".
    EXPECT_ROWS(
        std::string, {describe(FException()), "0||(null)|(null)"},
        {describe(FException(5, "x")), "5|x|(null)|(null)"},
        {describe(FException(7, "m", "place", "reason")), "7|m|place|reason"},
        {describe(FException("m", "place")), "0|m|place|(null)"}, {describe(assigned), "3|new|there|because"},
        {describe(relabelled), "0|own what|own where|own why"},
        {describe(FXCOutOfBounds("FBitField::get", nullptr)), "1026|Out of bounds|FBitField::get|(null)"},
        {describe(FXCNotImplemented("here", "later")), "1025|Not implemented|here|later"},
        // Library exceptions are standard ones, and what() answers through the standard class too.
        {static_cast<std::exception const&>(FXCNotImplemented("w", nullptr)).what(), "Not implemented"});
    static_assert(std::is_base_of_v<std::exception, FInvalidOperationException> &&
                  std::is_base_of_v<std::exception, FOutOfBoundsException>);
}

TEST(FDebugTest, NonFatalErrorPrintsOneLineAndReturns) {
    std::tuple<char const*, char const*, unsigned, char const*> const cases[] = {
        {"e", "f", 7, "e - File: f - Line: 7\n"},
        {nullptr, nullptr, 0, " - File:  - Line: 0\n"},
        {"a == b", "FType", 4294967295u, "a == b - File: FType - Line: 4294967295\n"}};
    for (auto const& [expression, file, line, expected] : cases) {
        testing::internal::CaptureStdout();
        f_dbg_error(expression, file, line, false);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    }
}

TEST(FDebugTest, RegistryCountsEachRegistrationAndRemovingAnUnknownPointerThrowsAndChangesNothing) {
    int known = 0, unknown = 0;
    EXPECT_EQ(codeThrownBy(f_dbg_check_eventreg, &known), 0);
    f_dbg_add_eventreg(&known), f_dbg_add_eventreg(&known), f_dbg_rem_eventreg(&known);
    long const before = g_eventregistrations.Count();
    EXPECT_ROWS(long, {codeThrownBy(f_dbg_check_eventreg, &known), -1},
                {codeThrownBy(f_dbg_rem_eventreg, &unknown), -1}, {g_eventregistrations.Count(), before});
    // The lock was released before the throw: another thread can still use it.
    std::thread([&] { f_dbg_rem_eventreg(&known); }).join();
    EXPECT_EQ(codeThrownBy(f_dbg_check_eventreg, &known), 0);
}
