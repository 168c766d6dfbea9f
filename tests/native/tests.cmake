# Native GoogleTest suites of the portable units, linked with a recording fake of the platform.
# The sanitizer options are set before this is included, so GoogleTest is built with them too.

include(${CMAKE_SOURCE_DIR}/cmake/googletest.cmake)

set(NATIVE_TESTS_DIR ${CMAKE_CURRENT_LIST_DIR})
# The seam of this build: a recording fake, which also resets the core's state between tests.
add_library(sidecar_platform STATIC ${NATIVE_TESTS_DIR}/fake_platform.cc)
target_link_libraries(sidecar_platform PUBLIC sidecar_core)
target_include_directories(sidecar_platform PUBLIC ${NATIVE_TESTS_DIR})

# Each session run publishes an event sender that is never freed, by design.
set(NATIVE_TEST_ENV "LSAN_OPTIONS=suppressions=${NATIVE_TESTS_DIR}/lsan.supp:print_suppressions=0"
                    "TSAN_OPTIONS=halt_on_error=1")

# One CTest entry per test executable, so a new suite runs without being listed anywhere; a
# process per GoogleTest case would cost more in sanitizer start-up than the cases themselves.
function(velmora_native_test name label)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "" "SOURCES")
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE sidecar_platform GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS ${label} TIMEOUT 300 ENVIRONMENT "${NATIVE_TEST_ENV}")
endfunction()

# The TSan preset runs only the concurrency suites, so it builds only those.
if(NOT VELMORA_SANITIZE MATCHES "thread")
  velmora_native_test(sidecar_unit_tests unit
    SOURCES
      ${NATIVE_TESTS_DIR}/click_gate_test.cc
      ${NATIVE_TESTS_DIR}/stop_command_test.cc
      ${NATIVE_TESTS_DIR}/line_reader_test.cc
      ${NATIVE_TESTS_DIR}/keyboard_filter_test.cc
      ${NATIVE_TESTS_DIR}/guards_test.cc
      ${NATIVE_TESTS_DIR}/hook_refresh_test.cc
      ${NATIVE_TESTS_DIR}/keep_in_place_test.cc
      ${NATIVE_TESTS_DIR}/leftovers_test.cc
      ${NATIVE_TESTS_DIR}/session_driver_test.cc
      ${NATIVE_TESTS_DIR}/touch_test.cc
      ${NATIVE_TESTS_DIR}/watcher_test.cc)
endif()

# Threads racing on shared state; the native-tsan preset runs only these (ctest -L tsan).
velmora_native_test(sidecar_concurrency_tests tsan
  SOURCES
    ${NATIVE_TESTS_DIR}/end_of_session_test.cc
    ${NATIVE_TESTS_DIR}/event_channel_test.cc
    ${NATIVE_TESTS_DIR}/event_stream_test.cc)
