#include "session_driver.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "event_channel.h"
#include "event_stream.h"
#include "fatal_error.h"
#include "guard_table.h"
#include "journal.h"
#include "line_reader.h"
#include "platform.h"
#include "process_state.h"
#include "session_driver_testing.h"
#include "stop_command.h"
#include "watcher.h"
#include "watcher_link.h"

namespace velmora {
namespace {

// How often an undelivered quit message is posted again.
constexpr unsigned quit_retry_ms = 10;

// The hook thread could not make its lock: no `ready` is claimed.
constexpr int hook_failure_exit_status = 102;

// Bounds of the waits on the hook thread: its report (a few windows and two hooks), and its
// end once asked to quit. Tests lower them.
constexpr unsigned default_report_wait_ms = 10000;
constexpr unsigned default_end_wait_ms = 5000;
std::atomic<unsigned> report_wait_ms{default_report_wait_ms};
std::atomic<unsigned> end_wait_ms{default_end_wait_ms};

// How many more thread starts and joins may succeed; negative: all of them (tests lower it).
std::atomic<int> machinery_steps_left{-1};

// Fails the way the system would once the tests' count of steps has run out.
void take_machinery_step() {
  if (machinery_steps_left.load() == 0) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  }
  if (machinery_steps_left.load() > 0) machinery_steps_left.fetch_sub(1);
}

// The process's own machinery failed: whatever was changed goes back before the exit. The wait
// for the pass is bounded: a hook thread that would not end may be inside the end of the
// session's restore, and puts those settings back itself. Until that pass is over the watcher
// is not told that everything is back: after the exit it puts back what it was last told.
[[noreturn]] void fail_run(std::string_view message, std::string_view detail) {
  if (restore_guards_within(end_wait_ms.load(), Restorer::ApplyingThread)) end_watcher_link();
  fatal_error(message, detail);
}

template <typename Body>
std::thread spawn_thread(Body&& body) {
  try {
    take_machinery_step();
    return std::thread(std::forward<Body>(body));
  } catch (const std::system_error& error) {
    fail_run("failed to spawn thread", error.what());
  }
}

// The sending end lives on the heap for the rest of the process and is never released,
// so the keyboard filter never sees it go away.
void start_event_pump() {
  EventChannel channel = make_event_channel(event_channel_capacity);
  event_sender.store(new EventSender(std::move(channel.sender)));
  spawn_thread([receiver = std::move(channel.receiver)]() mutable {
    event_pump(std::move(receiver));
  }).detach();
}

struct HookThread {
  std::thread thread;
  std::future<HookThreadReport> report;
  std::future<void> ended;  // ready once the body has returned, however
  std::uint32_t id = 0;     // 0 until the thread has reported
  std::optional<HookFailure> failure;
};

// Starts the thread without waiting for its report, so the caller's own work overlaps its
// set-up.
HookThread start_hook_thread(HookThreadBody body) {
  HookThread hook;
  std::promise<HookThreadReport> report_sender;
  std::promise<void> end_sender;
  hook.report = report_sender.get_future();
  hook.ended = end_sender.get_future();
  hook.thread =
      spawn_thread([body, sender = std::move(report_sender), end = std::move(end_sender)]() mutable {
        // An abnormal end of the hook thread is discarded: the driver hears of it as a
        // report that never came, or as the end of the thread.
        try {
          body(std::move(sender));
        } catch (...) {
        }
        end.set_value();
      });
  return hook;
}

bool has_ended(const HookThread& hook, unsigned wait_ms) {
  return hook.ended.wait_for(std::chrono::milliseconds(wait_ms)) == std::future_status::ready;
}

// A thread that does not end in time is left to the exit, which ends it. At the end of the
// session after `ready` it may still be putting things back under the pass lock: once that
// pass is over, everything but the wake request is back, and the run ends as it would have.
[[noreturn]] void give_up_on_hook_thread(HookThread& hook, const std::string& message) {
  capture_active.store(false);
  if (hook.id != 0) (void)platform_post_quit(hook.id);
  hook.thread.detach();
  if (session_ending.load() && command_loop_started.load() &&
      restore_guards_within(end_wait_ms.load(), Restorer::ApplyingThread)) {
    end_watcher_link();
    emit_last_line_and_exit(event_line("bye"), 0);
  }
  fail_run(message, "");
}

std::string waited_text(const char* what, unsigned wait_ms) {
  return std::string("the hook thread did not ") + what + " within " + std::to_string(wait_ms) + " ms";
}

// Waits, within its bound, for the thread's one report. A thread that ended without one
// made no lock: that is a failure of its set-up like any other.
void await_hook_report(HookThread& hook) {
  const unsigned wait_ms = report_wait_ms.load();
  if (hook.report.wait_for(std::chrono::milliseconds(wait_ms)) != std::future_status::ready) {
    give_up_on_hook_thread(hook, waited_text("report", wait_ms));
  }
  try {
    HookThreadReport report = hook.report.get();
    hook.id = report.thread_id;
    hook.failure = std::move(report.failure);
  } catch (const std::future_error&) {
    hook.id = 0;  // the sending end went without a value
  }
  if (!hook.failure && hook.id == 0) hook.failure = HookFailure{HookThreadPart::Report, {}};
}

// A quit message that cannot be queued would leave the thread running with every setting
// still changed: post again until it is delivered or the thread has ended, then wait for
// its end; each within the bound.
void stop_hook_thread(HookThread& hook) {
  const unsigned wait_ms = end_wait_ms.load();
  if (hook.id != 0) {
    for (unsigned waited = 0; !platform_post_quit(hook.id) && !has_ended(hook, 0); waited += quit_retry_ms) {
      if (waited >= wait_ms) give_up_on_hook_thread(hook, waited_text("end", wait_ms));
      platform_sleep_ms(quit_retry_ms);
    }
  }
  if (!has_ended(hook, wait_ms)) give_up_on_hook_thread(hook, waited_text("end", wait_ms));
  try {
    hook.thread.join();
    take_machinery_step();  // after the join, so that a failure the tests make leaves no thread behind
  } catch (const std::system_error& error) {
    fail_run("failed to join on thread", error.what());
  }
}

const char* failure_message(HookThreadPart part) {
  switch (part) {
    case HookThreadPart::KeyboardHook:
      return "failed to install the keyboard hook";
    case HookThreadPart::MouseHook:
      return "failed to install the mouse hook";
    case HookThreadPart::Shield:
      return "failed to create the shield, so the screen would not be covered";
    case HookThreadPart::Report:
      break;
  }
  return "the hook thread ended before it reported";
}

// Ends the start-up (the hook thread has ended by itself, so the join returns at once; the
// guards come after the hooks, so nothing was changed), tells why on standard error, and
// exits without `ready` or `bye`.
[[noreturn]] void abandon_start(HookThread& hook) {
  stop_hook_thread(hook);
  restore_guards(Restorer::ApplyingThread);
  end_watcher_link();
  exit_with_report(hook_failure_exit_status, failure_message(hook.failure->part), hook.failure->error_text);
}

// Another run holds the locks: nothing was made or changed, and nothing is written.
void hold_locks_or_refuse() {
  switch (take_run_locks()) {
    case LinkStart::Locked:
      return;
    case LinkStart::AlreadyRunning:
      exit_with_report(already_running_status, "another sidecar is already running", "");
    case LinkStart::OtherSession:
      // The lock's name is denied to another user, and to another privilege level of the same
      // user (an elevated sidecar beside one that is not).
      exit_with_report(already_running_status,
                       "a sidecar of another user or at another privilege level holds the lock", "");
  }
}

// Puts back what a run that never finished left, and nothing else.
[[noreturn]] void run_restore_only() {
  diagnostic_mode.store(false);
  hold_locks_or_refuse();
  replay_journal();
  end_watcher_link();
  emit_last_line_and_exit(event_line("bye"), 0);
}

// Once the session is ending the rest of the input is never read: the run ends as at end
// of input, also when the wake-up came while this thread was between two reads.
ReadResult read_input(char* buffer, std::size_t capacity) {
  if (session_ending.load()) return {ReadStatus::End, 0};
  return platform_read_stdin(buffer, capacity);
}

}  // namespace

