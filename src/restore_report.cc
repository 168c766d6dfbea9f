#include "restore_report.h"

#include <string>

#include "fatal_error.h"

namespace velmora {

void report_not_put_back(std::string_view what, std::string_view error_text) {
  report_error("could not put back " + std::string(what) + "; it is kept for the next run", error_text);
}

void report_changed_since(std::string_view what) {
  report_error(std::string(what) + " was changed since the lock, so it is left as it is", "");
}

}  // namespace velmora
