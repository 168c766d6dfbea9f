#include "fatal_error.h"

#include <string>

#include "event_stream.h"
#include "platform.h"

namespace velmora {

inline constexpr int fatal_exit_status = 101;

void report_error(std::string_view message, std::string_view detail) {
  std::string report = "velmora-sidecar: ";
  report.append(message);
  if (!detail.empty()) {
    report.append(": ");
    report.append(detail);
  }
  report.push_back('\n');
  platform_write_stderr(report.data(), report.size());
}

void exit_with_report(int status, std::string_view message, std::string_view detail) {
  report_error(message, detail);
  exit_holding_stdout(status);
}

void fatal_error(std::string_view message, std::string_view detail) {
  exit_with_report(fatal_exit_status, message, detail);
}

}  // namespace velmora
