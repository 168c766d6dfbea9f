#include "hook_thread_win32.h"

#include <wtsapi32.h>

#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "click_gate.h"
#include "cursor_clip.h"
#include "edge_swipes.h"
#include "hook_refresh.h"
#include "keep_in_place_win32.h"
#include "keyboard_filter.h"
#include "platform.h"
#include "process_state.h"
#include "raw_input_win32.h"
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

namespace {

// The click gate, its one-shot timer (0 when none is armed) and the shield it opens. Only
// the hook thread touches them: the hooks, the timer and the loop all run on it.
ClickGate click_gate;
UINT_PTR click_timer = 0;
std::vector<HWND> current_shields;  // one per monitor
// The thread's shields and its module, for the refit after a display change.
Shields* live_shields = nullptr;
HINSTANCE live_module = nullptr;
// Whether raw input reaches the session window through this thread's own registration;
// only then does its time count.
bool raw_input_held = false;

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

// Session notifications for the window, when there is one. A registration that fails
// (the session service may not be up yet at logon) is tried again by `retry`, from the
// keep-in-place timer, until it holds.
class SessionNotification {
 public:
  explicit SessionNotification(HWND window) : window_(window) { retry(); }
  SessionNotification(const SessionNotification&) = delete;
  SessionNotification& operator=(const SessionNotification&) = delete;
  SessionNotification(SessionNotification&&) = delete;
  SessionNotification& operator=(SessionNotification&&) = delete;
  ~SessionNotification() {
    if (registered_) (void)WTSUnRegisterSessionNotification(window_);
  }

  void retry() {
    if (window_ == nullptr || registered_) return;
    registered_ = WTSRegisterSessionNotification(window_, NOTIFY_FOR_THIS_SESSION) != FALSE;
  }

 private:
  HWND window_;
  bool registered_ = false;
};

std::vector<std::uint64_t> handle_numbers(const Shields& shields) {
  std::vector<std::uint64_t> numbers;
  for (const UniqueShield& shield : shields)
    numbers.push_back(reinterpret_cast<std::uintptr_t>(shield.get()));
  return numbers;
}

std::vector<HWND> handles(const Shields& shields) {
  std::vector<HWND> windows;
  for (const UniqueShield& shield : shields) windows.push_back(shield.get());
  return windows;
}

using GetPointerDevicesFn = BOOL(WINAPI*)(UINT32*, POINTER_DEVICE_INFO*);

// The shield of the monitor the first touch screen belongs to (GetPointerDevices, field
// `monitor`; user32 has it from Windows 8 on, looked up at run time); the primary
// monitor's when there is none or the call fails.
std::size_t touch_shield_index(const Shields& shields) {
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  const auto get = reinterpret_cast<GetPointerDevicesFn>(
      reinterpret_cast<void*>(user32 != nullptr ? GetProcAddress(user32, "GetPointerDevices") : nullptr));
  if (get == nullptr) return 0;
  UINT32 count = 0;
  if (get(&count, nullptr) == FALSE || count == 0) return 0;
  std::vector<POINTER_DEVICE_INFO> devices(count);
  if (get(&count, devices.data()) == FALSE) return 0;
  devices.resize(count);
  for (const POINTER_DEVICE_INFO& device : devices) {
    if (device.pointerDeviceType == POINTER_DEVICE_TYPE_TOUCH)
      return shield_for_monitor(shields, device.monitor);
  }
  return 0;
}

// The shell's edge swipes kept off for as long as it lives, or until `end`, which the
// thread calls before it removes its hooks; either way before the shield is destroyed.
class EdgeSwipeHold {
 public:
  explicit EdgeSwipeHold(const Shields& shields)
      : block_(block_edge_swipes(handle_numbers(shields), touch_shield_index(shields))) {}
  EdgeSwipeHold(const EdgeSwipeHold&) = delete;
  EdgeSwipeHold& operator=(const EdgeSwipeHold&) = delete;
  EdgeSwipeHold(EdgeSwipeHold&&) = delete;
  EdgeSwipeHold& operator=(EdgeSwipeHold&&) = delete;
  ~EdgeSwipeHold() { end(); }

  void end() {
    if (ended_) return;
    ended_ = true;
    unblock_edge_swipes(block_, parent_window);
  }

