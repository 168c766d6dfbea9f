#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "guard_table.h"

namespace velmora {

// What the sidecar tells its watcher through their pipe: fixed-size records, each the
// whole record of saved values (sent after each save, before the change it precedes), and
// one last record once everything is back. Nothing else ever crosses the pipe.
enum class WatcherRecordKind : std::uint8_t { Settings = 'S', AllBack = 'D' };

std::vector<std::uint8_t> encode_settings_record(const SavedSettings& settings);
std::vector<std::uint8_t> encode_all_back_record();
// Empty unless the bytes are exactly one settings record.
std::optional<SavedSettings> decode_settings_record(const std::uint8_t* data, std::size_t size);

struct WatcherRecord {
  WatcherRecordKind kind = WatcherRecordKind::AllBack;
  SavedSettings settings;  // only for Settings
};

// Takes the pipe's bytes as they come, split anywhere, and hands back whole records. A byte
// that starts no known record ends the stream: nothing after it is trusted.
class WatcherRecordReader {
 public:
  void feed(const std::uint8_t* data, std::size_t size);
  std::optional<WatcherRecord> next();

 private:
  std::vector<std::uint8_t> pending_;
  bool broken_ = false;
};

}  // namespace velmora
