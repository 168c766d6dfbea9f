#include <gtest/gtest.h>

#include <algorithm>

#include <optional>
#include <string>
#include <vector>

#include "accessibility_guard.h"
#include "fake_platform.h"
#include "cursor_clip.h"
#include "fatal_error.h"
#include "guard_table.h"
#include "power_guard.h"
#include "process_state.h"
#include "sound_guard.h"

namespace velmora {
namespace {

using Calls = std::vector<std::string>;

class GuardTest : public testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  void TearDown() override { fake::reset(); }
};

const Calls all_reads = {
    "power_read_ac PowerButton", "power_read_dc PowerButton", "power_read_ac SleepButton",
    "power_read_dc SleepButton", "power_read_ac LidClose",    "power_read_dc LidClose",
};
const Calls zero_writes = {
    "power_write_ac PowerButton 0", "power_write_dc PowerButton 0", "power_write_ac SleepButton 0",
    "power_write_dc SleepButton 0", "power_write_ac LidClose 0",    "power_write_dc LidClose 0",
};

Calls concat(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct FailedRead {
  PowerSetting setting;
  bool dc;
};

struct PowerCase {
  const char* name;
  std::vector<FailedRead> failing;
  std::uint32_t power_button_ac;  // what the power-button AC read finds
  ActionIndices power_button, sleep_button, lid_close;
  Calls neutralize;  // the writes at start
  Calls restore;
};

// A value that could not be read is neither set to do nothing nor written back, and its
// readable partner is still neutralised and restored on its own.
TEST_F(GuardTest, PowerSnapshotSavedAndRestored) {
  const Calls all_but_lid_close_dc(zero_writes.begin(), zero_writes.end() - 1);
  const PowerCase cases[] = {
      {"all reads succeed",
       {},
       1,
       {1, 2},
       {3, 4},
       {5, 6},
       zero_writes,
       {"power_write_ac PowerButton 1", "power_write_dc PowerButton 2", "power_write_ac SleepButton 3",
        "power_write_dc SleepButton 4", "power_write_ac LidClose 5", "power_write_dc LidClose 6",
        "power_set_active_scheme"}},
      {"setting already 0",
       {},
       0,
       {0, 2},
       {3, 4},
       {5, 6},
       zero_writes,
       {"power_write_ac PowerButton 0", "power_write_dc PowerButton 2", "power_write_ac SleepButton 3",
        "power_write_dc SleepButton 4", "power_write_ac LidClose 5", "power_write_dc LidClose 6",
        "power_set_active_scheme"}},
      {"only lid-close DC fails",
       {{PowerSetting::LidClose, true}},
       1,
       {1, 2},
       {3, 4},
       {5, std::nullopt},
       all_but_lid_close_dc,
       {"power_write_ac PowerButton 1", "power_write_dc PowerButton 2", "power_write_ac SleepButton 3",
        "power_write_dc SleepButton 4", "power_write_ac LidClose 5", "power_set_active_scheme"}},
      {"all reads fail",
       {{PowerSetting::PowerButton, false},
        {PowerSetting::PowerButton, true},
        {PowerSetting::SleepButton, false},
        {PowerSetting::SleepButton, true},
        {PowerSetting::LidClose, false},
        {PowerSetting::LidClose, true}},
       1,
       {},
       {},
       {},
       {},
       {"power_set_active_scheme"}},
  };
  for (const PowerCase& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    fake::set_power_read(PowerSetting::PowerButton, false, 0, c.power_button_ac);
    for (const FailedRead& failed : c.failing) fake::set_power_read(failed.setting, failed.dc, 2, 0);

    save_power_actions();
    neutralize_power_actions();
    EXPECT_EQ(fake::calls(),
              concat({{"power_get_active_scheme"}, all_reads, c.neutralize, {"power_set_active_scheme"}}));
    const std::optional<PowerSnapshot> saved = saved_power.peek();
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->power_button, c.power_button);
    EXPECT_EQ(saved->sleep_button, c.sleep_button);
    EXPECT_EQ(saved->lid_close, c.lid_close);
    EXPECT_EQ(saved->scheme, fake::fake_scheme);

    fake::clear_calls();
    restore_power_actions(RestoreMode::Live);
    EXPECT_EQ(fake::calls(), c.restore);
    EXPECT_FALSE(saved_power.peek().has_value());

    fake::clear_calls();
    restore_power_actions(RestoreMode::Live);
    EXPECT_TRUE(fake::calls().empty()) << "a second restore finds the slot empty";
  }
}

// A write refused at the restore keeps its value owed, in the slot, for the next run; the
// values that went back are no longer owed.
TEST_F(GuardTest, FailedPowerWriteIsReportedAndTheRunGoesOn) {
  fake::set_power_write_error(PowerSetting::LidClose, false, 5);
  save_power_actions();
  neutralize_power_actions();
  restore_power_actions(RestoreMode::Live);
  EXPECT_EQ(fake::stderr_text(),
            "velmora-sidecar: failed to write the lid-close action: fake system error (os error 5)\n"
            "velmora-sidecar: could not put back the lid-close action on AC power; it is kept for the next "
            "run: fake system error (os error 5)\n");
  const Calls calls = fake::calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "power_write_dc LidClose 6"), 1)
      << "the other writes still made";
  EXPECT_EQ(calls.back(), "power_set_active_scheme");
  const std::optional<PowerSnapshot> owed = saved_power.peek();
  ASSERT_TRUE(owed.has_value());
  EXPECT_EQ(owed->lid_close, (ActionIndices{5, std::nullopt}));
  EXPECT_EQ(owed->power_button, ActionIndices{});
}

