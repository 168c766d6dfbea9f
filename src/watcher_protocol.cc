#include "watcher_protocol.h"

#include <algorithm>
#include <array>

namespace velmora {
namespace {

// Bits of the settings record's presence byte.
constexpr std::uint8_t has_power = 1;
constexpr std::uint8_t has_mute = 2;
constexpr std::uint8_t has_beep = 4;
constexpr std::uint8_t cursor_confined = 8;

constexpr std::uint8_t has_shortcuts = 16;

// Kind, presence, scheme, three actions of two optional values, mute, beep, and the flags of
// each accessibility feature.
constexpr std::size_t optional_u32_size = 5;
// Three actions of two values each.
constexpr std::size_t power_values_size = optional_u32_size * 3 * 2;
constexpr std::size_t settings_record_size =
    1 + 1 + 16 + power_values_size + 1 + 1 + accessibility_feature_count * optional_u32_size;
constexpr std::size_t all_back_record_size = 1;

void put_optional_u32(std::vector<std::uint8_t>& out, const std::optional<std::uint32_t>& value) {
  out.push_back(value ? 1 : 0);
  const std::uint32_t v = value.value_or(0);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::optional<std::uint32_t> get_optional_u32(const std::uint8_t*& in) {
  const bool present = in[0] != 0;
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(in[1 + i]) << (8 * i);
  in += optional_u32_size;
  return present ? std::optional<std::uint32_t>(v) : std::nullopt;
}

std::array<ActionIndices*, 3> actions_of(PowerSnapshot& power) {
  return {&power.power_button, &power.sleep_button, &power.lid_close};
}

SavedSettings decode_settings(const std::uint8_t* in) {
  SavedSettings settings;
  const std::uint8_t present = in[1];
  in += 2;
  PowerSnapshot power;
  std::copy_n(in, power.scheme.size(), power.scheme.begin());
  in += power.scheme.size();
  for (ActionIndices* action : actions_of(power)) {
    action->ac_index = get_optional_u32(in);
    action->dc_index = get_optional_u32(in);
  }
  if ((present & has_power) != 0) settings.power = power;
  if ((present & has_mute) != 0) settings.mute = in[0] != 0;
  if ((present & has_beep) != 0) settings.beep = in[1] != 0;
  in += 2;
  ShortcutFlags shortcuts;
  for (std::optional<std::uint32_t>& flags : shortcuts) flags = get_optional_u32(in);
  if ((present & has_shortcuts) != 0) settings.shortcuts = shortcuts;
  settings.cursor_confined = (present & cursor_confined) != 0;
  return settings;
}

}  // namespace

std::vector<std::uint8_t> encode_settings_record(const SavedSettings& settings) {
  std::vector<std::uint8_t> out;
  out.reserve(settings_record_size);
  out.push_back(static_cast<std::uint8_t>(WatcherRecordKind::Settings));
  std::uint8_t present = 0;
  if (settings.power) present |= has_power;
  if (settings.mute) present |= has_mute;
  if (settings.beep) present |= has_beep;
  if (settings.cursor_confined) present |= cursor_confined;
  if (settings.shortcuts) present |= has_shortcuts;
  out.push_back(present);
  PowerSnapshot power = settings.power.value_or(PowerSnapshot{});
  out.insert(out.end(), power.scheme.begin(), power.scheme.end());
  for (const ActionIndices* action : actions_of(power)) {
    put_optional_u32(out, action->ac_index);
    put_optional_u32(out, action->dc_index);
  }
  out.push_back(settings.mute.value_or(false) ? 1 : 0);
  out.push_back(settings.beep.value_or(false) ? 1 : 0);
  for (const std::optional<std::uint32_t>& flags : settings.shortcuts.value_or(ShortcutFlags{})) {
    put_optional_u32(out, flags);
  }
  return out;
}

std::vector<std::uint8_t> encode_all_back_record() {
  return {static_cast<std::uint8_t>(WatcherRecordKind::AllBack)};
}

std::optional<SavedSettings> decode_settings_record(const std::uint8_t* data, std::size_t size) {
  if (size != settings_record_size || data[0] != static_cast<std::uint8_t>(WatcherRecordKind::Settings)) {
    return std::nullopt;
  }
  return decode_settings(data);
}

void WatcherRecordReader::feed(const std::uint8_t* data, std::size_t size) {
  if (!broken_) pending_.insert(pending_.end(), data, data + size);
}

std::optional<WatcherRecord> WatcherRecordReader::next() {
  if (broken_ || pending_.empty()) return std::nullopt;
  WatcherRecord record;
  std::size_t size = 0;
  switch (static_cast<WatcherRecordKind>(pending_[0])) {
    case WatcherRecordKind::Settings:
      size = settings_record_size;
      record.kind = WatcherRecordKind::Settings;
      break;
    case WatcherRecordKind::AllBack:
      size = all_back_record_size;
      record.kind = WatcherRecordKind::AllBack;
      break;
    default:
      broken_ = true;
      pending_.clear();
      return std::nullopt;
  }
  if (pending_.size() < size) return std::nullopt;
  if (record.kind == WatcherRecordKind::Settings) record.settings = decode_settings(pending_.data());
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(size));
  return record;
}

}  // namespace velmora
