# Native build: unit tests of the portable logic under sanitizers, and benchmarks.
if(VELMORA_SANITIZE)
  add_compile_options(-fsanitize=${VELMORA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VELMORA_SANITIZE})
endif()

include(${CMAKE_SOURCE_DIR}/tests/native/tests.cmake OPTIONAL)
if(VELMORA_BENCH)
  include(${CMAKE_SOURCE_DIR}/bench/bench.cmake OPTIONAL)
endif()
