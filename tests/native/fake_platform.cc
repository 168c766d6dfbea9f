#include "fake_platform.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "end_of_session.h"
#include "guard_table.h"
#include "journal.h"
#include "power_guard.h"
#include "process_state.h"
#include "session_driver_testing.h"
#include "watcher_protocol.h"

namespace velmora {
namespace {

struct Script {
  std::deque<std::string> stdin_chunks;
  bool stdin_fails_at_end = false;
  bool stdin_blocks = false;
  bool reader_blocked = false;  // a read is waiting for a cancel
  bool read_cancelled = false;
  std::optional<std::u16string> env;  // VELMORA_DIAG
  std::optional<std::u16string> restore_only_env;
  std::optional<SchemeId> scheme = fake::fake_scheme;
  std::map<std::pair<PowerSetting, bool>, std::pair<std::uint32_t, std::uint32_t>> reads = {
      {{PowerSetting::PowerButton, false}, {0, 1}}, {{PowerSetting::PowerButton, true}, {0, 2}},
      {{PowerSetting::SleepButton, false}, {0, 3}}, {{PowerSetting::SleepButton, true}, {0, 4}},
      {{PowerSetting::LidClose, false}, {0, 5}},    {{PowerSetting::LidClose, true}, {0, 6}},
  };
  std::map<std::pair<PowerSetting, bool>, std::uint32_t> write_errors;
  std::optional<bool> beep = true;
  // Each feature off with its shortcut active, as Windows ships them.
  std::array<std::optional<std::uint32_t>, accessibility_feature_count> accessibility = {4, 4, 4, 4, 4};
  std::optional<ClipRect> clip;  // empty: free
  std::int32_t width = 1920;
  std::int32_t height = 1080;
  std::optional<bool> mute_result = false;  // the default device's session; empty: none found
  std::u16string default_device = fake::fake_device;
  bool device_gone = false;
  bool device_gone_at_restore = false;
  std::uint32_t set_beep_error = 0;
  std::uint32_t set_accessibility_error = 0;
  std::uint32_t set_active_scheme_error = 0;
  MachineId machine = fake::fake_machine;
  bool com_apartment_entered = true;
  fake::HookScript hook = fake::HookScript::ReportAndWaitForQuit;
  int post_quit_failures = 0;
  bool quit_delivered = false;
  LockTake run_lock = LockTake::Taken;
  LockTake instance_lock = LockTake::Taken;
  WatcherLaunch watcher_launch{true, false, {}};
  bool watcher_alive = true;
  void (*watcher_exit)() = nullptr;
  std::optional<std::vector<std::uint8_t>> journal;
  bool journal_write_fails = false;
  bool hung_thread_released = false;
  std::deque<std::string> from_sidecar;
  // A precision touchpad with every gesture on.
  std::optional<TouchpadSettings> touchpad = TouchpadSettings{true, true, true, true, true, true, true};
  bool touchpad_write_fails = false;
  std::uint32_t digitizer = 0;
  bool edge_store_refuses = false;
  std::uint64_t foreground = 0;
  bool foreground_refused = false;
  std::vector<std::uint64_t> silent_windows;  // gone or hung
  bool pipe_opens = true;
  bool end_of_session_during_launch = false;
  int quiet_polls = 0;
  bool sidecar_alive = true;
  fake::StallUntil cursor_stall = fake::StallUntil::Never;
  int quits_posted = 0;
  bool stall_released = false;
};

// One lock for everything: the fake is called from the main, hook and pump threads.
std::mutex state_lock;
std::condition_variable state_changed;
Script script;
std::vector<std::string> log;
std::string stdout_bytes;
std::string stderr_bytes;
std::vector<std::thread::id> raised_threads;
std::thread end_of_session_thread;  // the end of the session that meets the launch

void record(std::string entry) {
  const std::lock_guard<std::mutex> hold(state_lock);
  log.push_back(std::move(entry));
}

const char* setting_name(PowerSetting setting) {
  switch (setting) {
    case PowerSetting::PowerButton:
      return "PowerButton";
    case PowerSetting::SleepButton:
      return "SleepButton";
    case PowerSetting::LidClose:
      break;
  }
  return "LidClose";
}

// A power call made with any scheme but the one read at start is marked in its record.
std::string power_record(const char* call, const SchemeId& scheme, PowerSetting setting) {
  std::string entry = std::string(call) + " " + setting_name(setting);
  if (scheme != fake::fake_scheme) entry += " (other scheme)";
  return entry;
}

std::uint32_t power_read(const char* call, const SchemeId& scheme, PowerSetting setting, bool dc,
                         std::uint32_t* value) {
  record(power_record(call, scheme, setting));
  const std::lock_guard<std::mutex> hold(state_lock);
  const auto [result, read] = script.reads.at({setting, dc});
  // A failed read leaves junk behind, which must never be saved.
  *value = result == 0 ? read : 0xDEAD;
  return result;
}

// A write that succeeds is what the next read finds.
std::uint32_t power_write(PowerSetting setting, bool dc, std::uint32_t value) {
  const std::lock_guard<std::mutex> hold(state_lock);
  const std::uint32_t error = script.write_errors[{setting, dc}];
  if (error == 0) script.reads[{setting, dc}] = {0, value};
  return error;
}

}  // namespace

// --- platform.h ---------------------------------------------------------------------

ReadResult platform_read_stdin(char* buffer, std::size_t capacity) {
  std::unique_lock<std::mutex> hold(state_lock);
  if (script.stdin_chunks.empty() && script.stdin_blocks) {
    script.reader_blocked = true;
    state_changed.notify_all();
    // Bounded, so that a wake-up that never comes fails the test instead of hanging it.
    const bool cancelled =
        state_changed.wait_for(hold, std::chrono::seconds(5), [] { return script.read_cancelled; });
    script.reader_blocked = false;
    script.read_cancelled = false;
    log.emplace_back(cancelled ? "read_stdin cancelled" : "read_stdin never woken");
    return {cancelled ? ReadStatus::Error : ReadStatus::End, 0};
  }
  if (script.stdin_chunks.empty()) {
    log.emplace_back(script.stdin_fails_at_end ? "read_stdin error" : "read_stdin end");
    return {script.stdin_fails_at_end ? ReadStatus::Error : ReadStatus::End, 0};
  }
  std::string& chunk = script.stdin_chunks.front();
  const std::size_t size = std::min(capacity, chunk.size());
  std::copy_n(chunk.data(), size, buffer);
  chunk.erase(0, size);
  if (chunk.empty()) script.stdin_chunks.pop_front();
  log.emplace_back("read_stdin");
  return {ReadStatus::Data, size};
}

bool platform_write_stdout(const char* data, std::size_t size) {
  std::string text(data, size);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  record("write_stdout " + text);
  // Byte by byte, each under the lock on its own: writers that are not serialised by
  // the caller interleave here as they would on a pipe.
  for (std::size_t i = 0; i < size; ++i) {
    const std::lock_guard<std::mutex> hold(state_lock);
    stdout_bytes.push_back(data[i]);
  }
  return true;
}

void platform_write_stderr(const char* data, std::size_t size) {
  const std::lock_guard<std::mutex> hold(state_lock);
  stderr_bytes.append(data, size);
  log.emplace_back("write_stderr");
}

void platform_mark_input_reader() {}

// Only a cancel that finds a blocked read is recorded: the callers retry until the loop ends.
bool platform_cancel_input_read() {
  const std::lock_guard<std::mutex> hold(state_lock);
  if (!script.reader_blocked || script.read_cancelled) return false;
  script.read_cancelled = true;
  log.emplace_back("cancel_input_read");
  state_changed.notify_all();
  return true;
}

std::optional<std::u16string> platform_get_env(const char16_t* name) {
  const std::string variable(name, name + std::char_traits<char16_t>::length(name));
  record("get_env " + variable);
  const std::lock_guard<std::mutex> hold(state_lock);
  return variable == "VELMORA_RESTORE_ONLY" ? script.restore_only_env : script.env;
}

std::string platform_last_error_text() { return "fake system error"; }

std::string platform_error_text(std::uint32_t error) {
  return "fake system error (os error " + std::to_string(error) + ")";
}

void platform_exit(int status) {
  record("exit " + std::to_string(status));
  throw fake::ExitCalled{status};
}

bool platform_post_quit(std::uint32_t thread_id) {
  const std::lock_guard<std::mutex> hold(state_lock);
  std::string entry = "post_quit " + std::to_string(thread_id);
  if (script.post_quit_failures != 0) {
    if (script.post_quit_failures > 0) --script.post_quit_failures;
    log.push_back(entry + " failed");
    return false;
  }
  log.push_back(entry);
  script.quit_delivered = true;
  ++script.quits_posted;
  state_changed.notify_all();
  return true;
}

void platform_sleep_ms(unsigned milliseconds) { record("sleep_ms " + std::to_string(milliseconds)); }

bool platform_com_enter() {
  record("com_enter");
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.com_apartment_entered;
}
void platform_com_leave() { record("com_leave"); }

std::optional<SchemeId> platform_power_get_active_scheme() {
  record("power_get_active_scheme");
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.scheme;
}

std::uint32_t platform_power_read_ac(const SchemeId& scheme, PowerSetting setting, std::uint32_t* value) {
  return power_read("power_read_ac", scheme, setting, false, value);
}

std::uint32_t platform_power_read_dc(const SchemeId& scheme, PowerSetting setting, std::uint32_t* value) {
  return power_read("power_read_dc", scheme, setting, true, value);
}

std::uint32_t platform_power_write_ac(const SchemeId& scheme, PowerSetting setting, std::uint32_t value) {
  record(power_record("power_write_ac", scheme, setting) + " " + std::to_string(value));
  return power_write(setting, false, value);
}

std::uint32_t platform_power_write_dc(const SchemeId& scheme, PowerSetting setting, std::uint32_t value) {
  record(power_record("power_write_dc", scheme, setting) + " " + std::to_string(value));
  return power_write(setting, true, value);
}

std::uint32_t platform_power_set_active_scheme(const SchemeId& scheme) {
  record(scheme == fake::fake_scheme ? "power_set_active_scheme" : "power_set_active_scheme (other scheme)");
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.set_active_scheme_error;
}

void platform_flush_power_settings() { record("flush_power_settings"); }

MachineId platform_machine_id() {
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.machine;
}

void platform_keep_awake(bool awake) { record(awake ? "keep_awake 1" : "keep_awake 0"); }

std::int32_t platform_screen_width() {
  record("screen_width");
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.width;
}

std::int32_t platform_screen_height() {
  record("screen_height");
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.height;
}

namespace {

// Holds the calling restore pass until the stall is lifted, or at most 5 s.
void stall_cursor_restore() {
  std::unique_lock<std::mutex> hold(state_lock);
  const fake::StallUntil until = std::exchange(script.cursor_stall, fake::StallUntil::Never);
  if (until == fake::StallUntil::Never) return;
  log.emplace_back("cursor restore stalls");
  (void)state_changed.wait_for(hold, std::chrono::seconds(5), [until] {
    return script.stall_released || (until == fake::StallUntil::SecondQuit && script.quits_posted >= 2);
  });
  log.emplace_back("cursor restore goes on");
}

}  // namespace

void platform_clip_cursor(const ClipRect* rect) {
  if (rect == nullptr) stall_cursor_restore();
  {
    const std::lock_guard<std::mutex> hold(state_lock);
    script.clip = rect == nullptr ? std::nullopt : std::optional<ClipRect>(*rect);
  }
  if (rect == nullptr) return record("clip_cursor null");
  record("clip_cursor " + std::to_string(rect->left) + " " + std::to_string(rect->top) + " " +
         std::to_string(rect->right) + " " + std::to_string(rect->bottom));
}

std::optional<ClipRect> platform_get_clip_cursor() {
  record("get_clip_cursor");
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.clip ? *script.clip : ClipRect{0, 0, script.width, script.height};
}

namespace {

const char* feature_name(AccessibilityFeature feature) {
  switch (feature) {
    case AccessibilityFeature::StickyKeys:
      return "StickyKeys";
    case AccessibilityFeature::FilterKeys:
      return "FilterKeys";
    case AccessibilityFeature::ToggleKeys:
      return "ToggleKeys";
    case AccessibilityFeature::MouseKeys:
      return "MouseKeys";
    case AccessibilityFeature::HighContrast:
      break;
  }
  return "HighContrast";
}

}  // namespace

std::optional<std::uint32_t> platform_get_accessibility_flags(AccessibilityFeature feature) {
  record(std::string("get_accessibility_flags ") + feature_name(feature));
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.accessibility.at(static_cast<std::size_t>(feature));
}

std::uint32_t platform_set_accessibility_flags(AccessibilityFeature feature, std::uint32_t flags) {
  record(std::string("set_accessibility_flags ") + feature_name(feature) + " " + std::to_string(flags));
  const std::lock_guard<std::mutex> hold(state_lock);
  if (script.set_accessibility_error != 0) return script.set_accessibility_error;
  script.accessibility.at(static_cast<std::size_t>(feature)) = flags;
  return 0;
}

std::optional<bool> platform_get_beep() {
  record("get_beep");
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.beep;
}

std::uint32_t platform_set_beep(bool on) {
  record(on ? "set_beep 1" : "set_beep 0");
  const std::lock_guard<std::mutex> hold(state_lock);
  if (script.set_beep_error != 0) return script.set_beep_error;
  script.beep = on;
  return 0;
}

namespace {

std::string touchpad_text(const TouchpadSettings& settings) {
  std::string text;
  for (const bool on : {settings.present, settings.tap, settings.tap_and_drag, settings.two_finger_tap,
                        settings.right_click_zone, settings.pan, settings.zoom}) {
    text += on ? '1' : '0';
  }
  return text;
}

}  // namespace

std::optional<TouchpadSettings> platform_get_touchpad_settings() {
  record("get_touchpad_settings");
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.touchpad;
}

bool platform_set_touchpad_settings(const TouchpadSettings& settings) {
  const std::lock_guard<std::mutex> hold(state_lock);
  // The presence flag is the system's: a write keeps what it finds.
  const std::string entry = "set_touchpad_settings " + touchpad_text(settings);
  if (!script.touchpad || script.touchpad_write_fails) {
    log.push_back(entry + " failed");
    return false;
  }
  log.push_back(entry);
  const bool present = script.touchpad->present;
  script.touchpad = settings;
  script.touchpad->present = present;
  return true;
}

std::uint32_t platform_digitizer_status() {
  record("digitizer_status");
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.digitizer;
}

bool platform_set_edge_swipes_blocked(std::uint64_t window, bool blocked) {
  const std::lock_guard<std::mutex> hold(state_lock);
  const std::string entry = "set_edge_swipes_blocked " + std::to_string(window) + (blocked ? " 1" : " 0");
  log.push_back(script.edge_store_refuses ? entry + " refused" : entry);
  return !script.edge_store_refuses;
}

std::uint64_t platform_foreground_window() {
  record("foreground_window");
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.foreground;
}

void platform_set_foreground_window(std::uint64_t window) {
  const std::lock_guard<std::mutex> hold(state_lock);
  const std::string entry = "set_foreground_window " + std::to_string(window);
  log.push_back(script.foreground_refused ? entry + " refused" : entry);
  if (!script.foreground_refused) script.foreground = window;
}

bool platform_window_answers(std::uint64_t window) {
  record("window_answers " + std::to_string(window));
  const std::lock_guard<std::mutex> hold(state_lock);
  return std::find(script.silent_windows.begin(), script.silent_windows.end(), window) ==
         script.silent_windows.end();
}

std::optional<SoundsMute> platform_get_system_sounds_mute() {
  record("get_system_sounds_mute");
  const std::lock_guard<std::mutex> hold(state_lock);
  if (!script.mute_result) return std::nullopt;
  return SoundsMute{script.default_device, *script.mute_result};
}

// One device with a system-sounds session: the one named fake_device. An empty id is the
// default device, which a journal of the first version names so.
std::uint32_t platform_set_system_sounds_mute(const std::u16string& device, bool mute, bool* was_muted) {
  std::string entry = mute ? "set_system_sounds_mute 1" : "set_system_sounds_mute 0";
  if (device != fake::fake_device) entry += device.empty() ? " (default device)" : " (other device)";
  record(entry);
  const std::lock_guard<std::mutex> hold(state_lock);
  const bool reachable =
      device.empty() ? script.default_device == fake::fake_device : device == fake::fake_device;
  if (!reachable || script.device_gone || !script.mute_result) return fake::not_found;
  if (!mute && script.device_gone_at_restore) return fake::not_found;
  *was_muted = *script.mute_result;
  script.mute_result = mute;
  return 0;
}

namespace {

const char* take_text(LockTake take) {
  switch (take) {
    case LockTake::Taken:
      return "";
    case LockTake::Held:
      return " held";
    case LockTake::OtherSession:
      break;
  }
  return " other session";
}

LockTake take_recorded(const char* call, unsigned wait_ms, LockTake take) {
  log.push_back(std::string(call) + " " + std::to_string(wait_ms) + take_text(take));
  return take;
}

// What a settings record holds, in brief.
std::string brief(const SavedSettings& settings) {
  return std::string("power ") + (settings.power ? "1" : "0") + " mute " + (settings.mute ? "1" : "0") +
         " beep " + (settings.beep ? "1" : "0") + " cursor " + (settings.cursor_confined ? "1" : "0");
}

}  // namespace

LockTake platform_take_run_lock(unsigned wait_ms) {
  const std::lock_guard<std::mutex> hold(state_lock);
  return take_recorded("take_run_lock", wait_ms, script.run_lock);
}

void platform_release_run_lock() { record("release_run_lock"); }

LockTake platform_take_instance_lock(unsigned wait_ms) {
  const std::lock_guard<std::mutex> hold(state_lock);
  return take_recorded("take_instance_lock", wait_ms, script.instance_lock);
}

void platform_release_instance_lock() { record("release_instance_lock"); }

LockTake platform_await_instance_lock_free(unsigned wait_ms) {
  const std::lock_guard<std::mutex> hold(state_lock);
  return take_recorded("await_instance_lock_free", wait_ms, script.instance_lock);
}

bool platform_journal_write(const std::uint8_t* data, std::size_t size, std::string& error_text) {
  const std::lock_guard<std::mutex> hold(state_lock);
  const std::vector<std::uint8_t> bytes(data, data + size);
  const DecodedJournal decoded = decode_journal(bytes, script.machine);
  log.push_back("journal_write " +
                (decoded.kind == JournalKind::Ours ? brief(decoded.settings) : std::string("?")));
  if (script.journal_write_fails) {
    error_text = "fake system error";
    return false;
  }
  script.journal = bytes;
  return true;
}

std::optional<std::vector<std::uint8_t>> platform_journal_read() {
  const std::lock_guard<std::mutex> hold(state_lock);
  log.emplace_back(script.journal ? "journal_read" : "journal_read none");
  return script.journal;
}

void platform_journal_delete() {
  const std::lock_guard<std::mutex> hold(state_lock);
  if (!script.journal) return;
  log.emplace_back("journal_delete");
  script.journal.reset();
}

bool platform_open_watcher_pipe(std::string& error_text) {
  const std::lock_guard<std::mutex> hold(state_lock);
  log.emplace_back(script.pipe_opens ? "open_watcher_pipe" : "open_watcher_pipe failed");
  if (!script.pipe_opens) error_text = "fake system error";
  return script.pipe_opens;
}

WatcherLaunch platform_launch_watcher(void (*on_exit)()) {
  bool meet_end_of_session = false;
  {
    const std::lock_guard<std::mutex> hold(state_lock);
    log.emplace_back("launch_watcher");
    script.watcher_exit = on_exit;
    meet_end_of_session = std::exchange(script.end_of_session_during_launch, false);
  }
  if (meet_end_of_session) {
    std::promise<void> done;
    std::future<void> ended = done.get_future();
    end_of_session_thread = std::thread([done = std::move(done)]() mutable {
      restore_at_end_of_session();
      done.set_value();
    });
    (void)ended.wait_for(std::chrono::milliseconds(100));
    record("launch_watcher returns");
  }
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.watcher_launch;
}

// Records carry the kind and, for settings, what they hold in brief.
bool platform_send_to_watcher(const std::uint8_t* data, std::size_t size) {
  WatcherRecordReader reader;
  reader.feed(data, size);
  const std::optional<WatcherRecord> sent = reader.next();
  if (!sent || sent->kind == WatcherRecordKind::AllBack) {
    record(sent ? "send_to_watcher all back" : "send_to_watcher ?");
    return true;
  }
  const std::lock_guard<std::mutex> hold(state_lock);
  if (!script.watcher_alive) {
    log.emplace_back("send_to_watcher failed");
    return false;
  }
  log.push_back("send_to_watcher " + brief(sent->settings));
  return true;
}

void platform_close_watcher_pipe() { record("close_watcher_pipe"); }

void platform_wait_for_watcher(unsigned wait_ms) { record("wait_for_watcher " + std::to_string(wait_ms)); }

WatcherRole platform_connect_to_sidecar() { return WatcherRole::Connected; }

namespace {

ReadResult read_from_sidecar_locked(char* buffer, std::size_t capacity) {
  if (script.from_sidecar.empty()) return {ReadStatus::End, 0};
  std::string& chunk = script.from_sidecar.front();
  const std::size_t size = std::min(capacity, chunk.size());
  std::copy_n(chunk.data(), size, buffer);
  chunk.erase(0, size);
  if (chunk.empty()) script.from_sidecar.pop_front();
  return {ReadStatus::Data, size};
}

}  // namespace

ReadResult platform_read_from_sidecar(char* buffer, std::size_t capacity) {
  const std::lock_guard<std::mutex> hold(state_lock);
  return read_from_sidecar_locked(buffer, capacity);
}

std::optional<ReadResult> platform_read_from_sidecar_now(char* buffer, std::size_t capacity) {
  const std::lock_guard<std::mutex> hold(state_lock);
  if (script.quiet_polls > 0) {
    --script.quiet_polls;
    return std::nullopt;
  }
  return read_from_sidecar_locked(buffer, capacity);
}

bool platform_sidecar_alive() {
  const std::lock_guard<std::mutex> hold(state_lock);
  log.emplace_back(script.sidecar_alive ? "sidecar_alive" : "sidecar_alive no");
  return script.sidecar_alive;
}

// Kept apart from the call log: the pump raises its priority whenever its thread starts,
// in no fixed order with the calls of the other threads.
void platform_raise_thread_priority() {
  const std::lock_guard<std::mutex> hold(state_lock);
  raised_threads.push_back(std::this_thread::get_id());
}

// --- test helpers -------------------------------------------------------------------

namespace fake {

void hook_thread_body(std::promise<HookThreadReport> report_sender) {
  record("hook_thread_start");
  fake::HookScript hook;
  {
    const std::lock_guard<std::mutex> hold(state_lock);
    hook = script.hook;
  }
  if (hook == fake::HookScript::EndWithoutReport) return;
  const std::map<fake::HookScript, HookThreadPart> failing = {
      {fake::HookScript::KeyboardHookFails, HookThreadPart::KeyboardHook},
      {fake::HookScript::MouseHookFails, HookThreadPart::MouseHook},
      {fake::HookScript::ShieldFails, HookThreadPart::Shield},
  };
  if (const auto failed = failing.find(hook); failed != failing.end()) {
    report_sender.set_value(HookThreadReport{0, HookFailure{failed->second, platform_last_error_text()}});
    record("hook_thread_end");
    return;
  }
  const auto hang_until_released = [] {
    std::unique_lock<std::mutex> hold(state_lock);
    state_changed.wait(hold, [] { return script.hung_thread_released; });
    log.emplace_back("hook_thread_end");
  };
  if (hook == fake::HookScript::HangBeforeReport) return hang_until_released();
  report_sender.set_value(HookThreadReport{fake::hook_thread_id, std::nullopt});
  if (hook == fake::HookScript::IgnoreQuit) return hang_until_released();
  if (hook == fake::HookScript::EndSessionAfterQuit) {
    {
      std::unique_lock<std::mutex> hold(state_lock);
      state_changed.wait(hold, [] { return script.quit_delivered; });
    }
    restore_at_end_of_session();
  }
  if (hook == fake::HookScript::EndSessionThenWaitForQuit) {
    {
      std::unique_lock<std::mutex> hold(state_lock);
      state_changed.wait(hold, [] { return script.reader_blocked; });
    }
    restore_at_end_of_session();
    for (int tries = 0; tries < 5000 && !wake_command_loop(); ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  if (hook != fake::HookScript::ReportAndEnd) {
    std::unique_lock<std::mutex> hold(state_lock);
    state_changed.wait(hold, [] { return script.quit_delivered; });
    log.emplace_back("hook_thread_end");
  }
}

int run_session_to_exit() {
  try {
    run_session(hook_thread_body);
  } catch (const ExitCalled& exit) {
    return exit.status;
  }
}

void reset() {
  if (end_of_session_thread.joinable()) end_of_session_thread.join();
  {
    const std::lock_guard<std::mutex> hold(state_lock);
    script = Script{};
    log.clear();
    stdout_bytes.clear();
    stderr_bytes.clear();
    raised_threads.clear();
  }
  capture_active.store(true);
  diagnostic_mode.store(false);
  event_sender.store(nullptr);
  session_ending.store(false);
  command_loop_started.store(false);
  command_loop_ended.store(false);
  awake_requested.store(false);
  load_saved_settings(SavedSettings{});
  fail_machinery_after(-1);
  set_hook_thread_waits(0, 0);
  set_saved_settings_listener(nullptr);
}

std::vector<std::string> calls() {
  const std::lock_guard<std::mutex> hold(state_lock);
  return log;
}

std::vector<std::thread::id> threads_raised() {
  const std::lock_guard<std::mutex> hold(state_lock);
  return raised_threads;
}

void clear_calls() {
  const std::lock_guard<std::mutex> hold(state_lock);
  log.clear();
}

void set_stdin(std::vector<std::string> chunks, bool fail_at_end) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.stdin_chunks.assign(chunks.begin(), chunks.end());
  std::erase_if(script.stdin_chunks, [](const std::string& chunk) { return chunk.empty(); });
  script.stdin_fails_at_end = fail_at_end;
}

void set_stdin_blocks(bool blocks) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.stdin_blocks = blocks;
}

std::size_t stdin_chunks_left() {
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.stdin_chunks.size();
}

std::string stdout_text() {
  const std::lock_guard<std::mutex> hold(state_lock);
  return stdout_bytes;
}

std::string stderr_text() {
  const std::lock_guard<std::mutex> hold(state_lock);
  return stderr_bytes;
}

void set_env(std::optional<std::u16string> value) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.env = std::move(value);
}

void set_restore_only_env(std::optional<std::u16string> value) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.restore_only_env = std::move(value);
}

