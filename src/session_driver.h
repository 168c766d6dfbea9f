#pragma once

#include <cstdint>
#include <future>
#include <optional>
#include <string>

namespace velmora {

// What the hook thread could not make: without any of them there is no lock.
enum class HookThreadPart { KeyboardHook, MouseHook, Shield, Report };

struct HookFailure {
  HookThreadPart part = HookThreadPart::KeyboardHook;
  std::string error_text;  // the system's error, taken right after the failing call
};

// What the hook thread sends, once, on its thread-id channel: its identifier once the
// hooks, hotkeys, session window and shield are in place, or which part could not be made.
// After a failure the thread undoes what it had set up and ends by itself.
struct HookThreadReport {
  std::uint32_t thread_id = 0;
  std::optional<HookFailure> failure;
};

// The hook thread's body, which the driver starts on a thread of its own: it sends its
// report once, runs until WM_QUIT is posted to it, and tears everything down. Handed in,
// so that the driver depends on no layer above it.
using HookThreadBody = void (*)(std::promise<HookThreadReport> report_sender);

// Diagnostic mode only for a value of exactly "1"; absent, empty or anything else is
// normal mode.
bool decide_diagnostic(const std::optional<std::u16string>& value);

// Whether the environment variable is present and exactly "1".
bool env_flag_on(const char16_t* name);

// Reads standard input until a stop command, end of input or a read error. Returns why.
enum class LoopEnd { Stop, EndOfInput, ReadFailed };
LoopEnd run_command_loop();

// The whole run: start-up, command loop, shutdown, and the exit: status 0 after `bye`. With
// VELMORA_RESTORE_ONLY=1, only the locks and the replay of a leftover journal, then `bye`.
[[noreturn]] void run_session(HookThreadBody hook_thread_body);

}  // namespace velmora
