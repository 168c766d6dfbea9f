#include "watcher_protocol.h"

#include <algorithm>
#include <array>

namespace velmora {
namespace {

// Bits of the body's presence byte.
constexpr std::uint8_t has_power = 1;
constexpr std::uint8_t has_mute = 2;
constexpr std::uint8_t has_beep = 4;
constexpr std::uint8_t cursor_confined = 8;
constexpr std::uint8_t has_shortcuts = 16;
constexpr std::uint8_t has_touchpad = 32;
constexpr std::uint8_t known_bits =
    has_power | has_mute | has_beep | cursor_confined | has_shortcuts | has_touchpad;
// The touchpad's byte: present, then its six gestures, one bit each from the lowest.
constexpr std::uint8_t touchpad_bits = 0x7F;

constexpr std::size_t record_header_size = 3;  // kind, body length
// The first journal version: the kind byte, then a fixed body without the mute's device.
constexpr std::size_t v1_record_size = 1 + 1 + 16 + 5 * 3 * 2 + 1 + 1 + 5 * accessibility_feature_count;

void put_u16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put_optional_u32(std::vector<std::uint8_t>& out, const std::optional<std::uint32_t>& value) {
  out.push_back(value ? 1 : 0);
  const std::uint32_t v = value.value_or(0);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// Reads fields off a body; any read past its end, or a flag byte that is neither 0 nor 1,
// marks it bad, and every later read then finds zeros.
struct BodyReader {
  const std::uint8_t* at;
  const std::uint8_t* end;
  bool bad = false;

  const std::uint8_t* take(std::size_t size) {
    if (bad || static_cast<std::size_t>(end - at) < size) {
      bad = true;
      return nullptr;
    }
    const std::uint8_t* taken = at;
    at += size;
    return taken;
  }
  std::uint8_t byte() {
    const std::uint8_t* in = take(1);
    return in != nullptr ? in[0] : 0;
  }
  bool flag() {
    const std::uint8_t value = byte();
    if (value > 1) bad = true;
    return value == 1;
  }
  std::uint32_t little_endian(std::size_t size) {
    const std::uint8_t* in = take(size);
    std::uint32_t value = 0;
    for (std::size_t i = 0; in != nullptr && i < size; ++i)
      value |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return value;
  }
  std::optional<std::uint32_t> optional_u32() {
    const bool present = flag();
    const std::uint32_t value = little_endian(4);
    return present ? std::optional<std::uint32_t>(value) : std::nullopt;
  }
  bool finished() const { return !bad && at == end; }
};

std::array<const ActionIndices*, 3> actions_of(const PowerSnapshot& power) {
  return {&power.power_button, &power.sleep_button, &power.lid_close};
}

std::array<ActionIndices*, 3> actions_of(PowerSnapshot& power) {
  return {&power.power_button, &power.sleep_button, &power.lid_close};
}

std::uint8_t presence_of(const SavedSettings& settings) {
  std::uint8_t present = 0;
  if (settings.power) present |= has_power;
  if (settings.mute) present |= has_mute;
  if (settings.beep) present |= has_beep;
  if (settings.cursor_confined) present |= cursor_confined;
  if (settings.shortcuts) present |= has_shortcuts;
  if (settings.touchpad) present |= has_touchpad;
  return present;
}

void read_power(BodyReader& in, std::uint8_t present, SavedSettings& settings) {
  PowerSnapshot power;
  if (const std::uint8_t* scheme = in.take(power.scheme.size())) {
    std::copy_n(scheme, power.scheme.size(), power.scheme.begin());
  }
  for (ActionIndices* action : actions_of(power)) {
    action->ac_index = in.optional_u32();
    action->dc_index = in.optional_u32();
  }
  if ((present & has_power) != 0) settings.power = power;
}

void read_shortcuts(BodyReader& in, std::uint8_t present, SavedSettings& settings) {
  ShortcutFlags shortcuts;
  for (std::optional<std::uint32_t>& flags : shortcuts) flags = in.optional_u32();
  if ((present & has_shortcuts) != 0) settings.shortcuts = shortcuts;
}

std::array<bool TouchpadSettings::*, 7> touchpad_fields() {
  return {&TouchpadSettings::present,
          &TouchpadSettings::tap,
          &TouchpadSettings::tap_and_drag,
          &TouchpadSettings::two_finger_tap,
          &TouchpadSettings::right_click_zone,
          &TouchpadSettings::pan,
          &TouchpadSettings::zoom};
}

std::uint8_t touchpad_byte(const TouchpadSettings& touchpad) {
  std::uint8_t byte = 0;
  std::uint8_t bit = 1;
  for (const auto field : touchpad_fields()) {
    if (touchpad.*field) byte |= bit;
    bit = static_cast<std::uint8_t>(bit << 1);
  }
  return byte;
}

void read_touchpad(BodyReader& in, std::uint8_t present, SavedSettings& settings) {
  const std::uint8_t byte = in.byte();
  if ((byte & ~touchpad_bits) != 0) in.bad = true;
  TouchpadSettings touchpad;
  std::uint8_t bit = 1;
  for (const auto field : touchpad_fields()) {
    touchpad.*field = (byte & bit) != 0;
    bit = static_cast<std::uint8_t>(bit << 1);
  }
  if ((present & has_touchpad) != 0) settings.touchpad = touchpad;
}

std::u16string read_device(BodyReader& in) {
  const std::uint32_t length = in.little_endian(2);
  if (length > max_device_id_length) in.bad = true;
  std::u16string device;
  for (std::uint32_t i = 0; i < length && !in.bad; ++i)
    device.push_back(static_cast<char16_t>(in.little_endian(2)));
  return device;
}

}  // namespace

void encode_settings_body(const SavedSettings& settings, std::vector<std::uint8_t>& out) {
  out.push_back(presence_of(settings));
  const PowerSnapshot power = settings.power.value_or(PowerSnapshot{});
  out.insert(out.end(), power.scheme.begin(), power.scheme.end());
  for (const ActionIndices* action : actions_of(power)) {
    put_optional_u32(out, action->ac_index);
    put_optional_u32(out, action->dc_index);
  }
  const SoundsMute mute = settings.mute.value_or(SoundsMute{});
  const std::size_t length = std::min(mute.device.size(), max_device_id_length);
  out.push_back(mute.muted ? 1 : 0);
  put_u16(out, static_cast<std::uint16_t>(length));
  for (std::size_t i = 0; i < length; ++i) put_u16(out, static_cast<std::uint16_t>(mute.device[i]));
  out.push_back(settings.beep.value_or(false) ? 1 : 0);
  for (const std::optional<std::uint32_t>& flags : settings.shortcuts.value_or(ShortcutFlags{})) {
    put_optional_u32(out, flags);
  }
  out.push_back(touchpad_byte(settings.touchpad.value_or(TouchpadSettings{})));
}

std::optional<SavedSettings> decode_settings_body(const std::uint8_t* data, std::size_t size) {
  BodyReader in{data, data + size};
  SavedSettings settings;
  const std::uint8_t present = in.byte();
  if ((present & ~known_bits) != 0) return std::nullopt;
  read_power(in, present, settings);
  SoundsMute mute;
  mute.muted = in.flag();
  mute.device = read_device(in);
  if ((present & has_mute) != 0) settings.mute = mute;
  const bool beep = in.flag();
  if ((present & has_beep) != 0) settings.beep = beep;
  read_shortcuts(in, present, settings);
  read_touchpad(in, present, settings);
  settings.cursor_confined = (present & cursor_confined) != 0;
  if (!in.finished()) return std::nullopt;
  return settings;
}

std::optional<SavedSettings> decode_settings_body_v1(const std::uint8_t* data, std::size_t size) {
  if (size != v1_record_size || data[0] != static_cast<std::uint8_t>(WatcherRecordKind::Settings)) {
    return std::nullopt;
  }
  BodyReader in{data + 1, data + size};
  SavedSettings settings;
  const std::uint8_t present = in.byte();
  if ((present & ~known_bits) != 0 || (present & has_touchpad) != 0) return std::nullopt;
  read_power(in, present, settings);
  const bool muted = in.flag();
  // Its device was not kept: the default device is the best guess there is.
  if ((present & has_mute) != 0) settings.mute = SoundsMute{u"", muted};
  const bool beep = in.flag();
  if ((present & has_beep) != 0) settings.beep = beep;
  read_shortcuts(in, present, settings);
  settings.cursor_confined = (present & cursor_confined) != 0;
  if (!in.finished()) return std::nullopt;
  return settings;
}

std::vector<std::uint8_t> encode_settings_record(const SavedSettings& settings) {
  std::vector<std::uint8_t> out(record_header_size, 0);
  out[0] = static_cast<std::uint8_t>(WatcherRecordKind::Settings);
  encode_settings_body(settings, out);
  const std::size_t body = out.size() - record_header_size;
  out[1] = static_cast<std::uint8_t>(body);
  out[2] = static_cast<std::uint8_t>(body >> 8);
  return out;
}

std::vector<std::uint8_t> encode_all_back_record() {
  return {static_cast<std::uint8_t>(WatcherRecordKind::AllBack)};
}

std::optional<SavedSettings> decode_settings_record(const std::uint8_t* data, std::size_t size) {
  if (size < record_header_size || data[0] != static_cast<std::uint8_t>(WatcherRecordKind::Settings)) {
    return std::nullopt;
  }
  const std::size_t body = data[1] | static_cast<std::size_t>(data[2]) << 8;
  if (size != record_header_size + body) return std::nullopt;
  return decode_settings_body(data + record_header_size, body);
}

void WatcherRecordReader::feed(const std::uint8_t* data, std::size_t size) {
  if (!broken_) pending_.insert(pending_.end(), data, data + size);
}

std::optional<WatcherRecord> WatcherRecordReader::next() {
  if (broken_ || pending_.empty()) return std::nullopt;
  WatcherRecord record;
  std::size_t size = 1;
  switch (static_cast<WatcherRecordKind>(pending_[0])) {
    case WatcherRecordKind::Settings:
      if (pending_.size() < record_header_size) return std::nullopt;
      size = record_header_size + (pending_[1] | static_cast<std::size_t>(pending_[2]) << 8);
      record.kind = WatcherRecordKind::Settings;
      break;
    case WatcherRecordKind::AllBack:
      record.kind = WatcherRecordKind::AllBack;
      break;
    default:
      broken_ = true;
      pending_.clear();
      return std::nullopt;
  }
  if (pending_.size() < size) return std::nullopt;
  if (record.kind == WatcherRecordKind::Settings) {
    std::optional<SavedSettings> settings = decode_settings_record(pending_.data(), size);
    if (!settings) {
      broken_ = true;
      pending_.clear();
      return std::nullopt;
    }
    record.settings = std::move(*settings);
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(size));
  return record;
}

}  // namespace velmora
