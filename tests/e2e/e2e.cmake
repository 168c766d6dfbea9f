# The end-to-end layer: the real sidecar under Wine on a private Xvfb display, watched by
# the probe from a second process. The test files share the build's Wine prefix; each file
# starts and ends its own display and Wine server.

add_executable(velmora-probe ${CMAKE_SOURCE_DIR}/tests/probe/probe.cc)
target_link_options(velmora-probe PRIVATE ${VELMORA_STATIC_LINK})
target_link_libraries(velmora-probe PRIVATE user32)

set(VELMORA_E2E_DIR ${CMAKE_SOURCE_DIR}/tests/e2e)

foreach(theme protocol keyboard mouse settings session_end soak watcher)
  add_test(NAME e2e_${theme}
    COMMAND ${VELMORA_PYTHON3} -m unittest -v test_${theme}
    WORKING_DIRECTORY ${VELMORA_E2E_DIR})
  set_tests_properties(e2e_${theme} PROPERTIES
    TIMEOUT 240
    RUN_SERIAL TRUE
    LABELS e2e
    RESOURCE_LOCK wine-prefix
    FIXTURES_REQUIRED wine-prefix
    ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;VELMORA_SIDECAR_EXE=$<TARGET_FILE:velmora-sidecar>;VELMORA_PROBE_EXE=$<TARGET_FILE:velmora-probe>;VELMORA_E2E_WORK=${CMAKE_BINARY_DIR}/e2e;VELMORA_WINEPREFIX=${VELMORA_WINEPREFIX}")
endforeach()
