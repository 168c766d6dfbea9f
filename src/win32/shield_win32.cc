#include "shield_win32.h"

#include <tpcshrd.h>

#include <array>
#include <optional>

#include "end_of_session_win32.h"

namespace velmora {
namespace {

// Alpha 1 of 255: nothing shows, but a fully transparent layered window would not be
// hit-tested and input would fall through to the windows beneath.
constexpr BYTE shield_alpha = 1;

RECT virtual_screen() {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  return RECT{left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
              top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

using SetThreadDpiAwarenessContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);

// Looked up at run time: user32 has it only from Windows 10 1607 on.
SetThreadDpiAwarenessContextFn find_set_thread_dpi_awareness() {
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  const FARPROC found = GetProcAddress(user32, "SetThreadDpiAwarenessContext");
  return reinterpret_cast<SetThreadDpiAwarenessContextFn>(reinterpret_cast<void*>(found));
}

// Makes the calling thread per-monitor DPI aware while it lives, and puts its old context
// back after. A window takes the awareness its thread had when it was made, and its window
// procedure runs in that awareness whatever the thread has meanwhile, so only the shield
// is per-monitor aware: one DPI-unaware window gets one scale factor and, on monitors of
// mixed DPI, misses physical pixels. The rest of the thread (the cursor clip it keeps)
// stays DPI-unaware like the process. Where the call is missing nothing changes.
class PerMonitorAwareness {
 public:
  PerMonitorAwareness() : set_(find_set_thread_dpi_awareness()) {
    if (set_ == nullptr) return;
    // Version 2 from Windows 10 1703 on; the first version is the fallback (Wine 8
    // refuses version 2).
    previous_ = set_(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    if (previous_ == nullptr) previous_ = set_(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
  }
  PerMonitorAwareness(const PerMonitorAwareness&) = delete;
  PerMonitorAwareness& operator=(const PerMonitorAwareness&) = delete;
  PerMonitorAwareness(PerMonitorAwareness&&) = delete;
  PerMonitorAwareness& operator=(PerMonitorAwareness&&) = delete;
  ~PerMonitorAwareness() {
    if (previous_ != nullptr) (void)set_(previous_);
  }

 private:
  SetThreadDpiAwarenessContextFn set_;
  DPI_AWARENESS_CONTEXT previous_ = nullptr;
};

// Press-and-hold (a right click), flicks (page and history commands, or keys in their
// stead), smooth scrolling and the pen's tap and barrel feedback all off: a cloth on a
// touch screen or a pen on the shield sets none of them off.
constexpr LRESULT tablet_gestures_off = TABLET_DISABLE_PRESSANDHOLD | TABLET_DISABLE_PENTAPFEEDBACK |
                                        TABLET_DISABLE_PENBARRELFEEDBACK | TABLET_DISABLE_FLICKS |
                                        TABLET_DISABLE_SMOOTHSCROLLING | TABLET_DISABLE_FLICKFALLBACKKEYS;

using SetWindowFeedbackSettingFn = BOOL(WINAPI*)(HWND, FEEDBACK_TYPE, DWORD, UINT32, const void*);

// Looked up at run time: user32 has it from Windows 8 on, and Wine 8's has none.
SetWindowFeedbackSettingFn find_set_window_feedback() {
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  const FARPROC found = GetProcAddress(user32, "SetWindowFeedbackSetting");
  return reinterpret_cast<SetWindowFeedbackSettingFn>(reinterpret_cast<void*>(found));
}

constexpr std::array<FEEDBACK_TYPE, 11> feedback_kinds = {FEEDBACK_TOUCH_CONTACTVISUALIZATION,
                                                          FEEDBACK_PEN_BARRELVISUALIZATION,
                                                          FEEDBACK_PEN_TAP,
                                                          FEEDBACK_PEN_DOUBLETAP,
                                                          FEEDBACK_PEN_PRESSANDHOLD,
                                                          FEEDBACK_PEN_RIGHTTAP,
                                                          FEEDBACK_TOUCH_TAP,
                                                          FEEDBACK_TOUCH_DOUBLETAP,
                                                          FEEDBACK_TOUCH_PRESSANDHOLD,
                                                          FEEDBACK_TOUCH_RIGHTTAP,
                                                          FEEDBACK_GESTURE_PRESSANDTAP};

}  // namespace

bool turn_off_touch_feedback(HWND shield) {
  const SetWindowFeedbackSettingFn set = find_set_window_feedback();
  if (set == nullptr) return false;
  const BOOL off = FALSE;
  bool all = true;
  for (const FEEDBACK_TYPE kind : feedback_kinds) {
    all = set(shield, kind, 0, sizeof(off), &off) != FALSE && all;
  }
  return all;
}

namespace {

void cover_virtual_screen(HWND window) {
  const RECT screen = virtual_screen();
  (void)SetWindowPos(window, HWND_TOPMOST, screen.left, screen.top, screen.right - screen.left,
                     screen.bottom - screen.top, SWP_NOACTIVATE);
}

bool is_pointer_message(UINT message) {
  // Mouse, touch (WM_TOUCH, WM_POINTER*) and gesture messages: swallowed rather than
  // handed to DefWindowProcW, which would turn pointer input into mouse input.
  return (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) || (message >= 0x0240 && message <= 0x0257) ||
         message == WM_GESTURE || message == WM_NCLBUTTONDOWN || message == WM_NCRBUTTONDOWN;
}

LRESULT CALLBACK shield_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (const std::optional<LRESULT> answer = handle_end_of_session(message, wparam)) return *answer;
  switch (message) {
    case WM_CLOSE:
      // Another program's close request (a polite taskkill, say) must not take the shield
      // down, nor with it the one window that hears of the end of the session.
      return 0;
    case WM_MOUSEACTIVATE:
    case WM_POINTERACTIVATE:
      // Neither a click nor a touch activates the shield; the two answers share a value.
      static_assert(MA_NOACTIVATE == PA_NOACTIVATE);
      return MA_NOACTIVATE;
    case WM_SETCURSOR:
      SetCursor(nullptr);
      return TRUE;
    case WM_TABLET_QUERYSYSTEMGESTURESTATUS:
      return tablet_gestures_off;
    case WM_CONTEXTMENU:
      return 0;  // a press-and-hold or a pen's barrel button that got through opens nothing
    case WM_DISPLAYCHANGE:
      // A monitor added, moved or resized: keep covering every one of them, and have the
      // thread confine the cursor to the new centre (in its own awareness, not this one's).
      cover_virtual_screen(window);
      (void)PostThreadMessageW(GetCurrentThreadId(), wm_display_changed, 0, 0);
      return 0;
    case WM_DPICHANGED:
      // The suggested rectangle fits one monitor; the shield keeps covering them all.
      cover_virtual_screen(window);
      return 0;
    default:
      break;
  }
  if (is_pointer_message(message)) return 0;
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

void ShieldCloser::operator()(HWND shield) const noexcept { (void)DestroyWindow(shield); }

UniqueShield create_shield(HINSTANCE module) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = shield_window_proc;
  window_class.hInstance = module;
  window_class.hCursor = nullptr;  // no class cursor: WM_SETCURSOR sets none either
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  window_class.lpszClassName = shield_window_class;
  (void)RegisterClassExW(&window_class);

  const PerMonitorAwareness awareness;
  const RECT screen = virtual_screen();
  UniqueShield shield(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_LAYERED,
                                      shield_window_class, nullptr, WS_POPUP, screen.left, screen.top,
                                      screen.right - screen.left, screen.bottom - screen.top, nullptr,
                                      nullptr, module, nullptr));
  if (!shield) return shield;
  (void)SetLayeredWindowAttributes(shield.get(), 0, shield_alpha, LWA_ALPHA);
  // Best effort: without it the visuals may show, but nothing is pressed.
  (void)turn_off_touch_feedback(shield.get());
  (void)ShowWindow(shield.get(), SW_SHOWNOACTIVATE);
  return shield;
}

void set_shield_pass_through(HWND shield, bool pass) {
  // Layered and transparent together make a window invisible to hit-testing.
  const LONG_PTR style = GetWindowLongPtrW(shield, GWL_EXSTYLE);
  (void)SetWindowLongPtrW(shield, GWL_EXSTYLE,
                          pass ? (style | WS_EX_TRANSPARENT) : (style & ~WS_EX_TRANSPARENT));
  // Windows caches some of a window's styles until SetWindowPos is told the frame changed.
  (void)SetWindowPos(shield, nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace velmora
