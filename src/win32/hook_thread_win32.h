#pragma once

#include <windows.h>

#include <array>
#include <future>

#include "session_driver.h"

namespace velmora {

inline constexpr int first_hotkey_id = 1000;

// The keys taken as system hotkeys, by identifier from 1000 up. Volume up and down are
// left to the system on purpose.
inline constexpr std::array<UINT, 16> hotkey_keys = {
    VK_VOLUME_MUTE,  VK_MEDIA_NEXT_TRACK,    VK_MEDIA_PREV_TRACK,  VK_MEDIA_PLAY_PAUSE,
    VK_MEDIA_STOP,   VK_BROWSER_BACK,        VK_BROWSER_FORWARD,   VK_BROWSER_REFRESH,
    VK_BROWSER_STOP, VK_BROWSER_SEARCH,      VK_BROWSER_FAVORITES, VK_BROWSER_HOME,
    VK_LAUNCH_MAIL,  VK_LAUNCH_MEDIA_SELECT, VK_LAUNCH_APP1,       VK_LAUNCH_APP2};

inline constexpr wchar_t session_window_class[] = L"VelmoraSidecarWts";

// The hook thread's body, handed to run_session: the low-level hooks, the hotkeys, the
// session window and the shield, then the message loop that serves them until WM_QUIT.
void hook_thread_body(std::promise<HookThreadReport> report_sender);

}  // namespace velmora
