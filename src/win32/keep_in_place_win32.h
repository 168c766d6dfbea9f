#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace velmora {

// The two classes of device whose hooks are watched apart.
enum class InputClass : std::uint8_t { Keyboard, Mouse };

// The system tick at which each hook procedure last ran, or the hooks were installed. The
// hook procedures store it with note_hook_call: one atomic store, no wait, no allocation.
extern std::atomic<std::uint32_t> last_keyboard_hook_call;
extern std::atomic<std::uint32_t> last_mouse_hook_call;
inline void note_hook_call(InputClass device) {
  (device == InputClass::Keyboard ? last_keyboard_hook_call : last_mouse_hook_call)
      .store(GetTickCount(), std::memory_order_relaxed);
}

// Raw input of the class arrived (WM_INPUT on the hook thread's session window).
void note_raw_input(InputClass device);

// While the session is locked, input goes to the lock screen's desktop, where no hook of
// this one sees it: the rounds take it as seen. Called from the session window.
void note_session_locked(bool locked);

// What the rounds act on besides the cursor clip, all owned by the hook thread.
struct KeepInPlaceWork {
  std::vector<HWND> shields;  // one per monitor; none in diagnostic mode
  void (*refresh_hooks)(void* owner) = nullptr;
  void (*retry_session)(void* owner) = nullptr;
  void* owner = nullptr;
};

// Starts the half-second timer of the calling thread, which must pump its messages: each
// round confines the cursor again, puts the shield back on top, retries the session
// registration, and refreshes the hooks on the schedule of keep_in_place_schedule.h.
void start_keep_in_place(const KeepInPlaceWork& work);
// Runs a round when `msg` is that timer's; false for any other message.
bool take_keep_in_place_tick(const MSG& msg);
void stop_keep_in_place();
// The shields after a display change fitted them to the monitors again.
void keep_shields_in_place(std::vector<HWND> shields);

// The parent's topmost visible window (see shield_order.h for who the parent is), as a
// handle number; 0 when there is none.
std::uint64_t parent_window();

}  // namespace velmora
