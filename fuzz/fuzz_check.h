#pragma once

// __builtin_trap rather than assert: it survives NDEBUG and libFuzzer reports it as a crash.
#define FUZZ_CHECK(condition)           \
  do {                                  \
    if (!(condition)) __builtin_trap(); \
  } while (false)
