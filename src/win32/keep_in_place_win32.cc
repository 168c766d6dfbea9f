#include "keep_in_place_win32.h"

#include <dwmapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "cursor_clip.h"
#include "fatal_error.h"
#include "keep_in_place_schedule.h"
#include "shield_order.h"
#include "win32_handles.h"

namespace velmora {

std::atomic<std::uint32_t> last_keyboard_hook_call{0};
std::atomic<std::uint32_t> last_mouse_hook_call{0};

namespace {

// All touched by the hook thread only: its timer runs the rounds.
UINT_PTR keep_timer = 0;
KeepInPlaceWork keep_work;
KeepInPlaceSchedule schedule;
ShieldPassState pass_state;
std::optional<std::vector<std::uint32_t>> ancestors;  // looked up at the first round, off the start-up path
bool session_locked = false;
std::optional<std::uint32_t> last_raw_keyboard;
std::optional<std::uint32_t> last_raw_mouse;
std::vector<WindowFacts> windows;  // kept between rounds for its capacity

// Deep enough for any launcher chain; a cycle of reused process ids ends it too.
constexpr std::size_t max_ancestors = 16;
// A bound on the z-order walk, in case windows come and go under it.
constexpr std::size_t max_windows = 4096;

// The chain of processes that started this one, the immediate parent first.
std::vector<std::uint32_t> find_ancestors() {
  std::vector<std::uint32_t> chain;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return chain;
  const UniqueHandle owner(snapshot);
  std::vector<std::pair<DWORD, DWORD>> parents;  // process, its parent
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more != FALSE;
       more = Process32NextW(snapshot, &entry)) {
    parents.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
  }
  DWORD process = GetCurrentProcessId();
  while (chain.size() < max_ancestors) {
    const auto found = std::find_if(parents.begin(), parents.end(),
                                    [process](const auto& pair) { return pair.first == process; });
    if (found == parents.end() || found->second == 0) break;
    process = found->second;
    if (process == GetCurrentProcessId() || std::find(chain.begin(), chain.end(), process) != chain.end())
      break;
    chain.push_back(process);
  }
  return chain;
}

std::uint32_t shell_process() {
  DWORD process = 0;
  if (const HWND shell = GetShellWindow()) (void)GetWindowThreadProcessId(shell, &process);
  return process;
}

// DWM hides cloaked windows although they count as visible: the shell keeps Start, search
// and the windows of other virtual desktops so (DwmGetWindowAttribute, DWMWA_CLOAKED).
bool is_cloaked(HWND window) {
  DWORD cloaked = 0;
  return SUCCEEDED(DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof(cloaked))) && cloaked != 0;
}

std::uint64_t as_number(HWND window) { return reinterpret_cast<std::uintptr_t>(window); }
HWND as_window(std::uint64_t number) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(number)); }

// Every top-level window, topmost first; the index of the shield among them, or the
// count when it is not there.
std::size_t gather_windows(HWND shield) {
  windows.clear();
  std::size_t shield_index = max_windows;
  for (HWND window = GetTopWindow(nullptr); window != nullptr && windows.size() < max_windows;
       window = GetWindow(window, GW_HWNDNEXT)) {
    const bool above = shield_index == max_windows;
    if (window == shield) shield_index = windows.size();
    WindowFacts facts;
    facts.handle = as_number(window);
    DWORD process = 0;
    (void)GetWindowThreadProcessId(window, &process);
    facts.process = process;
    facts.visible = IsWindowVisible(window) != FALSE;
    facts.topmost = (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    // Only what lies above the shield is asked of the compositor.
    facts.cloaked = above && window != shield && facts.visible && is_cloaked(window);
    windows.push_back(facts);
  }
  return std::min(shield_index, windows.size());
}

// SetWindowPos: a window placed right after a topmost window stays among the topmost. The
// parent's windows belong to another program's thread: SWP_ASYNCWINDOWPOS posts the move
// to it instead of waiting, so a parent that hangs never holds up the hooks' thread.
void apply(const ZOrderMove& move, HWND shield) {
  const HWND window = as_window(move.window);
  const HWND after = move.insert_after ? as_window(*move.insert_after) : HWND_TOPMOST;
  UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  if (window != shield) flags |= SWP_ASYNCWINDOWPOS;
  (void)SetWindowPos(window, after, 0, 0, 0, 0, flags);
}

void keep_shield_on_top(HWND shield) {
  if (!ancestors) ancestors = find_ancestors();
  const std::size_t shield_index = gather_windows(shield);
  if (shield_index == windows.size()) return;
  const std::span<const WindowFacts> all(windows);
  const std::uint32_t parent = window_owning_parent(*ancestors, shell_process(), all);
  for (const ZOrderMove& move :
       shield_moves(all.first(shield_index), as_number(shield), GetCurrentProcessId(), parent, pass_state)) {
    apply(move, shield);
  }
}

void note_both_hooks_called() {
  note_hook_call(InputClass::Keyboard);
  note_hook_call(InputClass::Mouse);
}

void run_round() {
  if (session_locked) note_both_hooks_called();
  const InputClock keyboard{last_raw_keyboard, last_keyboard_hook_call.load(std::memory_order_relaxed)};
  const InputClock mouse{last_raw_mouse, last_mouse_hook_call.load(std::memory_order_relaxed)};
  const RoundSteps steps = next_round(schedule, GetTickCount(), keyboard, mouse);
  if (steps.confine_cursor) keep_cursor_confined();
  if (steps.restack_shield) {
    for (const HWND shield : keep_work.shields) keep_shield_on_top(shield);
  }
  if (steps.retry_session) keep_work.retry_session(keep_work.owner);
  if (steps.refresh_hooks) keep_work.refresh_hooks(keep_work.owner);
  if (steps.tell_removal) {
    report_error("input reached the system that no hook saw (Windows removes a slow hook silently)",
                 "the hooks were installed again");
  }
}

}  // namespace

void note_session_locked(bool locked) {
  session_locked = locked;
  note_both_hooks_called();
}

void note_raw_input(InputClass device) {
  (device == InputClass::Keyboard ? last_raw_keyboard : last_raw_mouse) = GetTickCount();
}

std::uint64_t parent_window() {
  if (!ancestors) ancestors = find_ancestors();
  (void)gather_windows(nullptr);
  const std::uint32_t parent = window_owning_parent(*ancestors, shell_process(), windows);
  if (parent == 0) return 0;
  const auto found = std::find_if(windows.begin(), windows.end(), [parent](const WindowFacts& window) {
    return window.process == parent && window.visible;
  });
  return found == windows.end() ? 0 : found->handle;
}

void start_keep_in_place(const KeepInPlaceWork& work) {
  keep_work = work;
  schedule = KeepInPlaceSchedule{};
  pass_state = ShieldPassState{};
  last_raw_keyboard.reset();
  last_raw_mouse.reset();
  note_both_hooks_called();  // input before the hooks were there is no hook's to see
  keep_timer = SetTimer(nullptr, 0, keep_in_place_ms, nullptr);
}

bool take_keep_in_place_tick(const MSG& msg) {
  if (msg.message != WM_TIMER || msg.hwnd != nullptr || keep_timer == 0 || msg.wParam != keep_timer)
    return false;
  run_round();
  return true;
}

void keep_shields_in_place(std::vector<HWND> shields) { keep_work.shields = std::move(shields); }

void stop_keep_in_place() {
  if (keep_timer != 0) (void)KillTimer(nullptr, keep_timer);
  keep_timer = 0;
}

}  // namespace velmora
