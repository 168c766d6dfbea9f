#include "watcher.h"

#include <cstdint>
#include <optional>

#include "guard_table.h"
#include "platform.h"
#include "watcher_protocol.h"

namespace velmora {

int run_watcher() {
  if (!platform_take_instance_lock(instance_lock_wait_ms)) return already_running_status;
  platform_tell_sidecar_holding();
  watch_sidecar();
  platform_release_instance_lock();
  return 0;
}

void watch_sidecar() {
  WatcherRecordReader reader;
  std::optional<WatcherRecord> last;
  char buffer[512];
  for (;;) {
    const ReadResult read = platform_read_from_sidecar(buffer, sizeof(buffer));
    if (read.status != ReadStatus::Data) break;
    reader.feed(reinterpret_cast<const std::uint8_t*>(buffer), read.size);
    while (std::optional<WatcherRecord> record = reader.next()) last = record;
  }
  if (!last || last->kind == WatcherRecordKind::AllBack) return;
  load_saved_settings(last->settings);
  restore_guards(Restorer::OtherThread);
}

}  // namespace velmora
