#pragma once

#include <windows.h>

namespace velmora {

// The hook thread's side of two seam calls the click gate makes, kept apart from the hook
// thread itself so that the seam stays a leaf: the one-shot click timer
// (platform_start_click_timer) and the shield's pass-through switch
// (platform_shield_pass_through). Everything here runs on the hook thread.

// True when `msg` is the click timer firing; the timer is then disarmed.
bool take_click_timer(const MSG& msg);

// The shield the pass-through switch acts on; null when there is none.
void publish_shield(HWND shield);

}  // namespace velmora
