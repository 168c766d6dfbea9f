#pragma once

// The seam between the sidecar's logic and the operating system. Each function is a thin
// wrapper over one platform call (or a short fixed sequence of them) and calls nothing of
// the sidecar's own: the seam is a leaf. The Windows build links the implementations in
// src/win32/; the native tests link a recording fake, so the start-up and shutdown orders
// and the save-and-restore logic run where Windows is absent.
//
// A few portable headers (click_gate.h, keyboard_filter.h) carry Windows message values
// as plain numbers, so that the logic deciding on them builds and
// is tested natively; src/win32/hook_thread_win32.cc checks them against <windows.h>.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// --- Standard streams ---------------------------------------------------------------

enum class ReadStatus { Data, End, Error };

struct ReadResult {
  ReadStatus status = ReadStatus::End;
  std::size_t size = 0;
};

// Reads what is available, at most `capacity` bytes. No handle at all reads as End.
ReadResult platform_read_stdin(char* buffer, std::size_t capacity);

// Writes every byte or gives up on the first failure; failures are for the caller to drop.
bool platform_write_stdout(const char* data, std::size_t size);
void platform_write_stderr(const char* data, std::size_t size);

// Remembers the calling thread as the one that reads standard input. Called once, by the
// main thread, before any other thread can want to wake it.
void platform_mark_input_reader();
// Makes a read of standard input that the reader is blocked in fail at once (it then
// reads as an error). False when the reader was not inside a read: a later read still
// blocks, so the caller checks its own flag before each read and tries again.
bool platform_cancel_input_read();

// --- Environment --------------------------------------------------------------------

// The variable's value as UTF-16, or empty when it is absent.
std::optional<std::u16string> platform_get_env(const char16_t* name);

// --- Process ------------------------------------------------------------------------

// Text of the calling thread's last system error, for fatal reports.
std::string platform_last_error_text();
// The same for a given error code: "<system text> (os error N)".
std::string platform_error_text(std::uint32_t error);

[[noreturn]] void platform_exit(int status);

// --- Hook thread ----------------------------------------------------------------------

// PostThreadMessageW(thread_id, WM_QUIT, 0, 0); true when the message was queued.
bool platform_post_quit(std::uint32_t thread_id);

void platform_sleep_ms(unsigned milliseconds);

// --- COM apartments ----------------------------------------------------------------

// CoInitializeEx for a single-threaded apartment. True when the thread is in one now (S_OK
// or S_FALSE), and only then is the matching platform_com_leave owed.
bool platform_com_enter();
void platform_com_leave();

// --- Power scheme and wake state ------------------------------------------------------

using SchemeId = std::array<std::uint8_t, 16>;

enum class PowerSetting { PowerButton, SleepButton, LidClose };

// PowerGetActiveScheme, then LocalFree of what it returned; empty on failure or NULL.
std::optional<SchemeId> platform_power_get_active_scheme();
// Return the platform's error code; 0 is success.
std::uint32_t platform_power_read_ac(const SchemeId& scheme, PowerSetting setting, std::uint32_t* value);
std::uint32_t platform_power_read_dc(const SchemeId& scheme, PowerSetting setting, std::uint32_t* value);
std::uint32_t platform_power_write_ac(const SchemeId& scheme, PowerSetting setting, std::uint32_t value);
std::uint32_t platform_power_write_dc(const SchemeId& scheme, PowerSetting setting, std::uint32_t value);
// PowerSetActiveScheme; the platform's error code, 0 on success.
std::uint32_t platform_power_set_active_scheme(const SchemeId& scheme);
// Makes the power schemes' values that were written durable (the machine's hive is written
// lazily), so that nothing that depends on them being back can reach the disk first.
void platform_flush_power_settings();

// Asks that the system and the display stay awake, for as long as the calling thread lives
// or until asked with false; the request belongs to the calling thread.
void platform_keep_awake(bool awake);

// --- Cursor ---------------------------------------------------------------------------

struct ClipRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  bool operator==(const ClipRect&) const = default;
};

std::int32_t platform_screen_width();
std::int32_t platform_screen_height();
// A null rectangle clears the clip.
void platform_clip_cursor(const ClipRect* rect);
// GetClipCursor: the rectangle the cursor is confined to (the whole screen when free);
// empty when the call fails.
std::optional<ClipRect> platform_get_clip_cursor();

