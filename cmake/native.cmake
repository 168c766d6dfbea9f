# Native build: unit tests of the portable logic under sanitizers, or the benchmarks.
if(VELMORA_BENCH)
  include(${CMAKE_SOURCE_DIR}/bench/bench.cmake)
else()
  include(${CMAKE_SOURCE_DIR}/tests/native/tests.cmake)
endif()