void set_scheme(std::optional<SchemeId> scheme) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.scheme = scheme;
}

void set_power_read(PowerSetting setting, bool dc, std::uint32_t result, std::uint32_t value) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.reads[{setting, dc}] = {result, value};
}

void set_power_write_error(PowerSetting setting, bool dc, std::uint32_t error) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.write_errors[{setting, dc}] = error;
}

void set_accessibility_flags(AccessibilityFeature feature, std::optional<std::uint32_t> flags) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.accessibility.at(static_cast<std::size_t>(feature)) = flags;
}

void set_clip(std::optional<ClipRect> clip) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.clip = clip;
}

void set_beep(std::optional<bool> on) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.beep = on;
}

void set_screen(std::int32_t width, std::int32_t height) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.width = width;
  script.height = height;
}

void set_mute_result(std::optional<bool> result) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.mute_result = result;
}

std::optional<bool> mute_state() {
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.mute_result;
}

void set_default_device(std::u16string device) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.default_device = std::move(device);
}

void set_device_gone(bool gone) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.device_gone = gone;
}

void set_device_gone_at_restore(bool gone) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.device_gone_at_restore = gone;
}

void set_restore_errors(std::uint32_t beep, std::uint32_t accessibility, std::uint32_t active_scheme) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.set_beep_error = beep;
  script.set_accessibility_error = accessibility;
  script.set_active_scheme_error = active_scheme;
}

