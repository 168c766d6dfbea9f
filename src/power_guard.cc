#include "power_guard.h"

#include <algorithm>
#include <array>
#include <string>

#include "fatal_error.h"
#include "restore_report.h"

namespace velmora {

GuardSlot<PowerSnapshot> saved_power;
std::atomic<bool> awake_requested{false};

namespace {

// Power button, sleep button, lid close: always handled in this order.
constexpr std::array<PowerSetting, 3> button_settings = {PowerSetting::PowerButton, PowerSetting::SleepButton,
                                                         PowerSetting::LidClose};

// Index 0 is the platform's do-nothing action for all three settings.
constexpr std::uint32_t do_nothing = 0;

using ReadIndex = std::uint32_t (*)(const SchemeId&, PowerSetting, std::uint32_t*);
using WriteIndex = std::uint32_t (*)(const SchemeId&, PowerSetting, std::uint32_t);

const char* action_name(PowerSetting setting) {
  switch (setting) {
    case PowerSetting::PowerButton:
      return "power-button";
    case PowerSetting::SleepButton:
      return "sleep-button";
    case PowerSetting::LidClose:
      break;
  }
  return "lid-close";
}

std::string value_name(PowerSetting setting, bool dc) {
  return std::string("the ") + action_name(setting) + (dc ? " action on battery" : " action on AC power");
}

// A write the system refuses (a group policy may hold the value, say) is told on standard
// error and the run goes on: the other guards still hold, and nothing is there to undo.
void write_index(WriteIndex write, const SchemeId& scheme, PowerSetting setting, std::uint32_t value) {
  const std::uint32_t error = write(scheme, setting, value);
  if (error == 0) return;
  report_error(std::string("failed to write the ") + action_name(setting) + " action",
               platform_error_text(error));
}

std::optional<std::uint32_t> read_index(ReadIndex read, const SchemeId& scheme, PowerSetting setting) {
  std::uint32_t value = 0;
  if (read(scheme, setting, &value) != 0) return std::nullopt;
  return value;
}

// A value still owed from an earlier run keeps its original; the others are read afresh.
ActionIndices read_action(const SchemeId& scheme, PowerSetting setting, const ActionIndices& owed) {
  ActionIndices indices = owed;
  if (!indices.ac_index) indices.ac_index = read_index(platform_power_read_ac, scheme, setting);
  if (!indices.dc_index) indices.dc_index = read_index(platform_power_read_dc, scheme, setting);
  return indices;
}

// Only a value that was read is changed, so each one changed can be put back.
void neutralize_action(const SchemeId& scheme, PowerSetting setting, const ActionIndices& found) {
  if (found.ac_index) write_index(platform_power_write_ac, scheme, setting, do_nothing);
  if (found.dc_index) write_index(platform_power_write_dc, scheme, setting, do_nothing);
}

// The system no longer has the value (its scheme was deleted): nothing is left to put back.
constexpr std::uint32_t error_file_not_found = 2;

// Writes one saved value back. True when it is no longer owed: written, already as it was,
// or, for a leftover, changed by the user since (then said).
bool restore_value(const SchemeId& scheme, PowerSetting setting, bool dc, std::uint32_t saved,
                   RestoreMode mode) {
  if (mode == RestoreMode::Leftover) {
    std::uint32_t now = 0;
    const std::uint32_t error = (dc ? platform_power_read_dc : platform_power_read_ac)(scheme, setting, &now);
    if (error == error_file_not_found || (error == 0 && now != do_nothing && now != saved)) {
      report_changed_since(value_name(setting, dc));
      return true;
    }
    if (error != 0) {
      report_not_put_back(value_name(setting, dc), platform_error_text(error));
      return false;
    }
    if (now == saved) return true;
  }
  const std::uint32_t error =
      (dc ? platform_power_write_dc : platform_power_write_ac)(scheme, setting, saved);
  if (error == 0) return true;
  report_not_put_back(value_name(setting, dc), platform_error_text(error));
  return false;
}

// Puts back what `saved` holds and leaves in it only what is still owed.
void restore_action(const SchemeId& scheme, PowerSetting setting, ActionIndices& saved, RestoreMode mode) {
  if (saved.ac_index && restore_value(scheme, setting, false, *saved.ac_index, mode)) saved.ac_index.reset();
  if (saved.dc_index && restore_value(scheme, setting, true, *saved.dc_index, mode)) saved.dc_index.reset();
}

ActionIndices& slot_for(PowerSnapshot& snapshot, PowerSetting setting) {
  switch (setting) {
    case PowerSetting::PowerButton:
      return snapshot.power_button;
    case PowerSetting::SleepButton:
      return snapshot.sleep_button;
    case PowerSetting::LidClose:
      break;
  }
  return snapshot.lid_close;
}

}  // namespace

void keep_awake() {
  platform_keep_awake(true);
  awake_requested.store(true);
}

// The request belongs to the thread that made it (the main thread), so only that thread
// can end it; it also ends with that thread.
void end_keep_awake() {
  if (awake_requested.exchange(false)) platform_keep_awake(false);
}

void save_power_actions() {
  const std::optional<SchemeId> scheme = platform_power_get_active_scheme();
  if (!scheme) return;
  PowerSnapshot snapshot;
  snapshot.scheme = *scheme;
  std::optional<PowerSnapshot> owed = saved_power.peek();
  // What is owed on another scheme stays as it is: one scheme at a time is held.
  if (owed && owed->scheme != *scheme) return;
  for (const PowerSetting setting : button_settings) {
    slot_for(snapshot, setting) =
        read_action(*scheme, setting, owed ? slot_for(*owed, setting) : ActionIndices{});
  }
  saved_power.put(snapshot);
}

void neutralize_power_actions() {
  std::optional<PowerSnapshot> snapshot = saved_power.peek();
  if (!snapshot) return;
  for (const PowerSetting setting : button_settings) {
    neutralize_action(snapshot->scheme, setting, slot_for(*snapshot, setting));
  }
  (void)platform_power_set_active_scheme(snapshot->scheme);
}

void restore_power_actions(RestoreMode mode) {
  std::optional<PowerSnapshot> snapshot = saved_power.take();
  if (!snapshot) return;
  const PowerSnapshot saved = *snapshot;
  for (const PowerSetting setting : button_settings) {
    restore_action(snapshot->scheme, setting, slot_for(*snapshot, setting), mode);
  }
  const bool owed = std::any_of(button_settings.begin(), button_settings.end(), [&](PowerSetting setting) {
    const ActionIndices& left = slot_for(*snapshot, setting);
    return left.ac_index || left.dc_index;
  });
  if (owed) saved_power.put(*snapshot);
  // Activating the scheme again applies what was written. A live run also brings back the
  // scheme that was active at start if the user switched meanwhile; a leftover leaves a
  // scheme the user chose since as it is.
  if (mode == RestoreMode::Leftover && platform_power_get_active_scheme() != saved.scheme) return;
  if (const std::uint32_t error = platform_power_set_active_scheme(saved.scheme); error != 0) {
    report_error("could not make the power scheme active again", platform_error_text(error));
  }
}

}  // namespace velmora
