#include "touchpad_guard.h"

#include <algorithm>
#include <array>

namespace velmora {
namespace {

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

}  // namespace velmora
