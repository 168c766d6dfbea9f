#pragma once

#include <cstdint>

namespace velmora {

enum class HookVerdict { Pass, Swallow };

// The keyboard hook's decision for one keystroke, free of Windows types: `message` is the
// hook's wParam, `vk` the keystroke's virtual-key code. Reports the keystroke on the
// event channel while capture is active, then says whether to swallow it.
// Never waits, never allocates.
HookVerdict keyboard_filter(std::int32_t code, std::uint64_t message, std::uint32_t vk) noexcept;

// True for WM_KEYDOWN and WM_SYSKEYDOWN (the 0x4 bit is what tells them apart).
constexpr bool is_key_down_message(std::uint64_t message) noexcept {
  return (static_cast<std::uint32_t>(message) & ~std::uint32_t{4}) == 0x0100;
}

}  // namespace velmora
