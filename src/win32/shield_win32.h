#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>
#include <vector>

namespace velmora {

inline constexpr wchar_t shield_window_class[] = L"VelmoraSidecarShield";

// Posted to the shield's thread when the display changed, so that the thread confines the
// cursor to the new centre.
inline constexpr UINT wm_display_changed = WM_APP + 1;

// The shield: one popup over each monitor, topmost and layered with alpha 1, so it is
// invisible to the eye but takes every touch, pen and mouse message that would reach a
// window, and hides the pointer over all of them, with the tablet stack's gestures and
// feedback off. No click or touch activates one (only the hook thread does, on a touch
// machine, for the shell's edge swipes: edge_swipes.h). Created on the calling thread,
// which must pump its messages. Each is per-monitor DPI aware where the system allows it,
// so it covers every physical pixel of its monitor, and it follows display and DPI changes.
struct ShieldCloser {
  void operator()(HWND shield) const noexcept;
};
using UniqueShield = std::unique_ptr<std::remove_pointer_t<HWND>, ShieldCloser>;
using Shields = std::vector<UniqueShield>;

// One shield per monitor, each exactly its monitor's rectangle, the primary monitor's
// first: the shell counts a window as full-screen on the monitor it fills. Empty when any of
// them cannot be made.
Shields create_shields(HINSTANCE module);
// After a display change: a shield for each monitor added, each fitted to its monitor again,
// and the ones of monitors gone destroyed. False when a monitor added got no shield.
bool refit_shields(Shields& shields, HINSTANCE module);
// The index of the shield on `monitor`, or of the primary monitor's when none is there.
std::size_t shield_for_monitor(const Shields& shields, HMONITOR monitor);

// Turns off, for the window, every touch and pen feedback (contact visualisation, tap,
// double tap, press-and-hold, right tap, the pen's barrel, press-and-tap), leaving the
// user's global settings alone. True when every call succeeded; false where the system
// lacks SetWindowFeedbackSetting (before Windows 8, and Wine).
bool turn_off_touch_feedback(HWND shield);

// Lets pointer input through the shield to the windows beneath it, or takes it again.
void set_shield_pass_through(HWND shield, bool pass);

// Lowers the calling thread's cursor show count while it lives. The count that decides
// whether the pointer is drawn is that of the thread owning the window under it.
class HiddenCursor {
 public:
  HiddenCursor() { (void)ShowCursor(FALSE); }
  HiddenCursor(const HiddenCursor&) = delete;
  HiddenCursor& operator=(const HiddenCursor&) = delete;
  HiddenCursor(HiddenCursor&&) = delete;
  HiddenCursor& operator=(HiddenCursor&&) = delete;
  ~HiddenCursor() { (void)ShowCursor(TRUE); }
};

}  // namespace velmora
