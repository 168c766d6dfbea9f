#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "accessibility_guard.h"
#include "power_guard.h"

namespace velmora {

// Every setting the lock changes is one guard in one table. Start-up saves every guard, has
// the record of saved values kept (the journal, the watcher), then changes them in table
// order, once the locks are held and the hook thread with its shield is up; the normal
// shutdown, the end of the session, the watcher and a journal replay put them back in the
// reverse order. One apply and one restore pass never interleave, whichever threads run them.

// Who may put a guard back: any thread, or only the thread that applied it (the wake
// request belongs to the thread that made it).
enum class RestoreOn : std::uint8_t { AnyThread, ApplyingThread };

// When the normal shutdown puts a guard back. Settings that outlive the process go back
// while the hook thread, whose window hears of the end of the session, still runs; the
// cursor only once the shield is gone, and the wake request ends on its own thread anyway.
enum class RestoreWhen : std::uint8_t { BeforeHookThreadStops, AfterHookThreadStops };

struct Guard {
  const char* name;
  void (*save)();    // reads what the change will overwrite into the guard's slot
  void (*change)();  // changes only what was saved
  // Takes the saved value out and writes it back, at most once; what fails goes back into
  // the slot, still owed.
  void (*restore)(RestoreMode mode);
  void (*discard)();  // forgets what was saved, for a change that is never made
  RestoreOn restore_on;
  RestoreWhen restore_when;
  bool in_diagnostic;  // whether a diagnostic run applies it
};

inline constexpr std::size_t guard_count = 7;
extern const std::array<Guard, guard_count> guards;

// The saved values of every guard together: a plain record to copy out and to restore from.
struct SavedSettings {
  std::optional<PowerSnapshot> power;
  std::optional<SoundsMute> mute;            // the system-sounds session's device, and whether it was muted
  std::optional<bool> beep;                  // the beep was on
  std::optional<ShortcutFlags> shortcuts;    // the accessibility shortcuts turned off
  std::optional<TouchpadSettings> touchpad;  // the touchpad's settings, where its gestures were turned off
  bool cursor_confined = false;
  bool operator==(const SavedSettings&) const = default;
};

SavedSettings saved_settings();
// Puts the record's values into the guards' slots, replacing what they held, so that a
// restore then writes them back.
void load_saved_settings(const SavedSettings& settings);

// Told the whole record of what is saved and not yet back: once every guard is saved, before
// the first change; and after each restore pass. Called inside the pass, so what it keeps
// is never older than the settings. Set by the session driver; null tells nobody.
using SavedSettingsListener = void (*)(const SavedSettings& settings);
void set_saved_settings_listener(SavedSettingsListener listener);

// Saves every guard, tells the listener, then changes each in table order. Nothing in
// diagnostic mode, except guards marked for it. Once the session is ending nothing more is
// changed: what was saved and not changed is forgotten, and the listener told again.
void apply_guards();

// Puts back, in reverse table order, every guard that the calling thread may restore; with
// `when`, only the guards restored at that point of the shutdown. Then tells the listener
// what is still changed (or owed, for a restore that failed).
enum class Restorer : std::uint8_t { ApplyingThread, OtherThread };
void restore_guards(Restorer restorer, std::optional<RestoreWhen> when = std::nullopt,
                    RestoreMode mode = RestoreMode::Live);
// A live restore as above, but gives up after `wait_ms` while another thread's pass goes on
// (a hook thread stuck in the end of the session's restore): false then, and nothing was
// restored here.
bool restore_guards_within(unsigned wait_ms, Restorer restorer,
                           std::optional<RestoreWhen> when = std::nullopt);

// Whether the record holds nothing to put back.
bool nothing_saved(const SavedSettings& settings);

}  // namespace velmora
