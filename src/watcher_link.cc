#include "watcher_link.h"

#include <chrono>
#include <mutex>
#include <string>
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

// How long the end of the run waits for the link, which the hook thread holds while it writes
// the journal at the end of the session: the registry's flush, bounded by the system.
constexpr std::chrono::milliseconds link_wait{2000};

struct Link {
  std::timed_mutex lock;
  bool watcher = false;    // guarded by lock: the pipe is open (and read, once launched)
  bool told_done = false;  // guarded by lock
  bool opened = false;     // guarded by lock: this run keeps a journal
  bool run_lock = false;   // main thread only
};
Link link;

using LinkHold = std::unique_lock<std::timed_mutex>;

void say_watcher_gone() {
  report_error("the watcher ended during the run; the journal still covers a kill", "");
}

// Called by the system when the watcher process ends before the link is closed.
void on_watcher_exit() {
  bool said = false;
  {
    const LinkHold hold(link.lock);
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
  const LinkHold hold(link.lock);
  if (link.told_done) return;
  keep_journal(settings);
  send_locked(encode_settings_record(settings));
}

void say_no_watcher(const std::string& error_text) {
  report_error("could not start the watcher, so a kill would leave the settings changed until the next run",
               error_text);
}

void tell_all_back_locked() {
  if (!link.opened || link.told_done) return;
  // What could not be put back stays owed in the journal, for the next run; the watcher has
  // nothing more to do either way.
  keep_journal(saved_settings());
  send_locked(encode_all_back_record());
  link.told_done = true;
  platform_close_watcher_pipe();
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

void open_watcher_link(bool diagnostic) {
  if (diagnostic) return;
  std::string error_text;
  bool opened = false;
  {
    const LinkHold hold(link.lock);
    link.told_done = false;
    link.opened = true;
    link.watcher = opened = platform_open_watcher_pipe(error_text);
  }
  if (!opened) say_no_watcher(error_text);
  set_saved_settings_listener(keep_record);
}

// Under the link's lock, so that the end of the session, which closes the pipe under it too,
// comes either before the launch (nothing is started) or after it (the watcher is told).
void launch_watcher() {
  WatcherLaunch launch;
  {
    const LinkHold hold(link.lock);
    if (!link.watcher || link.told_done) return;
    launch = platform_launch_watcher(on_watcher_exit);
    if (!launch.started) {
      link.watcher = false;
      platform_close_watcher_pipe();
    }
  }
  if (!launch.started) {
    say_no_watcher(launch.error_text);
  } else if (launch.ends_with_parent_job) {
    report_error(
        "the watcher runs in the parent's job, which ends it with the parent; the journal covers that", "");
  }
}

void tell_watcher_all_back() {
  const LinkHold hold(link.lock);
  tell_all_back_locked();
}

void end_watcher_link() {
  set_saved_settings_listener(nullptr);
  // Past the bound the hook thread still holds the link at the end of the session, and tells
  // the watcher itself.
  {
    const LinkHold hold(link.lock, link_wait);
    if (hold.owns_lock()) tell_all_back_locked();
  }
  platform_wait_for_watcher(watcher_exit_wait_ms);
  if (link.run_lock) {
    link.run_lock = false;
    platform_release_run_lock();
  }
}

}  // namespace velmora
