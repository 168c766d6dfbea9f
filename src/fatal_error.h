#pragma once

#include <string_view>

namespace velmora {

// Failure of the process's own machinery: reports on standard error and exits with
// status 101 at once. No `bye` is written; what to restore first is the caller's.
[[noreturn]] void fatal_error(std::string_view message, std::string_view detail);

// Writes "velmora-sidecar: <message>: <detail>" to standard error; the run goes on.
void report_error(std::string_view message, std::string_view detail);

// Writes the same report and exits with `status`.
[[noreturn]] void exit_with_report(int status, std::string_view message, std::string_view detail);

}  // namespace velmora
