# Native benchmarks (preset `bench`). The binary links only the units it measures and a
# stand-in for the one platform call they make; scripts/bench.sh runs it.
find_package(benchmark REQUIRED)

add_executable(sidecar_bench
  ${CMAKE_SOURCE_DIR}/bench/bench_platform.cc
  ${CMAKE_SOURCE_DIR}/bench/filter_bench.cc
  ${CMAKE_SOURCE_DIR}/bench/pump_bench.cc
  ${CMAKE_SOURCE_DIR}/bench/stdin_bench.cc
  ${SIDECAR_DIR}/event_stream.cc
  ${SIDECAR_DIR}/key_channel.cc
  ${SIDECAR_DIR}/keyboard_filter.cc
  ${SIDECAR_DIR}/line_reader.cc
  ${SIDECAR_DIR}/process_state.cc
  ${SIDECAR_DIR}/stop_command.cc
)
target_include_directories(sidecar_bench PRIVATE ${SIDECAR_DIR} ${VELMORA_JSON_INCLUDE})
target_link_libraries(sidecar_bench PRIVATE benchmark::benchmark benchmark::benchmark_main Threads::Threads)
