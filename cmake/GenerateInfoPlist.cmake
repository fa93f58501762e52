# Writes a bundle's Info.plist from its template at build time, so the source
# revision and build number follow the checkout. Run with cmake -P and
# SOURCE_DIR, TEMPLATE, OUTPUT, BUNDLE_EXECUTABLE, BUNDLE_NAME, BUNDLE_SHORT_VERSION.

execute_process(COMMAND git -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                OUTPUT_VARIABLE BUNDLE_SOURCE_REVISION RESULT_VARIABLE rev_result
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT rev_result EQUAL 0 OR BUNDLE_SOURCE_REVISION STREQUAL "")
  set(BUNDLE_SOURCE_REVISION unknown)
endif()

# The build number: QVT_BUILD_NUMBER from the environment (a build server's
# counter), else the number of commits, else 0.
if(DEFINED ENV{QVT_BUILD_NUMBER} AND NOT "$ENV{QVT_BUILD_NUMBER}" STREQUAL "")
  set(BUNDLE_BUILD_NUMBER "$ENV{QVT_BUILD_NUMBER}")
else()
  execute_process(COMMAND git -C ${SOURCE_DIR} rev-list --count HEAD
                  OUTPUT_VARIABLE BUNDLE_BUILD_NUMBER RESULT_VARIABLE count_result
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT count_result EQUAL 0 OR BUNDLE_BUILD_NUMBER STREQUAL "")
    set(BUNDLE_BUILD_NUMBER 0)
  endif()
endif()

# configure_file leaves the output untouched when nothing changed.
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
