#include "hook_thread_win32.h"

#include <wtsapi32.h>

#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <utility>

#include "click_gate.h"
#include "hook_services_win32.h"
#include "keyboard_filter.h"
#include "platform.h"
#include "power_guard.h"
#include "process_state.h"
#include "shield_win32.h"
#include "win32_handles.h"

namespace velmora {

// The portable units decide on these values as plain numbers, so that they build and are
// tested natively; here they meet the platform's own definitions.
static_assert(wm_mousemove == WM_MOUSEMOVE && wm_lbuttondown == WM_LBUTTONDOWN &&
              wm_lbuttonup == WM_LBUTTONUP && wm_rbuttondown == WM_RBUTTONDOWN &&
              wm_rbuttonup == WM_RBUTTONUP);
static_assert(is_key_down_message(WM_KEYDOWN) && is_key_down_message(WM_SYSKEYDOWN) &&
              !is_key_down_message(WM_KEYUP) && !is_key_down_message(WM_SYSKEYUP));
static_assert(es_continuous == ES_CONTINUOUS && es_system_required == ES_SYSTEM_REQUIRED &&
              es_display_required == ES_DISPLAY_REQUIRED);
static_assert(static_cast<int>(MouseButton::Left) == 0 && static_cast<int>(MouseButton::Right) == 1);

namespace {

// Registers the hotkey table with no window, so WM_HOTKEY lands in this thread's queue,
// and unregisters every identifier in ascending order whether or not it was taken.
class HotkeySet {
 public:
  HotkeySet() {
    for (std::size_t i = 0; i < hotkey_keys.size(); ++i) {
      (void)RegisterHotKey(nullptr, first_hotkey_id + static_cast<int>(i), MOD_NOREPEAT, hotkey_keys[i]);
    }
  }
  HotkeySet(const HotkeySet&) = delete;
  HotkeySet& operator=(const HotkeySet&) = delete;
  HotkeySet(HotkeySet&&) = delete;
  HotkeySet& operator=(HotkeySet&&) = delete;
  ~HotkeySet() {
    for (std::size_t i = 0; i < hotkey_keys.size(); ++i) {
      (void)UnregisterHotKey(nullptr, first_hotkey_id + static_cast<int>(i));
    }
  }
};

// Session notifications for the window, when there is one.
class SessionNotification {
 public:
  explicit SessionNotification(HWND window) : window_(window) {
    if (window_ != nullptr) (void)WTSRegisterSessionNotification(window_, NOTIFY_FOR_THIS_SESSION);
  }
  SessionNotification(const SessionNotification&) = delete;
  SessionNotification& operator=(const SessionNotification&) = delete;
  SessionNotification(SessionNotification&&) = delete;
  SessionNotification& operator=(SessionNotification&&) = delete;
  ~SessionNotification() {
    if (window_ != nullptr) (void)WTSUnRegisterSessionNotification(window_);
  }

 private:
  HWND window_;
};

LRESULT next_hook(int code, WPARAM message, LPARAM info) {
  return CallNextHookEx(nullptr, code, message, info);
}

// A driver that is gone no longer listens; the thread carries on as it would have.
void send_report(std::promise<HookThreadReport>& sender, HookThreadReport report) {
  try {
    sender.set_value(std::move(report));
  } catch (const std::future_error&) {
  }
}

// Without both hooks there is no lock: say which one failed and why, and end the thread,
// so that the driver undoes its start-up instead of announcing a lock.
void report_hook_failure(std::promise<HookThreadReport>& sender, LowLevelHook hook) {
  std::string error_text = platform_last_error_text();  // before any other call resets it
  send_report(sender, HookThreadReport{0, HookFailure{hook, std::move(error_text)}});
}

void run_message_loop() {
  MSG msg{};
  // 0 is WM_QUIT, -1 an error: both end the loop.
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // A hotkey is taken so that its usual action (mute, media, browser, launch) never runs.
    if (msg.message == WM_HOTKEY) continue;
    if (take_click_timer(msg)) {
      click_timer_elapsed();
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace

LRESULT CALLBACK keyboard_hook(int code, WPARAM message, LPARAM info) {
  if (code < 0) return next_hook(code, message, info);
  const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(info);
  return keyboard_filter(code, message, key->vkCode) == HookVerdict::Swallow ? 1
                                                                             : next_hook(code, message, info);
}

LRESULT CALLBACK mouse_hook(int code, WPARAM message, LPARAM info) {
  if (code < 0) return next_hook(code, message, info);
  const auto* mouse = reinterpret_cast<const MSLLHOOKSTRUCT*>(info);
  const bool injected = (mouse->flags & LLMHF_INJECTED) != 0;
  return mouse_filter(code, message, injected) == HookVerdict::Swallow ? 1 : next_hook(code, message, info);
}

LRESULT CALLBACK session_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_WTSSESSION_CHANGE && static_cast<std::uint32_t>(wparam) == WTS_SESSION_LOCK) {
    // This thread must never wait on standard output: while a parent that stopped reading
    // keeps the pipe full, the hooks would time out, and the system then passes input on and
    // finally removes them. The lock is counted on the key channel; the pump writes it.
    if (KeySender* sender = key_event_sender.load()) sender->send_session_lock();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void hook_thread_body(std::promise<HookThreadReport> report_sender) {
  const DWORD thread_id = GetCurrentThreadId();
  // Give the thread its message queue before anything else: hotkeys registered on a
  // thread without one may fail to unregister later (seen under Wine once the main
  // thread has entered COM), and then outlive the process.
  MSG peek{};
  (void)PeekMessageW(&peek, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

  const UniqueHook keyboard(SetWindowsHookExW(WH_KEYBOARD_LL, keyboard_hook, nullptr, 0));
  if (!keyboard) return report_hook_failure(report_sender, LowLevelHook::Keyboard);
  const UniqueHook mouse(SetWindowsHookExW(WH_MOUSE_LL, mouse_hook, nullptr, 0));
  if (!mouse) return report_hook_failure(report_sender, LowLevelHook::Mouse);
  const HotkeySet hotkeys;

  const HINSTANCE module = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = session_window_proc;
  window_class.hInstance = module;
  window_class.lpszClassName = session_window_class;
  // A failed registration is not fatal: the creation below then fails, and the hooks and
  // hotkeys still work.
  (void)RegisterClassExW(&window_class);
  const UniqueWindow window(CreateWindowExW(0, session_window_class, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE,
                                            nullptr, module, nullptr));
  const SessionNotification notification(window.get());

  // Outside diagnostic mode the screen is shielded from before `ready` until this thread
  // ends, which is before the main thread frees the cursor. Being a top-level window, the
  // shield also hears of the end of the session. A diagnostic run changes no setting, so it
  // needs neither.
  UniqueShield shield;
  std::optional<HiddenCursor> hidden_cursor;
  if (!diagnostic_mode.load()) {
    shield = create_shield(module);
    if (shield) hidden_cursor.emplace();
  }

  send_report(report_sender, HookThreadReport{thread_id, std::nullopt});
  run_message_loop();
}

}  // namespace velmora
