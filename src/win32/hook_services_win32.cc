#include "hook_services_win32.h"

#include <atomic>

#include "platform.h"

namespace velmora {
namespace {

// The hook thread's one click timer, 0 when none is armed. Only the hook thread uses it.
UINT_PTR click_timer = 0;

std::atomic<HWND> current_shield{nullptr};

}  // namespace

bool take_click_timer(const MSG& msg) {
  if (msg.message != WM_TIMER || msg.hwnd != nullptr || click_timer == 0 || msg.wParam != click_timer) {
    return false;
  }
  (void)KillTimer(nullptr, click_timer);  // one-shot
  click_timer = 0;
  return true;
}

void platform_start_click_timer(unsigned milliseconds) {
  // A fresh timer rather than a re-armed one: the replacing form of SetTimer is defined
  // only for window timers.
  if (click_timer != 0) (void)KillTimer(nullptr, click_timer);
  click_timer = SetTimer(nullptr, 0, milliseconds, nullptr);
}

void publish_shield(HWND shield) { current_shield.store(shield); }

void platform_shield_pass_through(bool pass) {
  const HWND shield = current_shield.load();
  if (shield == nullptr) return;
  // Layered and transparent together make a window invisible to hit-testing.
  const LONG_PTR style = GetWindowLongPtrW(shield, GWL_EXSTYLE);
  (void)SetWindowLongPtrW(shield, GWL_EXSTYLE,
                          pass ? (style | WS_EX_TRANSPARENT) : (style & ~WS_EX_TRANSPARENT));
}

}  // namespace velmora
