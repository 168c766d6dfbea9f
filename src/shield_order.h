#pragma once

// Where the shield goes in the z-order, decided over plain facts about the top-level
// windows, so that the decision builds and is tested natively. The Windows side
// (src/win32/keep_in_place_win32.cc) gathers the facts and applies the moves.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmora {

// One top-level window as the keep-in-place round finds it. `handle` is the window's
// handle as a number; 0 is never a window.
struct WindowFacts {
  std::uint64_t handle = 0;
  std::uint32_t process = 0;
  bool visible = false;
  bool cloaked = false;  // visible to the system, but hidden by the desktop compositor
  bool topmost = false;
};

// The parent, for the shield: the nearest process up the chain of parents (`ancestors`,
// the immediate parent first) that owns a visible top-level window among `windows`. A
// shell or a launcher in between owns none, so the application behind it is found. The
// chain stops at the desktop's shell (`shell_process`), whose taskbar is no parent's
// window. 0 when no process qualifies.
std::uint32_t window_owning_parent(std::span<const std::uint32_t> ancestors, std::uint32_t shell_process,
                                   std::span<const WindowFacts> windows);

// One z-order move: put `window` right below `insert_after`, or at the top of the
// topmost windows when that is empty.
struct ZOrderMove {
  std::uint64_t window = 0;
  std::optional<std::uint64_t> insert_after;
  bool operator==(const ZOrderMove&) const = default;
};

// What the rounds remember between them: the window the shield is trying to pass and how
// many rounds in a row it has, and the windows it has stopped trying to pass.
struct ShieldPassState {
  std::uint64_t trying = 0;
  unsigned tries = 0;
  std::vector<std::uint64_t> left_be;
};

// A window the shield cannot pass (a band above every topmost window, or a program that
// puts itself back on top as often as the shield does) is tried this many rounds in a
// row, then left where it is for as long as it stays above the shield.
inline constexpr unsigned shield_pass_tries = 3;

// The moves that put the shield back above the windows that cover it, in the order to
// make them. `above` holds the windows above the shield, topmost first. A window covers
// the shield when it is visible, not cloaked, topmost, and neither the sidecar's
// (`own_process`) nor the parent's. The shield never passes a window of the parent: it
// goes right below the lowest window it will not pass (the parent's, or one left be)
// above the highest covering window; then the parent's windows that were between that
// covering window and the shield are put back right below the same window, the lowest
// first, so that every window of the parent that was above the shield still is, in its
// own order. Empty when nothing covers the shield.
std::vector<ZOrderMove> shield_moves(std::span<const WindowFacts> above, std::uint64_t shield,
                                     std::uint32_t own_process, std::uint32_t parent_process,
                                     ShieldPassState& state);

}  // namespace velmora
