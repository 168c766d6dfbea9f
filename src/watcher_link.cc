#include "watcher_link.h"

#include <mutex>
#include <string>
#include <vector>

#include "fatal_error.h"
#include "guard_table.h"
#include "platform.h"
#include "watcher.h"
#include "watcher_protocol.h"

namespace velmora {
namespace {

// How long the end of the run waits for the watcher to exit after it was told.
constexpr unsigned watcher_exit_wait_ms = 2000;
// How long a start waits for the watcher's answer: its own start, then its wait for the lock.
constexpr unsigned watcher_answer_wait_ms = instance_lock_wait_ms + 5000;

struct Link {
  std::mutex lock;
  bool watcher = false;    // guarded by lock: a watcher holds the instance lock and reads the pipe
  bool told_done = false;  // guarded by lock
  // Main thread only: whether the watcher was started, why not, and whether this process
  // holds the instance lock itself.
  bool launched = false;
  std::string launch_error;
  bool own_lock = false;
};
Link link;

void send_locked(const std::vector<std::uint8_t>& record) {
  // A watcher that died is not fatal: the lock goes on without it.
  if (link.watcher && !link.told_done) (void)platform_send_to_watcher(record.data(), record.size());
}

void tell_watcher(const SavedSettings& settings) {
  const std::lock_guard<std::mutex> hold(link.lock);
  send_locked(encode_settings_record(settings));
}

}  // namespace

void launch_watcher_link(bool diagnostic) {
  {
    const std::lock_guard<std::mutex> hold(link.lock);
    link.watcher = false;
    link.told_done = false;
  }
  set_saved_settings_listener(nullptr);
  link.launch_error.clear();
  link.launched = !diagnostic && platform_launch_watcher(link.launch_error);
}

LinkStart await_watcher_link(bool diagnostic) {
  if (!diagnostic) {
    std::string error_text = link.launch_error;
    WatcherStart answer = WatcherStart::Failed;
    if (link.launched)
      answer = platform_await_watcher(watcher_answer_wait_ms, already_running_status, error_text);
    switch (answer) {
      case WatcherStart::Holding: {
        const std::lock_guard<std::mutex> hold(link.lock);
        link.watcher = true;
        set_saved_settings_listener(tell_watcher);
        return LinkStart::Locked;
      }
      case WatcherStart::Refused:
        return LinkStart::AlreadyRunning;
      case WatcherStart::Failed:
        report_error("could not start the watcher, so a kill would leave the settings changed", error_text);
        break;
    }
  }
  if (!platform_take_instance_lock(instance_lock_wait_ms)) return LinkStart::AlreadyRunning;
  link.own_lock = true;
  return LinkStart::Locked;
}

void tell_watcher_all_back() {
  const std::lock_guard<std::mutex> hold(link.lock);
  if (!link.watcher || link.told_done) return;
  send_locked(encode_all_back_record());
  link.told_done = true;
  platform_close_watcher_pipe();
}

void end_watcher_link() {
  tell_watcher_all_back();
  bool watcher = false;
  {
    const std::lock_guard<std::mutex> hold(link.lock);
    watcher = link.watcher;
  }
  if (watcher) platform_wait_for_watcher(watcher_exit_wait_ms);
  if (link.own_lock) {
    link.own_lock = false;
    platform_release_instance_lock();
  }
}

}  // namespace velmora