TEST_F(GuardTest, UnreadableSchemeChangesNothing) {
  fake::set_scheme(std::nullopt);
  save_power_actions();
  neutralize_power_actions();
  EXPECT_EQ(fake::calls(), Calls{"power_get_active_scheme"});
  EXPECT_FALSE(saved_power.peek().has_value());
  fake::clear_calls();
  restore_power_actions(RestoreMode::Live);
  EXPECT_TRUE(fake::calls().empty());
}

TEST_F(GuardTest, WakeStateEndedAtMostOnce) {
  end_keep_awake();
  keep_awake();
  end_keep_awake();
  end_keep_awake();
  EXPECT_EQ(fake::calls(), (Calls{"keep_awake 1", "keep_awake 0"}));
}

TEST_F(GuardTest, CursorGivenBackAtMostOnceAndNeverTakenAgain) {
  // Saved, it is in the record, but nothing confines it until the change itself: the watcher
  // and the journal hear of it first.
  save_cursor();
  keep_cursor_confined();
  confine_cursor();
  EXPECT_TRUE(fake::calls().empty());
  EXPECT_TRUE(saved_settings().cursor_confined);
  take_cursor();
  EXPECT_EQ(fake::calls(), (Calls{"screen_width", "screen_height", "clip_cursor 960 540 961 541"}));
  // Kept in place: a clip that holds is left as it is, a freed one is made again.
  fake::clear_calls();
  keep_cursor_confined();
  EXPECT_EQ(fake::calls(), (Calls{"screen_width", "screen_height", "get_clip_cursor"}));
  fake::set_clip(std::nullopt);
  fake::clear_calls();
  keep_cursor_confined();
  EXPECT_EQ(fake::calls().back(), "clip_cursor 960 540 961 541");
  fake::clear_calls();
  release_cursor(RestoreMode::Live);
  release_cursor(RestoreMode::Live);
  EXPECT_EQ(fake::calls(), (Calls{"clip_cursor null"}));
  // Once the release has begun nothing confines it again, whoever asks.
  fake::clear_calls();
  keep_cursor_confined();
  confine_cursor();
  EXPECT_TRUE(fake::calls().empty());
  // The end of the session before the cursor was confined: a late confinement does nothing.
  fake::reset();
  release_cursor(RestoreMode::Live);
  save_cursor();
  take_cursor();
  keep_cursor_confined();
  EXPECT_TRUE(fake::calls().empty());
}

Calls accessibility_writes() {
  Calls writes;
  for (const std::string& call : fake::calls()) {
    if (call.starts_with("set_accessibility_flags")) writes.push_back(call);
  }
  return writes;
}

