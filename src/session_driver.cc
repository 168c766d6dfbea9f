#include "session_driver.h"

#include <atomic>
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

// A low-level hook could not be installed: the lock never held, so no `ready` is claimed.
constexpr int hook_failure_exit_status = 102;

// How many more thread starts and joins may succeed; negative: all of them (tests lower it).
std::atomic<int> machinery_steps_left{-1};

// Fails the way the system would once the tests' count of steps has run out.
void take_machinery_step() {
  if (machinery_steps_left.load() == 0) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  }
  if (machinery_steps_left.load() > 0) machinery_steps_left.fetch_sub(1);
}

// The process's own machinery failed: whatever was changed goes back before the exit.
[[noreturn]] void fail_run(std::string_view message, std::string_view detail) {
  restore_guards(Restorer::ApplyingThread);
  end_watcher_link();
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
  std::uint32_t id = 0;  // 0: the thread ended before it reported, or a hook failed
  std::optional<HookFailure> failure;
  std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
};

// Starts the thread without waiting for its report, so the caller's own work overlaps its
// set-up.
HookThread start_hook_thread(HookThreadBody body) {
  HookThread hook;
  std::promise<HookThreadReport> report_sender;
  hook.report = report_sender.get_future();
  hook.thread = spawn_thread([body, sender = std::move(report_sender), ended = hook.ended]() mutable {
    // An abnormal end of the hook thread is discarded; shutdown goes on as usual.
    try {
      body(std::move(sender));
    } catch (...) {
    }
    ended->store(true);
  });
  return hook;
}

// Waits, without a time limit, for the thread's one report.
void await_hook_report(HookThread& hook) {
  try {
    HookThreadReport report = hook.report.get();
    hook.id = report.thread_id;
    hook.failure = std::move(report.failure);
  } catch (const std::future_error&) {
    hook.id = 0;  // the sending end went without a value
  }
}

// A quit message that cannot be queued would leave the join waiting for ever, with every
// setting still changed: post again until it is delivered or the thread has ended.
void stop_hook_thread(HookThread& hook) {
  if (hook.id != 0) {
    while (!platform_post_quit(hook.id) && !hook.ended->load()) platform_sleep_ms(quit_retry_ms);
  }
  try {
    hook.thread.join();
    take_machinery_step();  // after the join, so that a failure the tests make leaves no thread behind
  } catch (const std::system_error& error) {
    fail_run("failed to join on thread", error.what());
  }
}

const char* hook_name(LowLevelHook hook) { return hook == LowLevelHook::Keyboard ? "keyboard" : "mouse"; }

// Ends the start-up (the hook thread has ended by itself, so the join returns at once; the
// guards come after the hooks, so nothing was changed), tells why on standard error, and
// exits without `ready` or `bye`.
[[noreturn]] void abandon_start(HookThread& hook) {
  stop_hook_thread(hook);
  restore_guards(Restorer::ApplyingThread);
  end_watcher_link();
  const std::string message = std::string("failed to install the ") + hook_name(hook.failure->hook) + " hook";
  exit_with_report(hook_failure_exit_status, message, hook.failure->error_text);
}

// Another run holds the instance lock: nothing was changed, and nothing is written.
[[noreturn]] void refuse_start(HookThread* hook) {
  capture_active.store(false);
  if (hook != nullptr) stop_hook_thread(*hook);
  exit_with_report(already_running_status, "another sidecar is already running", "");
}

// Takes the instance lock through the watcher (or, without one, itself), or refuses the run.
void hold_lock_or_refuse(HookThread* hook) {
  if (await_watcher_link(diagnostic_mode.load()) == LinkStart::AlreadyRunning) refuse_start(hook);
}

// Once the session is ending the rest of the input is never read: the run ends as at end
// of input, also when the wake-up came while this thread was between two reads.
ReadResult read_input(char* buffer, std::size_t capacity) {
  if (session_ending.load()) return {ReadStatus::End, 0};
  return platform_read_stdin(buffer, capacity);
}

}  // namespace

void fail_machinery_after(int successful_steps) { machinery_steps_left.store(successful_steps); }

bool decide_diagnostic(const std::optional<std::u16string>& value) {
  return value.has_value() && *value == u"1";
}

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
  diagnostic_mode.store(decide_diagnostic(platform_get_env(u"VELMORA_DIAG")));
  platform_mark_input_reader();
  start_event_pump();
  // Usually the watcher starts while the hook thread sets up its hooks, hotkeys and shield,
  // which change no setting; nothing is changed, and nothing is written, before the lock is
  // held. With a run already in progress, this one waits for the lock (or is refused) before
  // it makes a hook or a window, so that a refused run takes no key and covers no screen.
  const bool overlap = platform_instance_lock_free();
  if (!overlap) {
    launch_watcher_link(diagnostic_mode.load());
    hold_lock_or_refuse(nullptr);
  }
  HookThread hook = start_hook_thread(hook_thread_body);
  if (overlap) launch_watcher_link(diagnostic_mode.load());
  await_hook_report(hook);
  if (overlap) hold_lock_or_refuse(&hook);
  if (hook.failure) abandon_start(hook);
  open_event_output();
  apply_guards();
  emit_line(event_line("ready"));

  (void)run_command_loop();  // every way out leads to the same shutdown
  command_loop_ended.store(true);

  capture_active.store(false);
  // Each restore acts at most once: after the end of the session each finds its setting
  // already back, except the wake request, which only this thread can end.
  restore_guards(Restorer::ApplyingThread, RestoreWhen::BeforeHookThreadStops);
  stop_hook_thread(hook);
  restore_guards(Restorer::ApplyingThread, RestoreWhen::AfterHookThreadStops);
  end_watcher_link();
  emit_last_line_and_exit(event_line("bye"), 0);
}

}  // namespace velmora
