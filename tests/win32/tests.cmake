# Windows unit tests: built with mingw-w64, run by CTest under Wine on a display
# (scripts/wine-display-run.sh). Select them with `ctest -L windows`.

include(${CMAKE_SOURCE_DIR}/cmake/googletest.cmake)

add_executable(sidecar_win_tests
  ${CMAKE_CURRENT_LIST_DIR}/system_sounds_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/event_channel_wake_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/shield_dpi_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/hook_thread_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/raw_input_test.cc
)
target_link_libraries(sidecar_win_tests PRIVATE sidecar_hook_thread GTest::gtest_main)
# The scripts are designated initialisers that name only what differs from the defaults.
# GCC 12 at -O3 also reports false -Wrestrict and -Wmaybe-uninitialized inside libstdc++'s
# string concatenation and the vector members of the case tables.
target_compile_options(sidecar_win_tests PRIVATE
  -Wno-missing-field-initializers -Wno-restrict -Wno-maybe-uninitialized)
# Static like the sidecar, so Wine needs no mingw runtime DLLs.
target_link_options(sidecar_win_tests PRIVATE ${VELMORA_STATIC_LINK})

# One CTest entry per test executable: every case it holds runs, listed or not. On a display
# of its own, since the shield's test makes a window.
add_test(NAME win_unit_tests
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-display-run.sh $<TARGET_FILE:sidecar_win_tests>)
set_tests_properties(win_unit_tests PROPERTIES
  LABELS windows
  TIMEOUT 180
  RESOURCE_LOCK wine-prefix
  FIXTURES_REQUIRED wine-prefix
  ENVIRONMENT "${VELMORA_WINE_ENV}")
