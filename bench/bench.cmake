# Native benchmarks (preset `bench`). The binary links the portable core and a stand-in for
# the one platform call the measured units make; scripts/bench.sh runs it.
find_package(benchmark REQUIRED)

# The seam of this build: the one platform call the measured units make, and stubs.
add_library(sidecar_platform STATIC ${CMAKE_SOURCE_DIR}/bench/bench_platform.cc)
target_include_directories(sidecar_platform PUBLIC ${CMAKE_SOURCE_DIR}/src)

# Linking the static core pulls in only the units the benchmarks reference.
add_executable(sidecar_bench
  ${CMAKE_SOURCE_DIR}/bench/filter_bench.cc
  ${CMAKE_SOURCE_DIR}/bench/pump_bench.cc
  ${CMAKE_SOURCE_DIR}/bench/stdin_bench.cc
)
target_link_libraries(sidecar_bench PRIVATE sidecar_core benchmark::benchmark benchmark::benchmark_main)