// Only a feature that is off with its shortcut active has the shortcut cleared; one in use,
// one whose shortcut is already off and an unreadable one are left alone. The flags come
// back on each way out: the normal shutdown, the end of the session, and a restore from
// the handed-over record.
TEST_F(GuardTest, AccessibilityShortcutsClearedWhereTheFeatureIsOffAndPutBack) {
  const Calls cleared = {"set_accessibility_flags StickyKeys 0", "set_accessibility_flags HighContrast 2"};
  const Calls restored = {"set_accessibility_flags StickyKeys 4", "set_accessibility_flags HighContrast 6"};
  const char* const ways[] = {"shutdown", "end of session", "handed-over record"};
  for (const std::string way : ways) {
    SCOPED_TRACE(way);
    fake::reset();
    fake::set_accessibility_flags(AccessibilityFeature::FilterKeys, 0x5);  // on: the user relies on it
    fake::set_accessibility_flags(AccessibilityFeature::ToggleKeys, 0x0);  // shortcut already off
    fake::set_accessibility_flags(AccessibilityFeature::MouseKeys, std::nullopt);
    fake::set_accessibility_flags(AccessibilityFeature::HighContrast, 0x6);  // off, available, active
    apply_guards();
    EXPECT_EQ(accessibility_writes(), cleared);
    fake::clear_calls();
    if (way == "shutdown") {
      restore_guards(Restorer::ApplyingThread);
    } else if (way == "end of session") {
      restore_guards(Restorer::OtherThread);
    } else {
      const SavedSettings record = saved_settings();
      load_saved_settings(SavedSettings{});
      load_saved_settings(record);
      restore_guards(Restorer::OtherThread);
    }
    EXPECT_EQ(accessibility_writes(), restored);
    fake::clear_calls();
    restore_accessibility_shortcuts(RestoreMode::Live);
    EXPECT_TRUE(fake::calls().empty()) << "put back at most once";
  }
}

TEST_F(GuardTest, AccessibilityShortcutsUntouchedInDiagnosticMode) {
  diagnostic_mode.store(true);
  apply_guards();
  restore_guards(Restorer::ApplyingThread);
  EXPECT_TRUE(accessibility_writes().empty());
}

struct MuteCase {
  std::optional<bool> found;  // what the mute lookup finds
  Calls start, restore;
};

TEST_F(GuardTest, SystemSoundsMuteSavedAndRestored) {
  const MuteCase cases[] = {
      {std::nullopt, {}, {}},
      {false,
       {"com_enter", "set_system_sounds_mute 1", "com_leave"},
       {"com_enter", "set_system_sounds_mute 0", "com_leave"}},
      {true,
       {"com_enter", "set_system_sounds_mute 1", "com_leave"},
       {"com_enter", "set_system_sounds_mute 1", "com_leave"}},
  };
  for (const MuteCase& c : cases) {
    SCOPED_TRACE(c.found ? (*c.found ? "was muted" : "was not muted") : "no session");
    fake::reset();
    fake::set_mute_result(c.found);
    save_system_sounds();
    const std::optional<SoundsMute> saved = saved_mute.peek();
    EXPECT_EQ(saved ? std::optional<bool>(saved->muted) : std::nullopt, c.found);
    fake::clear_calls();
    mute_system_sounds();
    EXPECT_EQ(fake::calls(), c.start) << "only a session that was found is muted";
    fake::clear_calls();
    restore_system_sounds(RestoreMode::Live);
    EXPECT_EQ(fake::calls(), c.restore);
    fake::clear_calls();
    restore_system_sounds(RestoreMode::Live);
    EXPECT_TRUE(fake::calls().empty());
  }
}

struct BeepCase {
  const char* name;
  std::optional<bool> found;  // what SPI_GETBEEP reads
  Calls start, restore;
};

TEST_F(GuardTest, BeepDisabledAndRestored) {
  const BeepCase cases[] = {
      {"beep on", true, {"get_beep", "set_beep 0"}, {"set_beep 1"}},
      {"beep off", false, {"get_beep", "set_beep 0"}, {"set_beep 0"}},
      {"unreadable: left as it is", std::nullopt, {"get_beep"}, {}},
  };
  for (const BeepCase& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    fake::set_beep(c.found);
    save_beep();
    disable_beep();
    EXPECT_EQ(fake::calls(), c.start);
    fake::clear_calls();
    restore_beep(RestoreMode::Live);
    EXPECT_EQ(fake::calls(), c.restore);
    fake::clear_calls();
    restore_beep(RestoreMode::Live);
    EXPECT_TRUE(fake::calls().empty());
  }
}

TEST_F(GuardTest, FatalErrorReportsAndExits101) {
  const struct {
    const char* message;
    const char* detail;
    const char* text;
  } cases[] = {
      {"failed to spawn thread", "no threads", "velmora-sidecar: failed to spawn thread: no threads\n"},
      {"failed to join on thread", "deadlock", "velmora-sidecar: failed to join on thread: deadlock\n"},
  };
  for (const auto& c : cases) {
    fake::reset();
    try {
      fatal_error(c.message, c.detail);
      ADD_FAILURE() << "fatal_error returned";
    } catch (const fake::ExitCalled& exit) {
      EXPECT_EQ(exit.status, 101);
    }
    EXPECT_EQ(fake::stderr_text(), c.text);
  }
}

}  // namespace
}  // namespace velmora
