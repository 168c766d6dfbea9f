#include "cursor_clip.h"

#include <utility>

namespace velmora {

CursorSlot cursor_slot;

ClipRect centre_pixel(std::int32_t width, std::int32_t height) {
  const std::int32_t x = width / 2;
  const std::int32_t y = height / 2;
  return ClipRect{x, y, x + 1, y + 1};
}

void confine_cursor() {
  const std::lock_guard<std::mutex> hold(cursor_slot.lock);
  if (cursor_slot.hold != CursorHold::Free) return;
  const std::int32_t width = platform_screen_width();
  const std::int32_t height = platform_screen_height();
  const ClipRect rect = centre_pixel(width, height);
  platform_clip_cursor(&rect);
  cursor_slot.hold = CursorHold::Confined;
}

void release_cursor() {
  const std::lock_guard<std::mutex> hold(cursor_slot.lock);
  const CursorHold was = std::exchange(cursor_slot.hold, CursorHold::GivenBack);
  if (was != CursorHold::Confined) return;
  platform_clip_cursor(nullptr);
}

}  // namespace velmora
