#include "touchpad_guard.h"

#include <algorithm>
#include <array>

#include "restore_report.h"

namespace velmora {

GuardSlot<TouchpadSettings> saved_touchpad;

namespace {

constexpr const char* touchpad_name = "the touchpad's gestures";

constexpr std::array<bool TouchpadSettings::*, 6> gestures = {&TouchpadSettings::tap,
                                                              &TouchpadSettings::tap_and_drag,
                                                              &TouchpadSettings::two_finger_tap,
                                                              &TouchpadSettings::right_click_zone,
                                                              &TouchpadSettings::pan,
                                                              &TouchpadSettings::zoom};

}  // namespace

std::optional<TouchpadSettings> touchpad_to_save(const std::optional<TouchpadSettings>& found) {
  if (!found || !found->present) return std::nullopt;
  const bool any_on =
      std::any_of(gestures.begin(), gestures.end(), [&](auto gesture) { return (*found).*gesture; });
  return any_on ? found : std::nullopt;
}

TouchpadSettings touchpad_locked(const TouchpadSettings& found) {
  TouchpadSettings locked = found;
  for (const auto gesture : gestures) locked.*gesture = false;
  return locked;
}

TouchpadSettings touchpad_restored(const TouchpadSettings& now, const TouchpadSettings& saved,
                                   const TouchpadSettings& locked) {
  TouchpadSettings restored = now;
  for (const auto gesture : gestures) {
    if (saved.*gesture != locked.*gesture && now.*gesture == locked.*gesture)
      restored.*gesture = saved.*gesture;
  }
  return restored;
}

void save_touchpad() {
  if (saved_touchpad.peek()) return;
  if (const std::optional<TouchpadSettings> found = touchpad_to_save(platform_get_touchpad_settings())) {
    saved_touchpad.put(*found);
  }
}

void disable_touchpad() {
  if (const std::optional<TouchpadSettings> saved = saved_touchpad.peek()) {
    (void)platform_set_touchpad_settings(touchpad_locked(*saved));
  }
}

void restore_touchpad(RestoreMode /*mode*/) {
  const std::optional<TouchpadSettings> saved = saved_touchpad.take();
  if (!saved) return;
  const std::optional<TouchpadSettings> now = platform_get_touchpad_settings();
  if (!now) {
    saved_touchpad.put(*saved);
    return report_not_put_back(touchpad_name, platform_last_error_text());
  }
  // Each gesture is on or off: one the lock turned off that is on again is as it was, so a
  // leftover and a live run's stop both write back only what still holds the lock's value.
  const TouchpadSettings wanted = touchpad_restored(*now, *saved, touchpad_locked(*saved));
  if (wanted == *now) return;
  if (platform_set_touchpad_settings(wanted)) return;
  saved_touchpad.put(*saved);
  report_not_put_back(touchpad_name, platform_last_error_text());
}

}  // namespace velmora
