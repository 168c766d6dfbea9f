# The Windows program, its unit tests under Wine, and the end-to-end bench.
enable_language(RC)

# One static executable importing only system DLLs: no libstdc++, libgcc or winpthread DLL.
set(VELMORA_STATIC_LINK -static -static-libgcc -static-libstdc++)

# Every Windows target of this directory, whether made before or after this line: the
# core, the program, its unit tests and the probe.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0A00)

# Size: each function and datum in a section of its own, so that the linker drops what
# nothing calls (scripts/bench.sh prints the result and where the bytes go, from the map
# file). Link-time optimisation is left off: with this toolchain it made the program larger.
add_compile_options(-ffunction-sections -fdata-sections)
# The stop command's JSON parser is a third of the program's own code and runs once per
# line of standard input, never per key: it is built for size.
set_source_files_properties(${SRC_DIR}/stop_command.cc PROPERTIES COMPILE_OPTIONS -Os)
# The start-up and the shutdown, the guards, the journal, the watcher's records, the shield and
# the half-second rounds never run per key: built for size too. What a key crosses (the hooks,
# the channel, the pump, the standard streams) keeps the full optimisation.
set(VELMORA_COLD_SOURCES
  accessibility_guard.cc cursor_clip.cc edge_swipes.cc end_of_session.cc fatal_error.cc guard_table.cc
  journal.cc journal_record.cc keep_in_place_schedule.cc power_guard.cc restore_report.cc
  session_driver.cc shield_order.cc sound_guard.cc touchpad_guard.cc watcher.cc watcher_link.cc
  watcher_protocol.cc win32/journal_win32.cc win32/keep_in_place_win32.cc win32/shield_win32.cc
  win32/system_sounds_win32.cc win32/touch_win32.cc win32/watcher_process_win32.cc)
list(TRANSFORM VELMORA_COLD_SOURCES PREPEND ${SRC_DIR}/)
set_source_files_properties(${VELMORA_COLD_SOURCES} PROPERTIES COMPILE_OPTIONS -Os)

set(WIN32_DIR ${SRC_DIR}/win32)

# Three layers, each depending only on those below it: the seam's Windows side (a leaf of
# system calls), the portable core, and the hook thread with its windows on top.
add_library(sidecar_platform STATIC
  ${WIN32_DIR}/address_wait_win32.cc
  ${WIN32_DIR}/journal_win32.cc
  ${WIN32_DIR}/platform_win32.cc
  ${WIN32_DIR}/system_sounds_win32.cc
  ${WIN32_DIR}/thread_priority_win32.cc
  ${WIN32_DIR}/touch_win32.cc
  ${WIN32_DIR}/watcher_process_win32.cc
)
target_include_directories(sidecar_platform PUBLIC ${SRC_DIR} ${WIN32_DIR})
target_link_libraries(sidecar_platform PUBLIC advapi32 user32 powrprof ole32 oleaut32 uuid synchronization)

add_library(sidecar_hook_thread STATIC
  ${WIN32_DIR}/end_of_session_win32.cc
  ${WIN32_DIR}/hook_thread_win32.cc
  ${WIN32_DIR}/keep_in_place_win32.cc
  ${WIN32_DIR}/raw_input_win32.cc
  ${WIN32_DIR}/shield_win32.cc
)
target_link_libraries(sidecar_hook_thread PUBLIC sidecar_core sidecar_platform wtsapi32 dwmapi)

add_executable(velmora-sidecar WIN32
  ${WIN32_DIR}/main_win32.cc
  ${WIN32_DIR}/allocation_win32.cc
  ${WIN32_DIR}/terminate_win32.cc
  ${CMAKE_SOURCE_DIR}/resources/velmora.rc
)
# The version resource takes its numbers from project().
configure_file(${CMAKE_SOURCE_DIR}/resources/velmora_version.h.in ${CMAKE_BINARY_DIR}/generated/velmora_version.h)
target_include_directories(velmora-sidecar PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(velmora-sidecar PRIVATE sidecar_hook_thread)
target_link_options(velmora-sidecar PRIVATE ${VELMORA_STATIC_LINK} -mwindows -Wl,--gc-sections
  -Wl,-Map=${CMAKE_BINARY_DIR}/velmora-sidecar.map)

# The baselines the Wine figures are measured against, built like the sidecar: optimised,
# static, GUI subsystem. Not part of `all`: scripts/bench.sh builds them.
foreach(baseline hook_floor minimal_gui)
  add_executable(${baseline} WIN32 EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/wine/${baseline}.cc)
  target_link_options(${baseline} PRIVATE ${VELMORA_STATIC_LINK})
endforeach()

# Every Wine test runs in the one prefix of the build, prepared once by this fixture, one
# test at a time: two Wine sessions on one prefix collide.
set(VELMORA_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(VELMORA_WINE_ENV WINEPREFIX=${VELMORA_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree=\;mshtml=)
add_test(NAME wine_prefix COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh ${VELMORA_WINEPREFIX})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine-prefix RESOURCE_LOCK wine-prefix TIMEOUT 300)

# Windows unit tests (run under Wine by CTest) and the end-to-end bench.
include(${CMAKE_SOURCE_DIR}/tests/win32/tests.cmake)
include(${CMAKE_SOURCE_DIR}/tests/e2e/e2e.cmake)

# The built executable: GUI subsystem, system DLLs only, icon, version and manifest.
add_test(NAME exe_resources
  COMMAND ${VELMORA_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/resources/check_resources.py ${CMAKE_OBJDUMP} ${PROJECT_VERSION}
          $<TARGET_FILE:velmora-sidecar>)

# The Node.js reference parent, run against the real executable so it never rots.
add_test(NAME e2e_reference_parent
  COMMAND bash ${CMAKE_SOURCE_DIR}/examples/test_reference_parent.sh $<TARGET_FILE:velmora-sidecar>)
set_tests_properties(e2e_reference_parent PROPERTIES TIMEOUT 240 RUN_SERIAL TRUE LABELS e2e
  FIXTURES_REQUIRED wine-prefix ENVIRONMENT "VELMORA_WINEPREFIX=${VELMORA_WINEPREFIX}")