// --- System beep ----------------------------------------------------------------------

// SPI_GETBEEP; empty when the call fails.
std::optional<bool> platform_get_beep();
// SPI_SETBEEP with fWinIni 0: the running logon only. The system's error code, 0 on success.
std::uint32_t platform_set_beep(bool on);

// --- Accessibility shortcuts ---------------------------------------------------------

enum class AccessibilityFeature { StickyKeys, FilterKeys, ToggleKeys, MouseKeys, HighContrast };
inline constexpr std::size_t accessibility_feature_count = 5;

// The dwFlags bits shared by the five features' structures: SKF_STICKYKEYSON,
// FKF_FILTERKEYSON, TKF_TOGGLEKEYSON, MKF_MOUSEKEYSON and HCF_HIGHCONTRASTON are all 0x1,
// and their *_HOTKEYACTIVE flags all 0x4 (checked against <windows.h> on the Windows side).
inline constexpr std::uint32_t accessibility_feature_on = 0x1;
inline constexpr std::uint32_t accessibility_hotkey_active = 0x4;

// The feature's dwFlags through its SPI_GET* call; empty when the call fails.
std::optional<std::uint32_t> platform_get_accessibility_flags(AccessibilityFeature feature);
// Its SPI_SET* call with fWinIni 0 (the running logon only), the rest of the structure as
// it is now. The system's error code, 0 on success.
std::uint32_t platform_set_accessibility_flags(AccessibilityFeature feature, std::uint32_t flags);

// --- Precision touchpad ----------------------------------------------------------------

// The touchpad's gestures that a cloth can set off, as the system's touchpad settings hold
// them (TOUCHPAD_PARAMETERS), and whether a precision touchpad is there at all.
struct TouchpadSettings {
  bool present = false;  // touchpadPresent
  bool tap = false;
  bool tap_and_drag = false;
  bool two_finger_tap = false;
  bool right_click_zone = false;
  bool pan = false;
  bool zoom = false;
  bool operator==(const TouchpadSettings&) const = default;
};

// SPI_GETTOUCHPADPARAMETERS, version 1. Empty before Windows 11 build 26100 or when the
// call fails (no precision touchpad stack, say).
std::optional<TouchpadSettings> platform_get_touchpad_settings();
// Reads the whole structure again, changes only the six gesture fields, and writes it with
// SPI_SETTOUCHPADPARAMETERS, version 1. The documentation does not say that fWinIni 0
// keeps it out of the user's profile: a caller treats it as persisted. False when the read
// or the write fails.
bool platform_set_touchpad_settings(const TouchpadSettings& settings);

// --- Touch screen, the shell's edge swipes and the foreground -------------------------

// GetSystemMetrics(SM_DIGITIZER): the NID_* bits of the touch and pen digitizers.
std::uint32_t platform_digitizer_status();
// Sets PKEY_EdgeGesture_DisableTouchWhenFullscreen on the window (a handle as a number) to
// VARIANT_TRUE, or clears it (VT_EMPTY). True when the window's property store took it.
bool platform_set_edge_swipes_blocked(std::uint64_t window, bool blocked);
// GetForegroundWindow; 0 when none.
std::uint64_t platform_foreground_window();
// SetForegroundWindow. Windows may refuse; compare with platform_foreground_window after.
void platform_set_foreground_window(std::uint64_t window);
// IsWindow and not IsHungAppWindow: a window that can take the foreground back.
bool platform_window_answers(std::uint64_t window);

// --- System sounds --------------------------------------------------------------------

// A playback device's system-sounds session: the device's id (IMMDevice::GetId) and whether
// the session is muted.
struct SoundsMute {
  std::u16string device;
  bool muted = false;
  bool operator==(const SoundsMute&) const = default;
};

// The default playback device's id and its system-sounds session's mute state; empty when no
// session was found or a call on the way failed.
std::optional<SoundsMute> platform_get_system_sounds_mute();
// Mutes or unmutes the system-sounds session of the device with that id (wherever the
// default is now), and says in `was_muted` what it was before. The error (an HRESULT, or
// E_NOTFOUND when the device is gone or has no such session), 0 on success. Each needs the
// calling thread in a COM apartment.
std::uint32_t platform_set_system_sounds_mute(const std::u16string& device, bool mute, bool* was_muted);