 private:
  EdgeSwipeBlock block_;
  bool ended_ = false;
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

// Without both hooks and the shield there is no lock: say which part failed and why, and end
// the thread, so that the driver undoes its start-up instead of announcing a lock.
void report_failure(std::promise<HookThreadReport>& sender, HookThreadPart part) {
  std::string error_text = platform_last_error_text();  // before any other call resets it
  send_report(sender, HookThreadReport{0, HookFailure{part, std::move(error_text)}});
}

LRESULT CALLBACK keyboard_hook(int code, WPARAM message, LPARAM info);
LRESULT CALLBACK mouse_hook(int code, WPARAM message, LPARAM info);

void arm_click_timer(unsigned milliseconds) {
  // A fresh timer rather than a re-armed one: the replacing form of SetTimer is defined
  // only for window timers.
  if (click_timer != 0) (void)KillTimer(nullptr, click_timer);
  click_timer = SetTimer(nullptr, 0, milliseconds, nullptr);
}

bool take_click_timer(const MSG& msg) {
  if (msg.message != WM_TIMER || msg.hwnd != nullptr || click_timer == 0 || msg.wParam != click_timer) {
    return false;
  }
  (void)KillTimer(nullptr, click_timer);  // one-shot
  click_timer = 0;
  return true;
}

void send_mouse_press(MouseButton button) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = button == MouseButton::Left ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_RIGHTDOWN;
  input.mi.dwExtraInfo = static_cast<ULONG_PTR>(gate_press_tag);
  (void)SendInput(1, &input, sizeof(INPUT));
}

void apply_gate_effects(const GateEffects& effects) {
  if (effects.shield_pass_through) {
    for (const HWND shield : current_shields) set_shield_pass_through(shield, *effects.shield_pass_through);
  }
  if (effects.inject_press) send_mouse_press(*effects.inject_press);
  if (effects.arm_timer_ms) arm_click_timer(*effects.arm_timer_ms);
}

// The two low-level hooks, owned by the hook thread and refreshed from its timer.
struct Hooks {
  UniqueHook keyboard;
  UniqueHook mouse;
};

UniqueHook install_hook(int type) {
  return UniqueHook(SetWindowsHookExW(type, type == WH_KEYBOARD_LL ? keyboard_hook : mouse_hook, nullptr, 0));
}

// Windows removes a low-level hook that once took too long (LowLevelHooksTimeout) without
// a word, and nothing tells the program; a fresh pair every few seconds brings a lost one
// back. Each fresh hook is installed before its old one is removed. No key is lost or
// reported twice meanwhile: a low-level hook is called by a message sent to the thread
// that installed it, and this thread retrieves no message between the install and the
// removal, so neither hook is called in between; and SetWindowsHookExW puts a hook at the
// beginning of its chain, so were one called, the fresh one would come first and, by
// swallowing the key (returning nonzero without CallNextHookEx), keep it from the old one.
void refresh_hooks(Hooks& hooks) {
  (void)refresh_hook(hooks.keyboard, [] { return install_hook(WH_KEYBOARD_LL); });
  (void)refresh_hook(hooks.mouse, [] { return install_hook(WH_MOUSE_LL); });
}

// What the keep-in-place rounds refresh and retry, owned by the hook thread.
struct HookThreadParts {
  Hooks* hooks;
  SessionNotification* notification;
};

KeepInPlaceWork keep_in_place_work(const Shields& shields, HookThreadParts& parts) {
  KeepInPlaceWork work;
  work.shields = handles(shields);
  work.refresh_hooks = [](void* owner) { refresh_hooks(*static_cast<HookThreadParts*>(owner)->hooks); };
  work.retry_session = [](void* owner) { static_cast<HookThreadParts*>(owner)->notification->retry(); };
  work.owner = &parts;
  return work;
}

// A shield for each monitor again; the ones added are not yet let through by a long press
// under way, which ends with its release anyway.
void refit_after_display_change() {
  if (live_shields == nullptr) return;
  (void)refit_shields(*live_shields, live_module);
  current_shields = handles(*live_shields);
  keep_shields_in_place(current_shields);
}

void run_message_loop() {
  MSG msg{};
  // 0 is WM_QUIT, -1 an error: both end the loop.
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // A hotkey is taken so that its usual action (mute, media, browser, launch) never runs.
    if (msg.message == WM_HOTKEY) continue;
    if (take_click_timer(msg)) {
      apply_gate_effects(click_timer_elapsed(click_gate));
      continue;
    }
    if (take_keep_in_place_tick(msg)) continue;
    if (msg.hwnd == nullptr && msg.message == wm_display_changed) {
      refit_after_display_change();
      confine_cursor();  // the centre moved with the display
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

LRESULT CALLBACK keyboard_hook(int code, WPARAM message, LPARAM info) {
  note_hook_call(InputClass::Keyboard);
  if (code < 0) return next_hook(code, message, info);
  const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(info);
  return keyboard_filter(code, message, key->vkCode) == HookVerdict::Swallow ? 1
                                                                             : next_hook(code, message, info);
}

LRESULT CALLBACK mouse_hook(int code, WPARAM message, LPARAM info) {
  note_hook_call(InputClass::Mouse);
  if (code < 0) return next_hook(code, message, info);
  const auto* mouse = reinterpret_cast<const MSLLHOOKSTRUCT*>(info);
  MouseSource source = MouseSource::Physical;
  if ((mouse->flags & LLMHF_INJECTED) != 0) {
    source = mouse->dwExtraInfo == gate_press_tag ? MouseSource::Gate : MouseSource::Injected;
  }
  const MouseDecision decision = mouse_filter(click_gate, code, message, source);
  apply_gate_effects(decision.effects);
  return decision.verdict == HookVerdict::Swallow ? 1 : next_hook(code, message, info);
}

LRESULT CALLBACK session_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_WTSSESSION_CHANGE && static_cast<std::uint32_t>(wparam) == WTS_SESSION_LOCK) {
    // This thread must never wait on standard output: while a parent that stopped reading
    // keeps the pipe full, the hooks would time out, and the system then passes input on and
    // finally removes them. The lock is counted on the event channel; the pump writes it.
    if (EventSender* sender = event_sender.load()) sender->count(CountedEvent::SessionLock);
    note_session_locked(true);
    return 0;
  }
  if (message == WM_WTSSESSION_CHANGE && static_cast<std::uint32_t>(wparam) == WTS_SESSION_UNLOCK) {
    // The lock screen may have left the cursor free; the hold decides whether it is re-taken.
    confine_cursor();
    note_session_locked(false);
    return 0;
  }
  if (const std::optional<InputClass> device = raw_input_class(message, lparam); device && raw_input_held) {
    note_raw_input(*device);
  }
  // WM_INPUT too: DefWindowProcW frees what the system kept for it.
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

void hook_thread_body(std::promise<HookThreadReport> report_sender) {
  const DWORD thread_id = GetCurrentThreadId();
  // Give the thread its message queue before anything else: hotkeys registered on a
  // thread without one may fail to unregister later (seen under Wine once the main
  // thread has entered COM), and then outlive the process.
  MSG peek{};
  (void)PeekMessageW(&peek, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  // Under CPU load every key waits here for a core; see platform_raise_thread_priority.
  platform_raise_thread_priority();

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
  SessionNotification notification(window.get());
  const RawInputRegistration raw_input(window.get());
  raw_input_held = raw_input.held();

  // Outside diagnostic mode the screen is shielded from before `ready` until this thread
  // ends, which is before the main thread frees the cursor. Being a top-level window, the
  // shield also hears of the end of the session. A diagnostic run changes no setting, so it
  // needs neither.
  Shields shields;
  std::optional<HiddenCursor> hidden_cursor;
  if (!diagnostic_mode.load()) {
    shields = create_shields(module);
    if (shields.empty()) return report_failure(report_sender, HookThreadPart::Shield);
    hidden_cursor.emplace();
  }
  current_shields = handles(shields);
  // Shell calls come before the hooks, so that none stands in a hook procedure's way.
  std::optional<EdgeSwipeHold> edge_swipes;
  if (!shields.empty()) edge_swipes.emplace(shields);

  // The hooks come last, once everything they rely on is there, so that the system is
  // never left waiting on a hook whose thread is still busy making windows.
  Hooks hooks;
  hooks.keyboard = install_hook(WH_KEYBOARD_LL);
  if (!hooks.keyboard) {
    current_shields.clear();
    return report_failure(report_sender, HookThreadPart::KeyboardHook);
  }
  hooks.mouse = install_hook(WH_MOUSE_LL);
  if (!hooks.mouse) {
    current_shields.clear();
    return report_failure(report_sender, HookThreadPart::MouseHook);
  }

  HookThreadParts parts{&hooks, &notification};
  start_keep_in_place(keep_in_place_work(shields, parts));
  live_shields = &shields;
  live_module = module;

  send_report(report_sender, HookThreadReport{thread_id, std::nullopt});
  run_message_loop();
  stop_keep_in_place();
  // The property is cleared and the foreground handed back first; the hooks go as the
  // thread's parts are destroyed, the shield after them, and the main thread frees the
  // cursor once this thread has ended.
  if (edge_swipes) edge_swipes->end();
  live_shields = nullptr;
  current_shields.clear();
  raw_input_held = false;
}

}  // namespace velmora
