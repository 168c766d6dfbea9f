#include "accessibility_guard.h"

#include <array>
#include <cstddef>

#include "restore_report.h"

namespace velmora {

GuardSlot<ShortcutFlags> saved_shortcuts;

namespace {

AccessibilityFeature feature_at(std::size_t index) { return static_cast<AccessibilityFeature>(index); }

bool shortcut_to_clear(std::uint32_t flags) {
  return (flags & accessibility_feature_on) == 0 && (flags & accessibility_hotkey_active) != 0;
}

const char* feature_name(std::size_t index) {
  constexpr std::array<const char*, accessibility_feature_count> names = {
      "the StickyKeys shortcut", "the FilterKeys shortcut", "the ToggleKeys shortcut",
      "the MouseKeys shortcut", "the HighContrast shortcut"};
  return names.at(index);
}

// What the lock wrote over `saved`: the same flags without the shortcut.
std::uint32_t locked_flags(std::uint32_t saved) { return saved & ~accessibility_hotkey_active; }

// Puts one feature's flags back. True when it is no longer owed: written, already as it was,
// or, for a leftover, changed by the user since (then said).
bool restore_feature(std::size_t index, std::uint32_t saved, RestoreMode mode) {
  if (mode == RestoreMode::Leftover) {
    const std::optional<std::uint32_t> now = platform_get_accessibility_flags(feature_at(index));
    if (!now) {
      report_not_put_back(feature_name(index), platform_last_error_text());
      return false;
    }
    if (*now == saved) return true;
    if (*now != locked_flags(saved)) {
      report_changed_since(feature_name(index));
      return true;
    }
  }
  const std::uint32_t error = platform_set_accessibility_flags(feature_at(index), saved);
  if (error == 0) return true;
  report_not_put_back(feature_name(index), platform_error_text(error));
  return false;
}

}  // namespace

void save_accessibility_shortcuts() {
  ShortcutFlags found = saved_shortcuts.peek().value_or(ShortcutFlags{});
  bool any = false;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (found[i]) {
      any = true;  // still owed: its original stays
      continue;
    }
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
      (void)platform_set_accessibility_flags(feature_at(i), locked_flags(*flags));
    }
  }
}

void restore_accessibility_shortcuts(RestoreMode mode) {
  std::optional<ShortcutFlags> saved = saved_shortcuts.take();
  if (!saved) return;
  bool owed = false;
  for (std::size_t i = 0; i < saved->size(); ++i) {
    std::optional<std::uint32_t>& flags = (*saved)[i];
    if (flags && restore_feature(i, *flags, mode)) flags.reset();
    owed = owed || flags.has_value();
  }
  if (owed) saved_shortcuts.put(*saved);
}

}  // namespace velmora
