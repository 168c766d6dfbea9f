#include "watcher.h"

#include <gtest/gtest.h>

#include <algorithm>
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

bool contains(const Calls& calls, const std::string& entry) {
  return std::find(calls.begin(), calls.end(), entry) != calls.end();
}

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

// Its sidecar gone, the watcher puts back and deletes the journal whenever no new run can have
// changed anything: as the holder of the instance lock that it took while its sidecar still ran
// (a new run, even one that replays nothing or whose journal failed, waits on that lock before
// it changes anything), or else as the holder of the dead run's lock. A new run that got past
// the instance lock first replays the journal itself: a late watcher must not undo its changes.
TEST_F(WatcherTest, PutsBackWheneverNoNewRunCanHaveChangedAnything) {
  const struct {
    const char* name;
    bool alive_at_lock;
    LockTake run_lock;
    Calls calls;
  } cases[] = {
      {"a new run waits on the instance lock",
       true,
       LockTake::Held,
       {"take_instance_lock 50", "sidecar_alive", "clip_cursor null", "set_beep 1", "flush_power_settings",
        "journal_delete", "release_instance_lock"}},
      {"killed before the watcher held its lock; a new run holds the run lock",
       false,
       LockTake::Held,
       {"take_instance_lock 50", "sidecar_alive no", "take_run_lock 2000 held", "release_instance_lock"}},
      {"killed before the watcher held its lock; no new run",
       false,
       LockTake::Taken,
       {"take_instance_lock 50", "sidecar_alive no", "take_run_lock 2000", "clip_cursor null", "set_beep 1",
        "flush_power_settings", "journal_delete", "release_run_lock", "release_instance_lock"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    fake::set_locks(c.run_lock, LockTake::Taken);
    fake::set_sidecar_alive(c.alive_at_lock);
    fake::set_locked_state();
    fake::set_journal(encode_journal(fake::fake_machine, beep_and_cursor()));
    fake::set_from_sidecar({as_text(encode_settings_record(beep_and_cursor()))});
    EXPECT_EQ(run_watcher(), 0);
    EXPECT_EQ(fake::changes(fake::calls()), c.calls);
    EXPECT_EQ(fake::journal().has_value(), !contains(c.calls, "journal_delete"))
        << "else left to the new run";
  }
}

// While another run's watcher holds the instance lock, the watcher reads its pipe between short
// waits for it, so a sidecar killed early in its run is put back within about a second, on the
// dead run's lock, not at the end of a wait of ten seconds.
TEST_F(WatcherTest, ReadsItsPipeWhileItWaitsForTheInstanceLock) {
  fake::set_locks(LockTake::Taken, LockTake::Held);
  fake::set_locked_state();
  fake::set_sidecar_pipe_quiet_polls(3);
  fake::set_from_sidecar({as_text(encode_settings_record(beep_and_cursor()))});
  EXPECT_EQ(run_watcher(), 0);
  const Calls calls = fake::changes(fake::calls());
  const auto run_lock = std::find(calls.begin(), calls.end(), "take_run_lock 2000");
  ASSERT_NE(run_lock, calls.end());
  unsigned waited = 0;
  for (auto call = calls.begin(); call != run_lock; ++call) {
    if (call->starts_with("take_instance_lock "))
      waited += static_cast<unsigned>(std::stoul(call->substr(19)));
  }
  EXPECT_LE(waited, 1000U) << "waited for the instance lock before putting back";
  EXPECT_EQ(Calls(run_lock + 1, calls.end()),
            (Calls{"clip_cursor null", "set_beep 1", "flush_power_settings", "release_run_lock"}));
}

}  // namespace
}  // namespace velmora
