#pragma once

#include <windows.h>

#include <optional>

#include "win32_handles.h"

namespace velmora {

inline constexpr wchar_t end_session_window_class[] = L"VelmoraSidecarEndSession";

// The answer to an end-of-session message, for any top-level window procedure of the
// hook thread to return; empty for every other message. A query is always allowed, and a
// session that really ends gets every setting back before this returns.
std::optional<LRESULT> handle_end_of_session(UINT message, WPARAM wparam);

// A hidden top-level window, there only because the system announces the end of the
// session to top-level windows alone. Never shown, never activated, never in the taskbar
// or the window switcher. Null when it cannot be made.
UniqueWindow create_end_session_window(HINSTANCE module);

}  // namespace velmora
