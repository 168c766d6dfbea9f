#pragma once

// A recording stand-in for every function of platform.h. Each call appends one readable
// record to a process-wide log ("power_write_ac PowerButton 0", "set_beep 0", ...); the
// helpers below script what the calls find.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"
#include "session_driver.h"

namespace velmora::fake {

// What platform_exit throws, after recording the call, so a fatal path can be observed.
struct ExitCalled {
  int status = 0;
};

enum class HookScript {
  ReportAndWaitForQuit,  // sends its id, then runs until a quit message is delivered
  EndWithoutReport,      // ends at once without sending an id
  ReportAndEnd,          // sends its id and ends at once
  KeyboardHookFails,     // reports the keyboard hook's failure and ends
  MouseHookFails,        // reports the mouse hook's failure and ends
  // sends its id, waits until the main thread is blocked reading standard input, then
  // does what the end of the user's session does and waits for the quit message
  EndSessionThenWaitForQuit,
  ShieldFails,       // reports that the shield could not be made, and ends
  HangBeforeReport,  // neither reports nor ends until released
  IgnoreQuit,        // sends its id, then runs on after the quit until released
  // sends its id, waits for the quit message, then meets the end of the user's session
  // before it ends (the system's sent message comes before the posted quit)
  EndSessionAfterQuit,
};

inline constexpr std::uint32_t hook_thread_id = 4242;
inline constexpr SchemeId fake_scheme = {0x5C, 0x4E, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
inline constexpr MachineId fake_machine = {0x3A, 0x11, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0xAB, 0xCD, 0xEF, 0x42};
inline constexpr char16_t fake_device[] = u"{0.0.0.00000000}.{speakers}";
// What the system answers for a device that is gone (E_NOTFOUND).
inline constexpr std::uint32_t not_found = 0x80070490;

// Back to the defaults below, and the units' process-wide state back to process start
// (capture active, not diagnostic, no event sender, empty guard slots, no listener). The
// event sender a session published is dropped, not freed: it is never released by design.
void reset();

std::vector<std::string> calls();
void clear_calls();
// The threads that called platform_raise_thread_priority, in order (not in the call log).
std::vector<std::thread::id> threads_raised();

// Standard input: the chunks are handed out in order (a chunk larger than a read's
// capacity is split), then end of input or, with `fail_at_end`, a read error.
// Default: end of input at once.
void set_stdin(std::vector<std::string> chunks, bool fail_at_end = false);
// Once the chunks are used up, a read blocks until platform_cancel_input_read, then fails.
void set_stdin_blocks(bool blocks);
std::size_t stdin_chunks_left();
std::string stdout_text();
std::string stderr_text();

// VELMORA_DIAG and VELMORA_RESTORE_ONLY. Default: absent.
void set_env(std::optional<std::u16string> value);
void set_restore_only_env(std::optional<std::u16string> value);

// Default: fake_scheme readable.
void set_scheme(std::optional<SchemeId> scheme);
// Default: every read succeeds; values PowerButton 1/2, SleepButton 3/4, LidClose 5/6 (AC/DC).
void set_power_read(PowerSetting setting, bool dc, std::uint32_t result, std::uint32_t value);

// Default: every write succeeds (0).
void set_power_write_error(PowerSetting setting, bool dc, std::uint32_t error);
// Default: each feature's flags 4 (off, its shortcut active); empty: unreadable.
void set_accessibility_flags(AccessibilityFeature feature, std::optional<std::uint32_t> flags);
// What GetClipCursor finds until the next clip; empty: free (the whole screen). Default free.
void set_clip(std::optional<ClipRect> clip);
void set_beep(std::optional<bool> on);                     // default on; empty: unreadable
void set_screen(std::int32_t width, std::int32_t height);  // default 1920x1080
// The default device's system-sounds session: muted or not; empty: none found. Default false.
void set_mute_result(std::optional<bool> result);
std::optional<bool> mute_state();                // what that session holds now
void set_default_device(std::u16string device);  // default fake_device
void set_device_gone(bool gone);                 // fake_device unplugged: every call on it fails
void set_device_gone_at_restore(bool gone);      // it reads and mutes, but every unmute fails
// The errors of the beep's, every accessibility feature's and the scheme activation's writes.
void set_restore_errors(std::uint32_t beep, std::uint32_t accessibility, std::uint32_t active_scheme);
void set_machine(MachineId machine);  // default fake_machine
// What a lock left behind when its process was killed: every power value do-nothing, the
// beep off, the sounds muted, the shortcuts cleared, the cursor clipped to the centre pixel,
// the touchpad's gestures off.
void set_locked_state();
std::optional<bool> beep();  // what the beep setting holds now
std::optional<std::uint32_t> accessibility_flags(AccessibilityFeature feature);
void set_com_apartment_entered(bool entered);  // default true

// The precision touchpad's settings as SPI_GETTOUCHPADPARAMETERS finds them; empty: the
// call is not supported (before Windows 11 24H2, or no touchpad stack). Default: a precision
// touchpad with every gesture on. A
// write changes them (keeping `present`), or fails when they are empty or told to.
void set_touchpad(std::optional<TouchpadSettings> settings);
std::optional<TouchpadSettings> touchpad();
void set_touchpad_write_fails(bool fails);
// GetSystemMetrics(SM_DIGITIZER). Default 0: no touch screen.
void set_digitizer(std::uint32_t status);
// The window's property store refuses the edge-swipe property. Default: it takes it.
void set_edge_store_refuses(bool refuses);
// The foreground window, and whether Windows refuses to change it. Default 0, granted.
void set_foreground(std::uint64_t window, bool refuse_changes = false);
// The window is gone or hung (platform_window_answers is false for it).
void set_window_silent(std::uint64_t window);

// Runs a whole session with the scripted hook thread below, up to its exit; the status.
int run_session_to_exit();

// Default: the watcher starts, out of any job.
void set_watcher_launch(WatcherLaunch launch);
// What taking (or waiting for) the run lock and the instance lock finds. Default: Taken.
void set_locks(LockTake run_lock, LockTake instance_lock);
// The watcher process ends: the next send to it fails, and the link hears of its end.
void end_watcher();
// The journal in the user's registry. Default: none.
void set_journal(std::optional<std::vector<std::uint8_t>> bytes);
std::optional<std::vector<std::uint8_t>> journal();
void set_journal_write_fails(bool fails);
// Lets a hook thread scripted to hang end, and waits until it has.
void release_hung_hook_thread();
// What the watcher reads from its sidecar, chunk by chunk, then end of the pipe.
void set_from_sidecar(std::vector<std::string> chunks);

// The hook thread's body, played by the script below; hand it to run_session.
void hook_thread_body(std::promise<HookThreadReport> report_sender);
void set_hook_script(HookScript script);  // default ReportAndWaitForQuit
// The next `count` quit posts fail; a negative count fails them all.
void set_post_quit_failures(int count);

// --- The watcher's launch, its pipe, and the bounds of the waits ----------------------

// Default: the pipe to the watcher can be made.
void set_watcher_pipe_opens(bool opens);
// The end of the user's session arrives on a thread of its own while the watcher's launch
// runs; the launch gives it up to 100 ms, then records "launch_watcher returns".
void set_end_of_session_during_launch(bool during);
// The watcher's first `polls` reads that do not wait find its pipe open and empty. Default 0.
void set_sidecar_pipe_quiet_polls(int polls);
// Whether the sidecar still runs when its watcher asks. Default true.
void set_sidecar_alive(bool alive);
// The next restore of the cursor ("clip_cursor null") stalls, holding its pass, until the
// second quit message is posted, or until released (at most 5 s). Default: never.
enum class StallUntil : std::uint8_t { Never, SecondQuit, Released };
void set_cursor_restore_stalls(StallUntil until);
void release_stalled_restore();

}  // namespace velmora::fake
