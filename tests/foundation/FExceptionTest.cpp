#include "FType.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

using namespace FSpace;

TEST(FExceptionTest, ConstructorsSetTheGivenFieldsAndLeaveTheRestEmpty) {
    FException withCode(5, "x");
    EXPECT_EQ(withCode.code(), 5u);
    EXPECT_STREQ(withCode.what(), "x");
    EXPECT_EQ(withCode.where(), nullptr);
    EXPECT_EQ(withCode.why(), nullptr);

    FException full(7, "m", "place", "reason");
    EXPECT_STREQ(full.where(), "place");
    EXPECT_STREQ(full.why(), "reason");

    FException noCode("m", "place");
    EXPECT_EQ(noCode.code(), 0u);
    EXPECT_STREQ(noCode.where(), "place");
    EXPECT_EQ(noCode.why(), nullptr);
}

TEST(FExceptionTest, WhatIsNeverNull) {
    FException empty;
    ASSERT_NE(empty.what(), nullptr);
    EXPECT_STREQ(empty.what(), "");
}

TEST(FExceptionTest, AssignmentCopiesTheTextsButKeepsTheCode) {
    FException target(3, "old");
    FException const source(9, "new", "there", "because");
    target = source;
    EXPECT_EQ(target.code(), 3u);
    EXPECT_STREQ(target.what(), "new");
    EXPECT_STREQ(target.where(), "there");
    EXPECT_STREQ(target.why(), "because");
}

TEST(FExceptionTest, FixedCodeExceptionsCarryTheirCodeAndMessage) {
    FXCOutOfBounds bounds("FBitField::get", nullptr);
    EXPECT_EQ(bounds.code(), 1026u);
    EXPECT_STREQ(bounds.what(), "Out of bounds");
    EXPECT_STREQ(bounds.where(), "FBitField::get");
    EXPECT_EQ(bounds.why(), nullptr);

    FXCNotImplemented missing("here", "later");
    EXPECT_EQ(missing.code(), 1025u);
    EXPECT_STREQ(missing.what(), "Not implemented");
    EXPECT_STREQ(missing.why(), "later");
}

TEST(FExceptionTest, LibraryExceptionsAreCaughtAsFExceptionAndStdException) {
    try {
        throw FXCOutOfBounds("w", nullptr);
    } catch (FException const& e) {
        EXPECT_EQ(e.code(), 1026u);
    }
    try {
        throw FXCNotImplemented("w", nullptr);
    } catch (std::exception const& e) {
        EXPECT_STREQ(e.what(), "Not implemented");
    }
    EXPECT_THROW(throw FInvalidOperationException(), std::exception);
    EXPECT_THROW(throw FOutOfBoundsException(), std::exception);
}

TEST(FDebugTest, NonFatalErrorPrintsOneLineAndReturns) {
    struct Case {
        char const* expression;
        char const* file;
        unsigned line;
        char const* expected;
    } const cases[] = {
        {"e", "f", 7, "e - File: f - Line: 7\n"},
        {nullptr, nullptr, 0, " - File:  - Line: 0\n"},
        {"a == b", "FType", 4294967295u, "a == b - File: FType - Line: 4294967295\n"},
    };
    for (auto const& c : cases) {
        testing::internal::CaptureStdout();
        f_dbg_error(c.expression, c.file, c.line, false);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.expected);
    }
}

TEST(FDebugDeathTest, FatalErrorAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(f_dbg_error("e", "f", 1, true), ::testing::KilledBySignal(SIGABRT), "");
}

namespace {

int thrownBy(void (*function)(void*), void* p) {
    try {
        function(p);
    } catch (int code) {
        return code;
    }
    return 0;
}

} // namespace

TEST(FDebugTest, RegistryCountsEachRegistration) {
    int object = 0;
    void* p = &object;
    EXPECT_EQ(thrownBy(f_dbg_check_eventreg, p), 0);
    f_dbg_add_eventreg(p);
    f_dbg_add_eventreg(p);
    f_dbg_rem_eventreg(p);
    EXPECT_EQ(thrownBy(f_dbg_check_eventreg, p), -1) << "one registration is left";
    f_dbg_rem_eventreg(p);
    EXPECT_EQ(thrownBy(f_dbg_check_eventreg, p), 0);
}

TEST(FDebugTest, RemovingAnUnknownPointerThrowsAndChangesNothing) {
    int known = 0;
    int unknown = 0;
    f_dbg_add_eventreg(&known);
    long const before = g_eventregistrations.Count();
    EXPECT_EQ(thrownBy(f_dbg_rem_eventreg, &unknown), -1);
    EXPECT_EQ(g_eventregistrations.Count(), before);
    // The lock was released before the throw: another thread can still use it.
    std::thread([&] { f_dbg_rem_eventreg(&known); }).join();
    EXPECT_EQ(thrownBy(f_dbg_check_eventreg, &known), 0);
}

namespace {

class Handler : public FDelegate2<int, unsigned int, void*> {
public:
    bool operator!() const override { return false; }
    void* Object() const override { return nullptr; }
    int operator()(unsigned int code, void*) override { return static_cast<int>(code) + 1; }
    FDelegate2* clone() const override { return new Handler(*this); }
    bool operator==(FDelegate2 const& other) const override { return &other == this; }
    bool operator==(void const* object) const override { return object == nullptr; }
};

} // namespace

TEST(FDebugTest, ExceptionHandlerSlotSharesTheInstalledHandler) {
    FExceptionHandlerRef handler(new Handler);
    g_setExceptionHandler(handler);
    EXPECT_EQ(handler.refCount(), 2);
    EXPECT_EQ((*g_ref_Exception_Handler_Delegate)(4u, nullptr), 5);
    g_setExceptionHandler(FExceptionHandlerRef());
    EXPECT_EQ(handler.refCount(), 1);
    EXPECT_TRUE(g_ref_Exception_Handler_Delegate.isNull());
}