// --- One sidecar at a time -----------------------------------------------------------

// Taken: the calling thread holds the lock (one whose holder died counts as taken). Held:
// another run holds it. OtherSession: it exists but cannot be opened, which is what another
// user's run looks like (its mutex carries that user's default security).
enum class LockTake : std::uint8_t { Taken, Held, OtherSession };

// The run lock: the sidecar's own, taken before any hook or window and held for the whole
// run, waiting at most `wait_ms` for a holder to let go. Only the thread that took it lets go.
LockTake platform_take_run_lock(unsigned wait_ms);
void platform_release_run_lock();

// The instance lock: held by a run's watcher for as long as it may put things back.
LockTake platform_take_instance_lock(unsigned wait_ms);
void platform_release_instance_lock();
// Waits at most `wait_ms` until no watcher holds the instance lock; takes nothing.
LockTake platform_await_instance_lock_free(unsigned wait_ms);

// --- The journal of saved settings ---------------------------------------------------

// Which machine this is (its MachineGuid), so that a journal carried to another machine in
// a roaming profile is never applied there; all zero when it cannot be read.
using MachineId = std::array<std::uint8_t, 16>;
MachineId platform_machine_id();

// One binary value in the user's registry, one per machine. A write is made durable before
// it returns; false, with the reason in `error_text`, when it cannot be.
bool platform_journal_write(const std::uint8_t* data, std::size_t size, std::string& error_text);
// Empty when there is none (or it cannot be read).
std::optional<std::vector<std::uint8_t>> platform_journal_read();
// Deletes it, durably; nothing when there is none.
void platform_journal_delete();

// --- The watcher, from the sidecar ---------------------------------------------------

struct WatcherLaunch {
  bool started = false;
  // Started inside a job that ends its processes with the parent's: the watcher then ends
  // with the parent.
  bool ends_with_parent_job = false;
  std::string error_text;  // why it could not be started
};

// Makes the pipe to the watcher before the watcher exists, with a buffer that holds every
// record a run writes before the watcher reads (a few hundred bytes), so that records can be
// written into it at once; false, with the reason in `error_text`, when it cannot be made.
bool platform_open_watcher_pipe(std::string& error_text);
// Starts the watcher, a second process of this executable that inherits only the read end of
// the pipe opened before and a handle that tells it whether the sidecar still runs, without
// waiting for it: it reads every record written to the pipe, before or after its start.
// `on_exit` is called, on a thread of the system's pool, if the watcher process ends while
// the link is open.
WatcherLaunch platform_launch_watcher(void (*on_exit)());
// Writes every byte to the watcher's pipe; false when the watcher is gone.
bool platform_send_to_watcher(const std::uint8_t* data, std::size_t size);
// Closes the sidecar's ends of the pipe, after which `on_exit` is no longer called; the
// watcher then reads the end of its pipe.
void platform_close_watcher_pipe();
// Waits at most `wait_ms` for the watcher process to exit.
void platform_wait_for_watcher(unsigned wait_ms);

// --- The watcher's own side ------------------------------------------------------------

enum class WatcherRole : std::uint8_t { NotWatcher, Connected, SidecarGone };

// Whether this process was started as a watcher; if so, takes the pipe it inherited. Any
// other command line is not a watcher's.
WatcherRole platform_connect_to_sidecar();
// Reads what the sidecar sent; End once every writer of the pipe is gone, however it ended.
ReadResult platform_read_from_sidecar(char* buffer, std::size_t capacity);
// The same without waiting: empty while the pipe is open and nothing waits in it.
std::optional<ReadResult> platform_read_from_sidecar_now(char* buffer, std::size_t capacity);
// Whether the sidecar process has not ended yet.
bool platform_sidecar_alive();

// --- Thread priority -------------------------------------------------------------------

// Raises the calling thread's priority a little above its process's normal level, for
// the two threads every key crosses (the hook thread and the event pump), so that under
// CPU load a key does not wait behind busy programs for a core. Each calls it from itself.
// Nothing to do where it cannot be raised.
void platform_raise_thread_priority();

}  // namespace velmora