void set_locked_state() {
  const std::lock_guard<std::mutex> hold(state_lock);
  for (auto& [key, read] : script.reads) read = {0, 0};
  script.beep = false;
  script.mute_result = true;
  for (std::optional<std::uint32_t>& flags : script.accessibility) {
    if (flags) *flags &= ~accessibility_hotkey_active;
  }
  script.clip = ClipRect{script.width / 2, script.height / 2, script.width / 2 + 1, script.height / 2 + 1};
  if (script.touchpad) script.touchpad = TouchpadSettings{script.touchpad->present};
}

void set_machine(MachineId machine) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.machine = machine;
}

std::optional<bool> beep() {
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.beep;
}

std::optional<std::uint32_t> accessibility_flags(AccessibilityFeature feature) {
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.accessibility.at(static_cast<std::size_t>(feature));
}

void set_com_apartment_entered(bool entered) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.com_apartment_entered = entered;
}

void set_watcher_launch(WatcherLaunch launch) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.watcher_launch = std::move(launch);
}

void set_locks(LockTake run_lock, LockTake instance_lock) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.run_lock = run_lock;
  script.instance_lock = instance_lock;
}

void end_watcher() {
  void (*on_exit)() = nullptr;
  {
    const std::lock_guard<std::mutex> hold(state_lock);
    script.watcher_alive = false;
    on_exit = script.watcher_exit;
  }
  if (on_exit != nullptr) on_exit();
}

