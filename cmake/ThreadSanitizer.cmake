# In the TSan build every program that links the Qt stand-ins carries the
# suppressions of qt-thread-sanitizer.supp, through TSan's
# __tsan_default_suppressions hook, so they apply however the program is
# started (by ctest, by a test, through pkexec) without TSAN_OPTIONS.
file(READ ${CMAKE_CURRENT_LIST_DIR}/qt-thread-sanitizer.supp QVT_TSAN_SUPPRESSIONS)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/qt-thread-sanitizer.supp)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/ThreadSanitizerSuppressions.cpp CONTENT
"// Generated from cmake/qt-thread-sanitizer.supp.
extern \"C\" const char* __tsan_default_suppressions() {
    return R\"supp(@QVT_TSAN_SUPPRESSIONS@)supp\";
}
" @ONLY)
# An interface source: compiled into every program that links platform_qt,
# as its own object, so the hook is linked in (from a static library it would
# not be: TSan's weak default already satisfies the reference).
target_sources(platform_qt INTERFACE ${CMAKE_BINARY_DIR}/generated/ThreadSanitizerSuppressions.cpp)
