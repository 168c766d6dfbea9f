#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "accessibility_guard.h"
#include "power_guard.h"

namespace velmora {

// Every setting the lock changes is one guard in one table. Start-up applies the table in
// its order, once the instance lock is held and the hook thread with its shield is up; the
// normal shutdown, the end of the session and a restore from handed-over values put it back
// in the reverse order.

// Who may put a guard back: any thread, or only the thread that applied it (the wake
// request belongs to the thread that made it).
enum class RestoreOn : std::uint8_t { AnyThread, ApplyingThread };

// When the normal shutdown puts a guard back. Settings that outlive the process go back
// while the hook thread, whose window hears of the end of the session, still runs; the
// cursor only once the shield is gone, and the wake request ends on its own thread anyway.
enum class RestoreWhen : std::uint8_t { BeforeHookThreadStops, AfterHookThreadStops };

struct Guard {
  const char* name;
  void (*save)();     // reads what the change will overwrite into the guard's slot
  void (*change)();   // changes only what was saved
  void (*restore)();  // takes the saved value out and writes it back; at most once
  RestoreOn restore_on;
  RestoreWhen restore_when;
  bool in_diagnostic;  // whether a diagnostic run applies it
};

inline constexpr std::size_t guard_count = 6;
extern const std::array<Guard, guard_count> guards;

// The saved values of every guard together: a plain record to copy out and to restore from.
struct SavedSettings {
  std::optional<PowerSnapshot> power;
  std::optional<bool> mute;                // the system-sounds session was muted
  std::optional<bool> beep;                // the beep was on
  std::optional<ShortcutFlags> shortcuts;  // the accessibility shortcuts turned off
  bool cursor_confined = false;
  bool operator==(const SavedSettings&) const = default;
};

SavedSettings saved_settings();
// Puts the record's values into the guards' slots, replacing what they held, so that a
// restore then writes them back.
void load_saved_settings(const SavedSettings& settings);

// Told the whole record after each save, before the change it precedes. Set once by the
// session driver before any guard is applied; null tells nobody.
using SavedSettingsListener = void (*)(const SavedSettings& settings);
void set_saved_settings_listener(SavedSettingsListener listener);

// Applies each guard in table order: save, tell the listener, change. Nothing in diagnostic
// mode, except guards marked for it.
void apply_guards();

// Puts back, in reverse table order, every guard that the calling thread may restore; with
// `when`, only the guards restored at that point of the shutdown.
enum class Restorer : std::uint8_t { ApplyingThread, OtherThread };
void restore_guards(Restorer restorer, std::optional<RestoreWhen> when = std::nullopt);

}  // namespace velmora
