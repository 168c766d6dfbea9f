#include "session_driver.h"

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <system_error>
#include <thread>

#include "event_stream.h"
#include "fatal_error.h"
#include "key_channel.h"
#include "line_reader.h"
#include "platform.h"
#include "power_guard.h"
#include "process_state.h"
#include "sound_guard.h"
#include "stop_command.h"

namespace velmora {
namespace {

// How often an undelivered quit message is posted again.
constexpr unsigned quit_retry_ms = 10;

template <typename Body>
std::thread spawn_thread(Body&& body) {
  try {
    return std::thread(std::forward<Body>(body));
  } catch (const std::system_error& error) {
    fatal_error("failed to spawn thread", error.what());
  }
}

// The sending end lives on the heap for the rest of the process and is never released,
// so the keyboard filter never sees it go away.
void start_key_event_pump() {
  KeyChannel channel = make_key_channel(key_channel_capacity);
  key_event_sender.store(new KeySender(std::move(channel.sender)));
  spawn_thread([receiver = std::move(channel.receiver)]() mutable {
    key_event_pump(std::move(receiver));
  }).detach();
}

void apply_guards() {
  keep_awake();
  neutralize_power_actions();
  platform_com_initialize();
  mute_system_sounds();
  disable_beep();
}

// Not the exact reverse of start-up: the audio restore needs the COM apartment, and the
// power scheme is put back last. After the end of the session each of these finds its
// setting already back and does nothing, except the wake request, which only this thread
// can end.
void restore_guards() {
  release_cursor();
  restore_system_sounds();
  restore_beep();
  platform_com_uninitialize();
  end_keep_awake();
  restore_power_actions();
}

struct HookThread {
  std::thread thread;
  std::uint32_t id = 0;  // 0: the thread ended before it reported
  std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
};

HookThread start_hook_thread() {
  HookThread hook;
  std::promise<std::uint32_t> id_sender;
  std::future<std::uint32_t> id_receiver = id_sender.get_future();
  hook.thread = spawn_thread([sender = std::move(id_sender), ended = hook.ended]() mutable {
    try {
      platform_hook_thread_body(std::move(sender));
    } catch (...) {
      // An abnormal end of the hook thread is discarded; shutdown goes on as usual.
      (void)0;
    }
    ended->store(true);
  });
  try {
    hook.id = id_receiver.get();
  } catch (const std::future_error&) {
    hook.id = 0;  // the sending end went without a value
  }
  return hook;
}

// A quit message that cannot be queued would leave the join waiting for ever, with every
// setting still changed: post again until it is delivered or the thread has ended.
void stop_hook_thread(HookThread& hook) {
  if (hook.id != 0) {
    while (!platform_post_quit(hook.id) && !hook.ended->load()) platform_sleep_ms(quit_retry_ms);
  }
  try {
    hook.thread.join();
  } catch (const std::system_error& error) {
    fatal_error("failed to join on thread: ", error.what());
  }
}

// Once the session is ending the rest of the input is never read: the run ends as at end
// of input, also when the wake-up came while this thread was between two reads.
ReadResult read_input(char* buffer, std::size_t capacity) {
  if (session_ending.load()) return {ReadStatus::End, 0};
  return platform_read_stdin(buffer, capacity);
}

}  // namespace

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

int run_session() {
  const bool diagnostic = decide_diagnostic(platform_get_env(u"VELMORA_DIAG"));
  diagnostic_mode.store(diagnostic);
  platform_mark_input_reader();
  start_key_event_pump();
  if (!diagnostic) apply_guards();
  HookThread hook = start_hook_thread();
  if (!diagnostic) confine_cursor();
  emit_line(event_line("ready"));

  (void)run_command_loop();  // every way out leads to the same shutdown
  command_loop_ended.store(true);

  capture_active.store(false);
  stop_hook_thread(hook);
  if (!diagnostic) restore_guards();
  emit_line(event_line("bye"));
  return 0;
}

}  // namespace velmora
