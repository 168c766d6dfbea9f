#include "cursor_clip.h"

#include <utility>

#include "platform.h"

namespace velmora {

CursorSlot cursor_slot;

namespace {

CursorHold hold_now() {
  const std::lock_guard<std::mutex> hold(cursor_slot.lock);
  return cursor_slot.hold;
}

ClipRect centre_pixel(std::int32_t width, std::int32_t height) {
  const std::int32_t x = width / 2;
  const std::int32_t y = height / 2;
  return ClipRect{x, y, x + 1, y + 1};
}

}  // namespace

void save_cursor() {
  const std::lock_guard<std::mutex> hold(cursor_slot.lock);
  if (cursor_slot.hold == CursorHold::Free) cursor_slot.hold = CursorHold::Saved;
}

void discard_cursor() {
  const std::lock_guard<std::mutex> hold(cursor_slot.lock);
  if (cursor_slot.hold == CursorHold::Saved) cursor_slot.hold = CursorHold::Free;
}

// The clip is made outside the lock. A release that comes meanwhile either finds the hold
// Confined and frees the cursor after this clip, or frees it before; the check after the
// clip catches that second order and frees it again.
void confine_cursor() {
  if (hold_now() != CursorHold::Confined) return;
  const std::int32_t width = platform_screen_width();
  const std::int32_t height = platform_screen_height();
  const ClipRect rect = centre_pixel(width, height);
  platform_clip_cursor(&rect);
  if (hold_now() == CursorHold::GivenBack) platform_clip_cursor(nullptr);
}

void take_cursor() {
  {
    const std::lock_guard<std::mutex> hold(cursor_slot.lock);
    if (cursor_slot.hold == CursorHold::Saved) cursor_slot.hold = CursorHold::Confined;
  }
  confine_cursor();
}

// Windows clears a clip on some focus changes and any program may free it; reading it
// first keeps a clip that holds from being made again every time.
void keep_cursor_confined() {
  if (hold_now() != CursorHold::Confined) return;
  const std::int32_t width = platform_screen_width();
  const std::int32_t height = platform_screen_height();
  const ClipRect wanted = centre_pixel(width, height);
  if (platform_get_clip_cursor() == wanted) return;
  confine_cursor();
}

void release_cursor(RestoreMode mode) {
  const CursorHold after = mode == RestoreMode::Live ? CursorHold::GivenBack : CursorHold::Free;
  CursorHold was = CursorHold::Free;
  {
    const std::lock_guard<std::mutex> hold(cursor_slot.lock);
    was = std::exchange(cursor_slot.hold, after);
  }
  if (was != CursorHold::Confined) return;  // a Saved one was never clipped
  if (mode == RestoreMode::Leftover &&
      platform_get_clip_cursor() != centre_pixel(platform_screen_width(), platform_screen_height())) {
    return;
  }
  platform_clip_cursor(nullptr);
}

}  // namespace velmora
