#pragma once

#include <windows.h>

#include <optional>

namespace velmora {

// The answer to an end-of-session message, for any top-level window procedure of the
// hook thread to return; empty for every other message. A query is always allowed, and a
// session that really ends gets every setting back before this returns.
std::optional<LRESULT> handle_end_of_session(UINT message, WPARAM wparam);

}  // namespace velmora