void set_journal(std::optional<std::vector<std::uint8_t>> bytes) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.journal = std::move(bytes);
}

std::optional<std::vector<std::uint8_t>> journal() {
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.journal;
}

void set_journal_write_fails(bool fails) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.journal_write_fails = fails;
}

void release_hung_hook_thread() {
  {
    const std::lock_guard<std::mutex> hold(state_lock);
    script.hung_thread_released = true;
    state_changed.notify_all();
  }
  // It records its end as its last step; wait for that so nothing of it outlives the test.
  for (int tries = 0; tries < 5000; ++tries) {
    const std::vector<std::string> now = calls();
    if (std::find(now.begin(), now.end(), "hook_thread_end") != now.end()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void set_from_sidecar(std::vector<std::string> chunks) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.from_sidecar.assign(chunks.begin(), chunks.end());
}

void set_touchpad(std::optional<TouchpadSettings> settings) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.touchpad = settings;
}

std::optional<TouchpadSettings> touchpad() {
  const std::lock_guard<std::mutex> hold(state_lock);
  return script.touchpad;
}

void set_touchpad_write_fails(bool fails) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.touchpad_write_fails = fails;
}

void set_digitizer(std::uint32_t status) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.digitizer = status;
}

void set_edge_store_refuses(bool refuses) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.edge_store_refuses = refuses;
}

void set_foreground(std::uint64_t window, bool refuse_changes) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.foreground = window;
  script.foreground_refused = refuse_changes;
}

void set_window_silent(std::uint64_t window) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.silent_windows.push_back(window);
}

void set_watcher_pipe_opens(bool opens) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.pipe_opens = opens;
}

void set_end_of_session_during_launch(bool during) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.end_of_session_during_launch = during;
}

void set_sidecar_pipe_quiet_polls(int polls) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.quiet_polls = polls;
}

void set_sidecar_alive(bool alive) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.sidecar_alive = alive;
}

void set_cursor_restore_stalls(StallUntil until) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.cursor_stall = until;
}

void release_stalled_restore() {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.stall_released = true;
  state_changed.notify_all();
}

void set_hook_script(HookScript hook) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.hook = hook;
}

void set_post_quit_failures(int count) {
  const std::lock_guard<std::mutex> hold(state_lock);
  script.post_quit_failures = count;
}

}  // namespace fake
}  // namespace velmora
