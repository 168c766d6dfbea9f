#include "watcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "call_log.h"
#include "fake_platform.h"
#include "guard_table.h"
#include "journal.h"
#include "watcher_protocol.h"

namespace velmora {
namespace {

using fake::Calls;
using fake::changes;

class WatcherTest : public testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  void TearDown() override { fake::reset(); }
};

std::string as_text(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

SavedSettings beep_and_cursor() {
  SavedSettings settings;
  settings.beep = true;
  settings.cursor_confined = true;
  return settings;
}

SavedSettings everything() {
  SavedSettings settings = beep_and_cursor();
  settings.mute = SoundsMute{fake::fake_device, false};
  PowerSnapshot power;
  power.scheme = fake::fake_scheme;
  power.power_button = {7, std::nullopt};
  power.lid_close = {std::nullopt, 9};
  settings.power = power;
  settings.shortcuts = ShortcutFlags{};
  (*settings.shortcuts)[1] = 0x7E;
  return settings;
}

const Calls everything_back = {"clip_cursor null",
                               "set_accessibility_flags FilterKeys 126",
                               "set_system_sounds_mute 0",
                               "set_beep 1",
                               "power_write_ac PowerButton 7",
                               "power_write_dc LidClose 9",
                               "power_set_active_scheme"};

// What the watcher puts back, in the shutdown order, for what the sidecar told it before
// its end of the pipe closed.
TEST_F(WatcherTest, PutsBackWhatTheLastRecordHoldsUnlessAllBack) {
  const std::string all = as_text(encode_settings_record(everything()));
  const std::string some = as_text(encode_settings_record(beep_and_cursor()));
  const std::string done = as_text(encode_all_back_record());
  const struct {
    const char* name;
    std::vector<std::string> chunks;
    Calls restored;
  } cases[] = {
      {"told nothing", {}, {}},
      {"killed after the last save", {some, all}, everything_back},
      {"record split across reads", {some + all.substr(0, 7), all.substr(7)}, everything_back},
      {"killed in the middle of a record", {some, all.substr(0, 20)}, {"clip_cursor null", "set_beep 1"}},
      {"everything back", {some, all, done}, {}},
      {"nothing trusted after a stray byte", {some, "X", all}, {"clip_cursor null", "set_beep 1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    fake::set_locked_state();
    fake::set_accessibility_flags(AccessibilityFeature::FilterKeys, 0x7A);  // the shortcut cleared
    fake::set_from_sidecar(c.chunks);
    watch_sidecar();
    Calls expected;
    if (!c.restored.empty()) {
      expected.push_back("take_run_lock 2000");
      expected.insert(expected.end(), c.restored.begin(), c.restored.end());
      expected.push_back("flush_power_settings");
      expected.push_back("release_run_lock");
    }
    EXPECT_EQ(changes(fake::calls()), expected);
  }
}

// Its sidecar gone, the watcher puts back and deletes the journal only as the holder of the
// dead run's lock. A new run that took that lock first replays the journal itself: a late
// watcher must not undo what the new run has changed since.
TEST_F(WatcherTest, PutsBackOnlyWhileHoldingTheDeadRunsLock) {
  for (const LockTake run_lock : {LockTake::Taken, LockTake::Held}) {
    fake::reset();
    fake::set_locks(run_lock, LockTake::Taken);
    fake::set_locked_state();
    fake::set_journal(encode_journal(fake::fake_machine, beep_and_cursor()));
    fake::set_from_sidecar({as_text(encode_settings_record(beep_and_cursor()))});
    EXPECT_EQ(run_watcher(), 0);
    const Calls calls = changes(fake::calls());
    if (run_lock == LockTake::Taken) {
      EXPECT_EQ(calls, (Calls{"take_instance_lock 10000", "take_run_lock 2000", "clip_cursor null",
                              "set_beep 1", "flush_power_settings", "journal_delete", "release_run_lock",
                              "release_instance_lock"}));
    } else {
      EXPECT_EQ(calls,
                (Calls{"take_instance_lock 10000", "take_run_lock 2000 held", "release_instance_lock"}));
      EXPECT_TRUE(fake::journal().has_value()) << "left to the new run";
    }
  }
}

}  // namespace
}  // namespace velmora