void fail_machinery_after(int successful_steps) { machinery_steps_left.store(successful_steps); }

void set_hook_thread_waits(unsigned report_ms, unsigned end_ms) {
  report_wait_ms.store(report_ms != 0 ? report_ms : default_report_wait_ms);
  end_wait_ms.store(end_ms != 0 ? end_ms : default_end_wait_ms);
}

bool decide_diagnostic(const std::optional<std::u16string>& value) {
  return value.has_value() && *value == u"1";
}

bool env_flag_on(const char16_t* name) { return decide_diagnostic(platform_get_env(name)); }

LoopEnd run_command_loop() {
  LineReader reader(read_input);
  std::string line;
  for (;;) {
    switch (reader.next(line)) {
      case LineStatus::Line:
        if (is_stop_command(line)) return LoopEnd::Stop;
        break;
      case LineStatus::TooLong:
        break;  // never a command; its bytes were still checked as UTF-8
      case LineStatus::End:
        return LoopEnd::EndOfInput;
      case LineStatus::Failed:
        return LoopEnd::ReadFailed;
    }
  }
}

void run_session(HookThreadBody hook_thread_body) {
  if (env_flag_on(u"VELMORA_RESTORE_ONLY")) run_restore_only();
  const bool diagnostic = env_flag_on(u"VELMORA_DIAG");
  diagnostic_mode.store(diagnostic);
  platform_mark_input_reader();
  // The locks come before any hook or window: of two sidecars started together, the one
  // refused never takes a key or covers the screen. A diagnostic run changes nothing, so it
  // leaves a leftover journal to the next run that does.
  hold_locks_or_refuse();
  if (!diagnostic) replay_journal();
  start_event_pump();
  HookThread hook = start_hook_thread(hook_thread_body);
  await_hook_report(hook);
  if (hook.failure) abandon_start(hook);
  open_event_output();
  // The pipe before the record: the watcher reads it whenever it starts.
  open_watcher_link(diagnostic);
  apply_guards();
  emit_line(event_line("ready"));
  command_loop_started.store(true);
  // A process start (some tens of ms, and under Wine the whole machine's) kept off the path to
  // `ready`: the record is durable in the journal and waits in the pipe already.
  launch_watcher();

  (void)run_command_loop();  // every way out leads to the same shutdown
  command_loop_ended.store(true);

  capture_active.store(false);
  // Each restore acts at most once: after the end of the session each finds its setting
  // already back, except the wake request, which only this thread can end. Past the bound the
  // end of the session's pass on the hook thread still holds them, and puts them back itself.
  (void)restore_guards_within(end_wait_ms.load(), Restorer::ApplyingThread,
                              RestoreWhen::BeforeHookThreadStops);
  stop_hook_thread(hook);
  restore_guards(Restorer::ApplyingThread, RestoreWhen::AfterHookThreadStops);
  end_watcher_link();
  emit_last_line_and_exit(event_line("bye"), 0);
}

}  // namespace velmora
