# Windows unit tests: built with mingw-w64, run by CTest under Wine (the toolchain file sets
# CMAKE_CROSSCOMPILING_EMULATOR). Select them with `ctest -R win_`.

# GoogleTest from Debian's sources, built with the cross compiler.
set(VELMORA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows tests")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${VELMORA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_executable(sidecar_win_tests
  ${CMAKE_CURRENT_LIST_DIR}/system_sounds_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/key_channel_wake_test.cc
)
target_link_libraries(sidecar_win_tests PRIVATE
  -Wl,--start-group sidecar_core sidecar_win32 -Wl,--end-group GTest::gtest_main)
# The scripts are designated initialisers that name only what differs from the defaults.
# GCC 12 at -O3 also reports false -Wrestrict and -Wmaybe-uninitialized inside libstdc++'s
# string concatenation and the vector members of the case tables.
target_compile_options(sidecar_win_tests PRIVATE
  -Wno-missing-field-initializers -Wno-restrict -Wno-maybe-uninitialized)
# Static like the sidecar, so Wine needs no mingw runtime DLLs.
target_link_options(sidecar_win_tests PRIVATE ${VELMORA_STATIC_LINK})

# A private prefix, created by the first run; no Mono or Gecko installers, no debug chatter.
# The runs share it, so they are serialised: two Wine sessions creating one prefix at once collide.
set(VELMORA_WINE_UNIT_ENV
  WINEPREFIX=${CMAKE_BINARY_DIR}/wine-unit
  WINEDEBUG=-all
  WINEDLLOVERRIDES=mscoree=\;mshtml=
)

function(velmora_add_win_test name filter)
  add_test(NAME ${name} COMMAND sidecar_win_tests --gtest_filter=${filter})
  set_tests_properties(${name} PROPERTIES
    LABELS windows
    TIMEOUT 180
    RESOURCE_LOCK wine-unit-prefix
    ENVIRONMENT "${VELMORA_WINE_UNIT_ENV}")
endfunction()

velmora_add_win_test(win_system_sounds "SystemSoundsSearch.*:ComPtr.*")
velmora_add_win_test(win_system_sounds_live "SystemSoundsLive.*")
velmora_add_win_test(win_key_channel_wake "KeyChannelWake.*")
