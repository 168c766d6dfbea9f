#include "watcher_link.h"

#include <mutex>
#include <vector>

#include "fatal_error.h"
#include "guard_table.h"
#include "journal.h"
#include "platform.h"
#include "watcher.h"
#include "watcher_protocol.h"

namespace velmora {
namespace {

// How long the end of the run waits for the watcher to exit after it was told.
constexpr unsigned watcher_exit_wait_ms = 2000;

struct Link {
  std::mutex lock;
  bool watcher = false;    // guarded by lock: a watcher reads the pipe
  bool told_done = false;  // guarded by lock
  bool launched = false;   // guarded by lock: this run keeps a journal
  bool run_lock = false;   // main thread only
};
Link link;

void say_watcher_gone() {
  report_error("the watcher ended during the run; the journal still covers a kill", "");
}

// Called by the system when the watcher process ends before the link is closed.
void on_watcher_exit() {
  bool said = false;
  {
    const std::lock_guard<std::mutex> hold(link.lock);
    said = !link.watcher || link.told_done;
    link.watcher = false;
  }
  if (!said) say_watcher_gone();
}

void send_locked(const std::vector<std::uint8_t>& record) {
  if (!link.watcher || link.told_done) return;
  if (platform_send_to_watcher(record.data(), record.size())) return;
  link.watcher = false;
  say_watcher_gone();
}

// The journal first: it alone survives a power cut, and the watcher's copy follows at once.
void keep_record(const SavedSettings& settings) {
  const std::lock_guard<std::mutex> hold(link.lock);
  if (link.told_done) return;
  keep_journal(settings);
  send_locked(encode_settings_record(settings));
}

LinkStart refusal(LockTake take) {
  return take == LockTake::OtherSession ? LinkStart::OtherSession : LinkStart::AlreadyRunning;
}

}  // namespace

LinkStart take_run_locks() {
  const LockTake run = platform_take_run_lock(instance_lock_wait_ms);
  if (run != LockTake::Taken) return refusal(run);
  link.run_lock = true;
  const LockTake instance = platform_await_instance_lock_free(instance_lock_wait_ms);
  if (instance == LockTake::Taken) return LinkStart::Locked;
  link.run_lock = false;
  platform_release_run_lock();
  return refusal(instance);
}

void launch_watcher_link(bool diagnostic) {
  if (diagnostic) return;
  {
    const std::lock_guard<std::mutex> hold(link.lock);
    link.watcher = true;  // before the launch: its end may be heard at once
    link.told_done = false;
    link.launched = true;
  }
  const WatcherLaunch launch = platform_launch_watcher(on_watcher_exit);
  if (!launch.started) {
    {
      const std::lock_guard<std::mutex> hold(link.lock);
      link.watcher = false;
    }
    report_error("could not start the watcher, so a kill would leave the settings changed until the next run",
                 launch.error_text);
  } else if (launch.ends_with_parent_job) {
    report_error(
        "the watcher runs in the parent's job, which ends it with the parent; the journal covers that", "");
  }
  set_saved_settings_listener(keep_record);
}

void tell_watcher_all_back() {
  const std::lock_guard<std::mutex> hold(link.lock);
  if (!link.launched || link.told_done) return;
  // What could not be put back stays owed in the journal, for the next run; the watcher has
  // nothing more to do either way.
  keep_journal(saved_settings());
  send_locked(encode_all_back_record());
  link.told_done = true;
  platform_close_watcher_pipe();
}

void end_watcher_link() {
  set_saved_settings_listener(nullptr);
  tell_watcher_all_back();
  platform_wait_for_watcher(watcher_exit_wait_ms);
  if (link.run_lock) {
    link.run_lock = false;
    platform_release_run_lock();
  }
}

}  // namespace velmora
