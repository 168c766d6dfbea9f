#include "power_guard.h"

#include <array>
#include <string>

#include "fatal_error.h"

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

ActionIndices read_action(const SchemeId& scheme, PowerSetting setting) {
  ActionIndices indices;
  indices.ac_index = read_index(platform_power_read_ac, scheme, setting);
  indices.dc_index = read_index(platform_power_read_dc, scheme, setting);
  return indices;
}

// Only a value that was read is changed, so each one changed can be put back.
void neutralize_action(const SchemeId& scheme, PowerSetting setting, const ActionIndices& found) {
  if (found.ac_index) write_index(platform_power_write_ac, scheme, setting, do_nothing);
  if (found.dc_index) write_index(platform_power_write_dc, scheme, setting, do_nothing);
}

void restore_action(const SchemeId& scheme, PowerSetting setting, const ActionIndices& saved) {
  if (saved.ac_index) write_index(platform_power_write_ac, scheme, setting, *saved.ac_index);
  if (saved.dc_index) write_index(platform_power_write_dc, scheme, setting, *saved.dc_index);
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
  for (const PowerSetting setting : button_settings) {
    slot_for(snapshot, setting) = read_action(*scheme, setting);
  }
  saved_power.put(snapshot);
}

void neutralize_power_actions() {
  std::optional<PowerSnapshot> snapshot = saved_power.peek();
  if (!snapshot) return;
  for (const PowerSetting setting : button_settings) {
    neutralize_action(snapshot->scheme, setting, slot_for(*snapshot, setting));
  }
  platform_power_set_active_scheme(snapshot->scheme);
}

void restore_power_actions() {
  std::optional<PowerSnapshot> snapshot = saved_power.take();
  if (!snapshot) return;
  for (const PowerSetting setting : button_settings) {
    restore_action(snapshot->scheme, setting, slot_for(*snapshot, setting));
  }
  // Also brings back the scheme that was active at start if the user switched meanwhile.
  platform_power_set_active_scheme(snapshot->scheme);
}

}  // namespace velmora
