#include "accessibility_guard.h"

#include <cstddef>

namespace velmora {

GuardSlot<ShortcutFlags> saved_shortcuts;

namespace {

AccessibilityFeature feature_at(std::size_t index) { return static_cast<AccessibilityFeature>(index); }

bool shortcut_to_clear(std::uint32_t flags) {
  return (flags & accessibility_feature_on) == 0 && (flags & accessibility_hotkey_active) != 0;
}

}  // namespace

void save_accessibility_shortcuts() {
  ShortcutFlags found;
  bool any = false;
  for (std::size_t i = 0; i < found.size(); ++i) {
    const std::optional<std::uint32_t> flags = platform_get_accessibility_flags(feature_at(i));
    if (!flags || !shortcut_to_clear(*flags)) continue;
    found[i] = flags;
    any = true;
  }
  if (any) saved_shortcuts.put(found);
}

void disable_accessibility_shortcuts() {
  const std::optional<ShortcutFlags> saved = saved_shortcuts.peek();
  if (!saved) return;
  for (std::size_t i = 0; i < saved->size(); ++i) {
    if (const std::optional<std::uint32_t> flags = (*saved)[i]) {
      platform_set_accessibility_flags(feature_at(i), *flags & ~accessibility_hotkey_active);
    }
  }
}

void restore_accessibility_shortcuts() {
  const std::optional<ShortcutFlags> saved = saved_shortcuts.take();
  if (!saved) return;
  for (std::size_t i = 0; i < saved->size(); ++i) {
    if (const std::optional<std::uint32_t> flags = (*saved)[i])
      platform_set_accessibility_flags(feature_at(i), *flags);
  }
}

}  // namespace velmora
