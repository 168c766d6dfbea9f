#pragma once

#include <string_view>

namespace velmora {

// The two ways a saved value is not put back, each said in one line on standard error, once
// per setting and per pass. `what` names the setting ("the beep", "the lid-close action on
// battery").

// The system refused or failed the write: the value stays owed (in its slot, the journal),
// and the next run or a restore-only run tries again.
void report_not_put_back(std::string_view what, std::string_view error_text);

// A leftover whose setting no longer holds what the lock wrote: the user chose it since, so
// it is left as it is and forgotten.
void report_changed_since(std::string_view what);

}  // namespace velmora
