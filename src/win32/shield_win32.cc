#include "shield_win32.h"

#include <tpcshrd.h>

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "end_of_session_win32.h"

namespace velmora {
namespace {

// Alpha 1 of 255: nothing shows, but a fully transparent layered window would not be
// hit-tested and input would fall through to the windows beneath.
constexpr BYTE shield_alpha = 1;

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

// Every monitor's rectangle, in the calling thread's awareness (physical pixels inside a
// PerMonitorAwareness), the primary's first; the primary's alone if none can be listed.
std::vector<RECT> monitor_areas() {
  std::vector<RECT> areas;
  (void)EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR monitor, HDC, LPRECT area, LPARAM list) -> BOOL {
        auto& found = *reinterpret_cast<std::vector<RECT>*>(list);
        MONITORINFO info{};
        info.cbSize = sizeof(info);
        const bool primary =
            GetMonitorInfoW(monitor, &info) != FALSE && (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
        found.insert(primary ? found.begin() : found.end(), *area);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&areas));
  if (areas.empty())
    areas.push_back(RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
  return areas;
}

void cover(HWND window, const RECT& area) {
  (void)SetWindowPos(window, HWND_TOPMOST, area.left, area.top, area.right - area.left,
                     area.bottom - area.top, SWP_NOACTIVATE);
}

// The rectangle of the monitor the window is on, in the window's own awareness.
void cover_own_monitor(HWND window) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &info) != FALSE) {
    cover(window, info.rcMonitor);
  }
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
      // A monitor added, moved or resized: the thread fits a shield to each monitor again
      // and confines the cursor to the new centre. Every shield hears it; one refit serves.
      (void)PostThreadMessageW(GetCurrentThreadId(), wm_display_changed, 0, 0);
      return 0;
    case WM_DPICHANGED:
      // Its monitor's scale changed: it keeps covering that monitor, pixel for pixel.
      cover_own_monitor(window);
      return 0;
    default:
      break;
  }
  if (is_pointer_message(message)) return 0;
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

void ShieldCloser::operator()(HWND shield) const noexcept { (void)DestroyWindow(shield); }

namespace {

void register_shield_class(HINSTANCE module) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = shield_window_proc;
  window_class.hInstance = module;
  window_class.hCursor = nullptr;  // no class cursor: WM_SETCURSOR sets none either
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  window_class.lpszClassName = shield_window_class;
  (void)RegisterClassExW(&window_class);
}

// Made on the calling thread inside a PerMonitorAwareness, so `area` is in physical pixels.
UniqueShield create_shield(HINSTANCE module, const RECT& area) {
  UniqueShield shield(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_LAYERED,
                                      shield_window_class, nullptr, WS_POPUP, area.left, area.top,
                                      area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                                      module, nullptr));
  if (!shield) return shield;
  (void)SetLayeredWindowAttributes(shield.get(), 0, shield_alpha, LWA_ALPHA);
  // Best effort: without it the visuals may show, but nothing is pressed.
  (void)turn_off_touch_feedback(shield.get());
  (void)ShowWindow(shield.get(), SW_SHOWNOACTIVATE);
  return shield;
}

}  // namespace

Shields create_shields(HINSTANCE module) {
  register_shield_class(module);
  const PerMonitorAwareness awareness;
  Shields shields;
  for (const RECT& area : monitor_areas()) {
    shields.push_back(create_shield(module, area));
    if (!shields.back()) return Shields{};
  }
  return shields;
}

bool refit_shields(Shields& shields, HINSTANCE module) {
  const PerMonitorAwareness awareness;
  const std::vector<RECT> areas = monitor_areas();
  // Fresh shields first, for monitors added, so no monitor is ever left uncovered.
  bool all = true;
  while (shields.size() < areas.size()) {
    UniqueShield added = create_shield(module, areas[shields.size()]);
    if (!added) {
      all = false;
      break;
    }
    shields.push_back(std::move(added));
  }
  for (std::size_t i = 0; i < shields.size() && i < areas.size(); ++i) cover(shields[i].get(), areas[i]);
  if (shields.size() > areas.size()) shields.resize(areas.size());
  return all;
}

std::size_t shield_for_monitor(const Shields& shields, HMONITOR monitor) {
  for (std::size_t i = 0; i < shields.size(); ++i) {
    if (MonitorFromWindow(shields[i].get(), MONITOR_DEFAULTTONULL) == monitor) return i;
  }
  return 0;  // the primary monitor's
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
