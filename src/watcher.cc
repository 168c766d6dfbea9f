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

// What the watcher has read of its pipe so far.
struct Watch {
  WatcherRecordReader reader;
  std::optional<WatcherRecord> last;
  bool ended = false;  // every writer of the pipe is gone
};

void take_in(Watch& watch, const char* buffer, const ReadResult& read) {
  if (read.status != ReadStatus::Data) {
    watch.ended = true;
    return;
  }
  watch.reader.feed(reinterpret_cast<const std::uint8_t*>(buffer), read.size);
  while (std::optional<WatcherRecord> record = watch.reader.next()) watch.last = record;
}

void read_waiting(Watch& watch) {
  char buffer[512];
  while (!watch.ended) {
    const std::optional<ReadResult> read = platform_read_from_sidecar_now(buffer, sizeof(buffer));
    if (!read) return;
    take_in(watch, buffer, *read);
  }
}

void read_to_end(Watch& watch) {
  char buffer[512];
  while (!watch.ended) take_in(watch, buffer, platform_read_from_sidecar(buffer, sizeof(buffer)));
}

// Takes the instance lock in short turns and reads the pipe between them; gives up once the
// pipe has ended (the lock is then of no use: see finish) or the whole wait is over.
bool take_instance_lock_while_reading(Watch& watch) {
  for (unsigned waited = 0; waited < watcher_lock_wait_ms; waited += watcher_lock_turn_ms) {
    if (platform_take_instance_lock(watcher_lock_turn_ms) == LockTake::Taken) return true;
    read_waiting(watch);
    if (watch.ended) return false;
  }
  return false;
}

void finish(Watch& watch, bool on_instance_lock) {
  read_to_end(watch);
  if (!watch.last || watch.last->kind == WatcherRecordKind::AllBack) return;
  if (on_instance_lock) return put_back_leftovers(watch.last->settings);
  // The dead sidecar's run lock is abandoned to whoever waits on it first. The wait covers
  // the moment between the end of the pipe and the abandonment, which the system makes in
  // either order as it ends the process.
  if (platform_take_run_lock(run_lock_wait_ms) != LockTake::Taken) return;
  put_back_leftovers(watch.last->settings);
  platform_release_run_lock();
}

}  // namespace

int run_watcher() {
  Watch watch;
  const bool holding = take_instance_lock_while_reading(watch);
  finish(watch, holding && platform_sidecar_alive());
  if (holding) platform_release_instance_lock();
  return 0;
}

void watch_sidecar() {
  Watch watch;
  finish(watch, false);
}

}  // namespace velmora
