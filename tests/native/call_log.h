#pragma once

// Reading the fake's call log in the native tests.

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace velmora::fake {

using Calls = std::vector<std::string>;

// Whether `wanted` appears in `calls` in that order, other calls between them allowed.
inline bool in_order(const Calls& calls, const Calls& wanted) {
  auto at = calls.begin();
  for (const std::string& entry : wanted) {
    at = std::find(at, calls.end(), entry);
    if (at == calls.end()) return false;
    ++at;
  }
  return true;
}

// The calls that change something: reads of what the system holds now (a leftover's checks)
// and the COM apartments around them are left out.
inline Calls changes(const Calls& calls) {
  Calls kept;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(kept), [](const std::string& call) {
    return !call.starts_with("get_") && !call.starts_with("screen_") && !call.starts_with("power_read") &&
           call != "power_get_active_scheme" && call != "write_stderr" && !call.starts_with("com_");
  });
  return kept;
}

}  // namespace velmora::fake
