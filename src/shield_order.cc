#include "shield_order.h"

#include <algorithm>

namespace velmora {
namespace {

bool shows(const WindowFacts& window) { return window.visible && !window.cloaked; }

bool is_parents(const WindowFacts& window, std::uint32_t parent_process) {
  return parent_process != 0 && window.process == parent_process && shows(window);
}

bool covers(const WindowFacts& window, std::uint32_t own_process, std::uint32_t parent_process) {
  return shows(window) && window.topmost && window.process != own_process &&
         (parent_process == 0 || window.process != parent_process);
}

bool contains(const std::vector<std::uint64_t>& handles, std::uint64_t handle) {
  return std::find(handles.begin(), handles.end(), handle) != handles.end();
}

}  // namespace

std::uint32_t window_owning_parent(std::span<const std::uint32_t> ancestors, std::uint32_t shell_process,
                                   std::span<const WindowFacts> windows) {
  for (const std::uint32_t process : ancestors) {
    if (process == 0 || process == shell_process) return 0;
    const bool owns_one = std::any_of(windows.begin(), windows.end(), [process](const WindowFacts& window) {
      return window.process == process && window.visible;
    });
    if (owns_one) return process;
  }
  return 0;
}

std::vector<ZOrderMove> shield_moves(std::span<const WindowFacts> above, std::uint64_t shield,
                                     std::uint32_t own_process, std::uint32_t parent_process,
                                     ShieldPassState& state) {
  const auto still_covering = [&](std::uint64_t handle) {
    return std::any_of(above.begin(), above.end(), [&](const WindowFacts& window) {
      return window.handle == handle && covers(window, own_process, parent_process);
    });
  };
  // A window left be is tried again once it has changed: hidden, cloaked, no longer
  // topmost, or no longer above the shield.
  std::erase_if(state.left_be, [&](std::uint64_t handle) { return !still_covering(handle); });

  std::size_t highest = 0;
  for (;;) {
    while (highest < above.size() && !(covers(above[highest], own_process, parent_process) &&
                                       !contains(state.left_be, above[highest].handle))) {
      ++highest;
    }
    if (highest == above.size()) {
      state.trying = 0;
      state.tries = 0;
      return {};
    }
    const std::uint64_t handle = above[highest].handle;
    state.tries = handle == state.trying ? state.tries + 1 : 1;
    state.trying = handle;
    if (state.tries <= shield_pass_tries) break;
    // Tried enough rounds in a row: it sits where the shield cannot go, or puts itself
    // back on top each time. Fighting it for ever helps nobody.
    state.left_be.push_back(handle);
    state.trying = 0;
    state.tries = 0;
  }

  std::optional<std::uint64_t> anchor;
  for (std::size_t i = 0; i < highest; ++i) {
    if (is_parents(above[i], parent_process) || contains(state.left_be, above[i].handle)) {
      anchor = above[i].handle;
    }
  }
  std::vector<ZOrderMove> moves{ZOrderMove{shield, anchor}};
  for (std::size_t i = above.size(); i > highest + 1; --i) {
    if (is_parents(above[i - 1], parent_process)) moves.push_back(ZOrderMove{above[i - 1].handle, anchor});
  }
  return moves;
}

}  // namespace velmora
