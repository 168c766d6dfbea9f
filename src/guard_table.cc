#include "guard_table.h"

#include <atomic>

#include "cursor_clip.h"
#include "process_state.h"
#include "sound_guard.h"

namespace velmora {

constexpr auto before_stop = RestoreWhen::BeforeHookThreadStops;
constexpr auto after_stop = RestoreWhen::AfterHookThreadStops;

// Restored last to first: the cursor is freed first, and the power scheme, put back last,
// is re-applied after every other setting is back. The accessibility shortcuts, like the beep
// and the sounds, are settings of the running logon and depend on no other guard.
const std::array<Guard, guard_count> guards = {{
    {"power actions", save_power_actions, neutralize_power_actions, restore_power_actions,
     RestoreOn::AnyThread, before_stop, false},
    {"wake request", nullptr, keep_awake, end_keep_awake, RestoreOn::ApplyingThread, after_stop, false},
    {"beep", save_beep, disable_beep, restore_beep, RestoreOn::AnyThread, before_stop, false},
    {"system sounds", save_system_sounds, mute_system_sounds, restore_system_sounds, RestoreOn::AnyThread,
     before_stop, false},
    {"accessibility shortcuts", save_accessibility_shortcuts, disable_accessibility_shortcuts,
     restore_accessibility_shortcuts, RestoreOn::AnyThread, before_stop, false},
    {"cursor", save_cursor, confine_cursor, release_cursor, RestoreOn::AnyThread, after_stop, false},
}};

namespace {

std::atomic<SavedSettingsListener> listener{nullptr};

bool skipped(const Guard& guard) { return diagnostic_mode.load() && !guard.in_diagnostic; }

}  // namespace

SavedSettings saved_settings() {
  SavedSettings settings;
  settings.power = saved_power.peek();
  settings.mute = saved_mute.peek();
  settings.beep = saved_beep.peek();
  settings.shortcuts = saved_shortcuts.peek();
  const std::lock_guard<std::mutex> hold(cursor_slot.lock);
  settings.cursor_confined = cursor_slot.hold == CursorHold::Confined;
  return settings;
}

void load_saved_settings(const SavedSettings& settings) {
  (void)saved_power.take();
  if (settings.power) saved_power.put(*settings.power);
  (void)saved_mute.take();
  if (settings.mute) saved_mute.put(*settings.mute);
  (void)saved_beep.take();
  if (settings.beep) saved_beep.put(*settings.beep);
  (void)saved_shortcuts.take();
  if (settings.shortcuts) saved_shortcuts.put(*settings.shortcuts);
  const std::lock_guard<std::mutex> hold(cursor_slot.lock);
  cursor_slot.hold = settings.cursor_confined ? CursorHold::Confined : CursorHold::Free;
}

void set_saved_settings_listener(SavedSettingsListener new_listener) { listener.store(new_listener); }

void apply_guards() {
  for (const Guard& guard : guards) {
    if (skipped(guard)) continue;
    if (guard.save != nullptr) {
      guard.save();
      if (const SavedSettingsListener tell = listener.load()) tell(saved_settings());
    }
    guard.change();
  }
}

void restore_guards(Restorer restorer, std::optional<RestoreWhen> when) {
  for (auto guard = guards.rbegin(); guard != guards.rend(); ++guard) {
    if (skipped(*guard) || (when && guard->restore_when != *when)) continue;
    if (restorer == Restorer::OtherThread && guard->restore_on == RestoreOn::ApplyingThread) continue;
    guard->restore();
  }
}

}  // namespace velmora
