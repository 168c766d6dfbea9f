#include "guard_table.h"

#include <atomic>
#include <chrono>
#include <mutex>

#include "cursor_clip.h"
#include "process_state.h"
#include "sound_guard.h"
#include "touchpad_guard.h"

namespace velmora {

constexpr auto before_stop = RestoreWhen::BeforeHookThreadStops;
constexpr auto after_stop = RestoreWhen::AfterHookThreadStops;

namespace {

template <typename T>
void discard_slot(GuardSlot<T>& slot) {
  (void)slot.take();
}

void discard_power() { discard_slot(saved_power); }
void discard_beep() { discard_slot(saved_beep); }
void discard_mute() { discard_slot(saved_mute); }
void discard_shortcuts() { discard_slot(saved_shortcuts); }
void discard_touchpad() { discard_slot(saved_touchpad); }

// The wake request persists nothing: whatever the mode, it just ends.
void end_keep_awake_on_restore(RestoreMode /*mode*/) { end_keep_awake(); }

}  // namespace

// Restored last to first: the cursor is freed first, and the power scheme, put back last,
// is re-applied after every other setting is back. The accessibility shortcuts, like the beep
// and the sounds, are settings of the running logon and depend on no other guard.
const std::array<Guard, guard_count> guards = {{
    {"power actions", save_power_actions, neutralize_power_actions, restore_power_actions, discard_power,
     RestoreOn::AnyThread, before_stop, false},
    {"wake request", nullptr, keep_awake, end_keep_awake_on_restore, nullptr, RestoreOn::ApplyingThread,
     after_stop, false},
    {"beep", save_beep, disable_beep, restore_beep, discard_beep, RestoreOn::AnyThread, before_stop, false},
    {"system sounds", save_system_sounds, mute_system_sounds, restore_system_sounds, discard_mute,
     RestoreOn::AnyThread, before_stop, false},
    {"accessibility shortcuts", save_accessibility_shortcuts, disable_accessibility_shortcuts,
     restore_accessibility_shortcuts, discard_shortcuts, RestoreOn::AnyThread, before_stop, false},
    {"touchpad gestures", save_touchpad, disable_touchpad, restore_touchpad, discard_touchpad,
     RestoreOn::AnyThread, before_stop, false},
    {"cursor", save_cursor, take_cursor, release_cursor, discard_cursor, RestoreOn::AnyThread, after_stop,
     false},
}};

namespace {

std::atomic<SavedSettingsListener> listener{nullptr};

// Held across each apply and each whole restore pass: a restore that finds a slot empty
// then knows that its value is back, not on its way back on another thread.
std::timed_mutex pass_lock;
using PassHold = std::unique_lock<std::timed_mutex>;

// Puts values still owed back into the slots a discard emptied.
void keep_owed(const SavedSettings& owed) {
  if (owed.power && !saved_power.peek()) saved_power.put(*owed.power);
  if (owed.mute && !saved_mute.peek()) saved_mute.put(*owed.mute);
  if (owed.beep && !saved_beep.peek()) saved_beep.put(*owed.beep);
  if (owed.shortcuts && !saved_shortcuts.peek()) saved_shortcuts.put(*owed.shortcuts);
  if (owed.touchpad && !saved_touchpad.peek()) saved_touchpad.put(*owed.touchpad);
}

bool skipped(const Guard& guard) { return diagnostic_mode.load() && !guard.in_diagnostic; }

void tell_listener() {
  if (const SavedSettingsListener tell = listener.load()) tell(saved_settings());
}

}  // namespace

SavedSettings saved_settings() {
  SavedSettings settings;
  settings.power = saved_power.peek();
  settings.mute = saved_mute.peek();
  settings.beep = saved_beep.peek();
  settings.shortcuts = saved_shortcuts.peek();
  settings.touchpad = saved_touchpad.peek();
  const std::lock_guard<std::mutex> hold(cursor_slot.lock);
  settings.cursor_confined =
      cursor_slot.hold == CursorHold::Saved || cursor_slot.hold == CursorHold::Confined;
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
  (void)saved_touchpad.take();
  if (settings.touchpad) saved_touchpad.put(*settings.touchpad);
  const std::lock_guard<std::mutex> hold(cursor_slot.lock);
  cursor_slot.hold = settings.cursor_confined ? CursorHold::Confined : CursorHold::Free;
}

bool nothing_saved(const SavedSettings& settings) {
  return !settings.power && !settings.mute && !settings.beep && !settings.shortcuts && !settings.touchpad &&
         !settings.cursor_confined;
}

void set_saved_settings_listener(SavedSettingsListener new_listener) { listener.store(new_listener); }

void apply_guards() {
  const PassHold hold(pass_lock);
  if (session_ending.load()) return;
  // What an earlier run still owes (a restore that failed) is in the slots already; a
  // change that is never made forgets only what this pass saved.
  const SavedSettings owed = saved_settings();
  for (const Guard& guard : guards) {
    if (!skipped(guard) && guard.save != nullptr) guard.save();
  }
  tell_listener();
  bool ending = false;
  for (const Guard& guard : guards) {
    if (skipped(guard)) continue;
    ending = ending || session_ending.load();
    if (!ending) {
      guard.change();
    } else if (guard.discard != nullptr) {
      guard.discard();
    }
  }
  if (ending) {
    keep_owed(owed);
    tell_listener();
  }
}

namespace {

void restore_pass(Restorer restorer, std::optional<RestoreWhen> when, RestoreMode mode) {
  for (auto guard = guards.rbegin(); guard != guards.rend(); ++guard) {
    if (skipped(*guard) || (when && guard->restore_when != *when)) continue;
    if (restorer == Restorer::OtherThread && guard->restore_on == RestoreOn::ApplyingThread) continue;
    guard->restore(mode);
  }
  tell_listener();
}

}  // namespace

void restore_guards(Restorer restorer, std::optional<RestoreWhen> when, RestoreMode mode) {
  const PassHold hold(pass_lock);
  restore_pass(restorer, when, mode);
}

bool restore_guards_within(unsigned wait_ms, Restorer restorer, std::optional<RestoreWhen> when) {
  const PassHold hold(pass_lock, std::chrono::milliseconds(wait_ms));
  if (!hold.owns_lock()) return false;
  restore_pass(restorer, when, RestoreMode::Live);
  return true;
}

}  // namespace velmora
