#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "guard_table.h"

namespace velmora {

// What the sidecar tells its watcher through their pipe: records, each the whole record of
// saved values (sent after each save, before the change it precedes, and after each
// restore pass), and one last record once the run is over (everything back, or what is
// still owed kept in the journal for the next run). Nothing else ever crosses the pipe.
enum class WatcherRecordKind : std::uint8_t { Settings = 'S', AllBack = 'D' };

// A settings record: its kind, the length of its body (two bytes, little-endian), the body.
std::vector<std::uint8_t> encode_settings_record(const SavedSettings& settings);
std::vector<std::uint8_t> encode_all_back_record();
// Empty unless the bytes are exactly one settings record.
std::optional<SavedSettings> decode_settings_record(const std::uint8_t* data, std::size_t size);

// The body alone, which the journal keeps too: the power values with their scheme, the mute
// state with its device, the beep, the accessibility flags, the touchpad's settings and
// whether the cursor is confined. Decoding is strict: a short or long body, or a field out of range, decodes
// to nothing, so whatever another program left in the registry is never applied half-read.
void encode_settings_body(const SavedSettings& settings, std::vector<std::uint8_t>& out);
std::optional<SavedSettings> decode_settings_body(const std::uint8_t* data, std::size_t size);
// The body of the first journal version: fixed size, no device for the mute.
std::optional<SavedSettings> decode_settings_body_v1(const std::uint8_t* data, std::size_t size);

// The longest device id a record carries, in UTF-16 units; the system's are some 55.
inline constexpr std::size_t max_device_id_length = 512;

struct WatcherRecord {
  WatcherRecordKind kind = WatcherRecordKind::AllBack;
  SavedSettings settings;  // only for Settings
};

// Takes the pipe's bytes as they come, split anywhere, and hands back whole records. A byte
// that starts no known record, or a body that does not decode, ends the stream: nothing
// after it is trusted.
class WatcherRecordReader {
 public:
  void feed(const std::uint8_t* data, std::size_t size);
  std::optional<WatcherRecord> next();

 private:
  std::vector<std::uint8_t> pending_;
  bool broken_ = false;
};

}  // namespace velmora
