#pragma once

// The shell's edge swipes (notifications, widgets, task view) are the shell's, not input a
// hook sees, and the panel they open lies above the shield. Where there is a touch screen
// the shield asks the shell to leave them off (PKEY_EdgeGesture_DisableTouchWhenFullscreen,
// which acts while the window is active and full-screen) and takes the foreground for
// that; at the end it gives the foreground back. Plain code over the seam, so that the
// decisions and their order are tested natively; the hook thread runs it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora {

// The NID_* bits of GetSystemMetrics(SM_DIGITIZER) (checked against <windows.h> on the
// Windows side).
inline constexpr std::uint32_t nid_integrated_touch = 0x01;
inline constexpr std::uint32_t nid_external_touch = 0x02;
inline constexpr std::uint32_t nid_ready = 0x80;

// A touch digitizer, built in or external, that is ready for input.
bool has_touch_screen(std::uint32_t digitizer);

// What blocking the edge swipes left to undo.
struct EdgeSwipeBlock {
  std::vector<std::uint64_t> shields;     // those that hold the property
  std::uint64_t active = 0;               // the shield made the foreground window, or 0
  bool foreground_taken = false;          // it did become the foreground window
  std::uint64_t previous_foreground = 0;  // the window that had it when the lock began
};

// On a machine with a touch screen: sets the property on every shield (one per monitor),
// then makes the touch monitor's shield, `shields[touch_shield]`, the foreground window, and
// confines the cursor again at once (some activations clear a clip). Windows may refuse the
// foreground; the lock then holds without edge suppression, and one line on standard error
// says so. Without a touch screen nothing happens: no shield ever takes the foreground.
// Called before the hooks are installed, so no shell call stands in the hook procedures' way.
EdgeSwipeBlock block_edge_swipes(const std::vector<std::uint64_t>& shields, std::size_t touch_shield);

// Clears the property on every shield, then gives the foreground back to the window that had it when the
// lock began (if it is still there and answers; else to `parent_window()`, the parent's
// window, or to none when that is 0). Called before the shield is destroyed, while this
// process still holds the foreground and with it the right to hand it on.
void unblock_edge_swipes(const EdgeSwipeBlock& block, std::uint64_t (*parent_window)());

}  // namespace velmora
