#include "watcher.h"

#include <cstdint>
#include <optional>

#include "guard_table.h"
#include "journal.h"
#include "platform.h"
#include "watcher_protocol.h"

namespace velmora {
namespace {

constexpr unsigned run_lock_wait_ms = 2000;

}  // namespace

int run_watcher() {
  const bool holding = platform_take_instance_lock(watcher_lock_wait_ms) == LockTake::Taken;
  watch_sidecar();
  if (holding) platform_release_instance_lock();
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
  // The dead sidecar's run lock is abandoned to whoever waits on it first. The wait covers
  // the moment between the end of the pipe and the abandonment, which the system makes in
  // either order as it ends the process.
  if (platform_take_run_lock(run_lock_wait_ms) != LockTake::Taken) return;
  put_back_leftovers(last->settings);
  platform_release_run_lock();
}

}  // namespace velmora
