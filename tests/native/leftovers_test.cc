// What is put back after the lock, and what stays owed: leftovers only where the lock's value
// still stands, failed restores kept for the next run, journals of other builds and machines.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
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
using fake::in_order;
using Bytes = std::vector<std::uint8_t>;

class LeftoversTest : public testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  void TearDown() override { fake::reset(); }
};

const std::string ready_line = "write_stdout {\"event\":\"ready\"}";
const std::string bye_line = "write_stdout {\"event\":\"bye\"}";

constexpr TouchpadSettings all_gestures_on{true, true, true, true, true, true, true};

SavedSettings record() {
  SavedSettings settings;
  PowerSnapshot power;
  power.scheme = fake::fake_scheme;
  power.power_button = {1, std::nullopt};
  settings.power = power;
  settings.beep = true;
  settings.mute = SoundsMute{fake::fake_device, false};
  settings.shortcuts = ShortcutFlags{};
  (*settings.shortcuts)[0] = 4;  // StickyKeys off, its shortcut active
  settings.touchpad = all_gestures_on;
  settings.cursor_confined = true;
  return settings;
}

std::optional<SavedSettings> journal_now() {
  const std::optional<Bytes> bytes = fake::journal();
  if (!bytes) return std::nullopt;
  const DecodedJournal decoded = decode_journal(*bytes, fake::fake_machine);
  EXPECT_EQ(decoded.kind, JournalKind::Ours);
  return decoded.settings;
}

// Leftovers may be put back long after the lock. Each value goes back only where the
// system still holds what the lock wrote; a value the user changed since stays, said once;
// a restore that fails stays owed, said once, and the journal keeps only what is owed.
TEST_F(LeftoversTest, PutBackOnlyWhereTheLocksValueStandsAndFailuresStayOwed) {
  const std::string owed = "; it is kept for the next run: fake system error (os error ";
  SavedSettings still_owed = record();
  still_owed.cursor_confined = false;
  const struct {
    const char* name;
    void (*system)();
    Calls changes;
    std::string report;
    std::optional<SavedSettings> journal;
  } cases[] = {
      {"the lock's values stand; the default device changed since",
       [] { fake::set_default_device(u"{0.0.0.00000000}.{headphones}"); },
       {"clip_cursor null", "set_touchpad_settings 1111111", "set_accessibility_flags StickyKeys 4",
        "set_system_sounds_mute 0", "set_beep 1", "power_write_ac PowerButton 1", "power_set_active_scheme",
        "flush_power_settings", "journal_delete"},
       "",
       std::nullopt},
      {"the user chose since",
       [] {
         fake::set_power_read(PowerSetting::PowerButton, false, 0, 3);
         fake::set_accessibility_flags(AccessibilityFeature::StickyKeys, 1);
         fake::set_beep(true);
         fake::set_mute_result(false);
         fake::set_clip(std::nullopt);
         fake::set_scheme(SchemeId{9});
         fake::set_touchpad(all_gestures_on);
       },
       {"set_system_sounds_mute 0", "flush_power_settings", "journal_delete"},
       "velmora-sidecar: the StickyKeys shortcut was changed since the lock, so it is left as it is\n"
       "velmora-sidecar: the power-button action on AC power was changed since the lock, so it is left as it "
       "is\n",
       std::nullopt},
      {"every restore fails",
       [] {
         fake::set_device_gone(true);
         fake::set_restore_errors(5, 6, 0);
         fake::set_power_write_error(PowerSetting::PowerButton, false, 7);
         fake::set_touchpad_write_fails(true);
       },
       {"clip_cursor null", "set_touchpad_settings 1111111 failed", "set_accessibility_flags StickyKeys 4",
        "set_system_sounds_mute 0", "set_beep 1", "power_write_ac PowerButton 1", "power_set_active_scheme",
        "journal_write power 1 mute 1 beep 1 cursor 0"},
       "velmora-sidecar: could not put back the touchpad's gestures; it is kept for the next run: fake "
       "system "
       "error\n"
       "velmora-sidecar: could not put back the StickyKeys shortcut" +
           owed + "6)\n" + "velmora-sidecar: could not put back the system sounds' mute" + owed +
           "2147943568)\n" + "velmora-sidecar: could not put back the beep" + owed + "5)\n" +
           "velmora-sidecar: could not put back the power-button action on AC power" + owed + "7)\n",
       still_owed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    fake::set_touchpad(all_gestures_on);
    fake::set_locked_state();
    fake::set_journal(encode_journal(fake::fake_machine, record()));
    c.system();
    put_back_leftovers(record());
    EXPECT_EQ(changes(fake::calls()), c.changes);
    EXPECT_EQ(fake::stderr_text(), c.report);
    EXPECT_EQ(journal_now(), c.journal);
    EXPECT_EQ(saved_settings(), c.journal.value_or(SavedSettings{})) << "the slots hold what is owed";
  }
}

// Runs a whole session that keeps the journal and the state of the settings of the run before.
int next_run(bool restore_only) {
  const std::optional<Bytes> journal = fake::journal();
  const std::optional<bool> mute = fake::mute_state();
  const std::optional<bool> beep = fake::beep();
  fake::reset();
  fake::set_journal(journal);
  fake::set_mute_result(mute);
  fake::set_beep(beep);
  if (restore_only) fake::set_restore_only_env(u"1");
  return fake::run_session_to_exit();
}

// A restore that fails at the stop keeps its original owed: the run still says `bye` with
// status 0, the journal keeps just that, and the next run puts it back; while it still fails,
// the run holds its lock all the same and never saves over the original it owes.
TEST_F(LeftoversTest, FailedRestoreIsSaidKeptAndTriedAgainByTheNextRun) {
  const std::string kept =
      "velmora-sidecar: could not put back the system sounds' mute; it is kept for the next run: fake system "
      "error (os error 2147943568)\n";
  SavedSettings owed;
  owed.mute = SoundsMute{fake::fake_device, false};

  fake::set_device_gone_at_restore(true);
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  EXPECT_TRUE(fake::stdout_text().ends_with("{\"event\":\"bye\"}\n"));
  EXPECT_EQ(fake::stderr_text(), kept);
  EXPECT_EQ(journal_now(), owed);

  // Still unplugged at the next run: said again, the lock holds, the original stays owed.
  const std::optional<Bytes> journal = fake::journal();
  fake::reset();
  fake::set_journal(journal);
  fake::set_mute_result(true);
  fake::set_device_gone_at_restore(true);
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  EXPECT_TRUE(
      in_order(fake::calls(), {"hook_thread_start", "power_write_ac PowerButton 0", ready_line, bye_line}));
  EXPECT_EQ(journal_now(), owed) << "never saved over";

  // Plugged in again: put back by a restore-only run, and nothing is left.
  EXPECT_EQ(next_run(true), 0);
  EXPECT_TRUE(
      in_order(fake::calls(), {"set_system_sounds_mute 0", "flush_power_settings", "journal_delete"}));
  EXPECT_EQ(fake::mute_state(), false);
  EXPECT_FALSE(fake::journal().has_value());
}

// After putting back what a killed run left, the run takes a whole lock of its own: the
// cursor that the replay freed is confined again before `ready`.
TEST_F(LeftoversTest, RunAfterLeftoversHoldsAWholeLock) {
  fake::set_touchpad(all_gestures_on);
  fake::set_locked_state();
  fake::set_journal(encode_journal(fake::fake_machine, record()));
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  EXPECT_TRUE(in_order(
      fake::calls(),
      {"clip_cursor null", "journal_delete", "hook_thread_start", "set_beep 0", "set_system_sounds_mute 1",
       "clip_cursor 960 540 961 541", ready_line, "clip_cursor null", bye_line}));
}

// The touchpad's gestures go off for the lock where the system offers the settings, and only
// those the lock turned off come back; where the settings cannot be read, nothing is touched.
TEST_F(LeftoversTest, TouchpadGesturesOffForTheLockAndBack) {
  TouchpadSettings some_on{true, true, false, true, false, false, false};
  const struct {
    const char* name;
    std::optional<TouchpadSettings> found;
    Calls writes;
  } cases[] = {
      {"not offered", std::nullopt, {}},
      {"no precision touchpad", TouchpadSettings{false, true, true, true, true, true, true}, {}},
      {"all on", all_gestures_on, {"set_touchpad_settings 1000000", "set_touchpad_settings 1111111"}},
      {"some on", some_on, {"set_touchpad_settings 1000000", "set_touchpad_settings 1101000"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    fake::set_touchpad(c.found);
    EXPECT_EQ(fake::run_session_to_exit(), 0);
    Calls writes;
    for (const std::string& call : fake::calls()) {
      if (call.starts_with("set_touchpad_settings")) writes.push_back(call);
    }
    EXPECT_EQ(writes, c.writes);
    EXPECT_EQ(fake::touchpad(), c.found) << "as it was";
  }
}

// A run that ended well leaves nothing: a restore-only run after it has nothing to say.
TEST_F(LeftoversTest, CleanRunLeavesNothingForTheNextRun) {
  EXPECT_EQ(fake::run_session_to_exit(), 0);
  EXPECT_FALSE(fake::journal().has_value());
  EXPECT_EQ(next_run(true), 0);
  EXPECT_EQ(fake::stderr_text(), "");
  EXPECT_EQ(fake::stdout_text(), "{\"event\":\"bye\"}\n");
}

Bytes first_version_journal() {
  Bytes bytes = {1, 'S', 4};  // version 1, a settings record holding the beep
  bytes.resize(bytes.size() + 16 + 30, 0);
  bytes.push_back(0);  // mute
  bytes.push_back(1);  // beep on
  bytes.resize(bytes.size() + 25, 0);
  return bytes;
}

// A journal of a newer sidecar is neither applied nor deleted, and the run is refused; one
// carried from another machine is left alone; one of the first version is still read.
TEST_F(LeftoversTest, JournalsOfOtherBuildsAndMachines) {
  SavedSettings beep_only;
  beep_only.beep = true;
  Bytes newer = encode_journal(fake::fake_machine, beep_only);
  newer[0] = 3;
  const MachineId elsewhere = {7};
  const struct {
    const char* name;
    Bytes journal;
    int status;
    bool put_back;
    bool kept;
    std::string report;
  } cases[] = {
      {"newer", newer, 101, false, true,
       "velmora-sidecar: a newer sidecar left settings to put back; run it, or its restore-only mode\n"},
      {"another machine", encode_journal(elsewhere, beep_only), 0, false, true, ""},
      {"first version", first_version_journal(), 0, true, false,
       "velmora-sidecar: put back the settings left changed by a run that did not finish\n"},
  };
  for (const bool restore_only : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (restore_only ? ", restore-only" : ""));
      fake::reset();
      fake::set_locked_state();
      fake::set_journal(c.journal);
      if (restore_only) fake::set_restore_only_env(u"1");
      fake::set_stdin({});
      EXPECT_EQ(fake::run_session_to_exit(), c.status);
      const Calls calls = fake::calls();
      const auto hooks = std::find(calls.begin(), calls.end(), "hook_thread_start");
      EXPECT_EQ(std::count(calls.begin(), hooks, "set_beep 1"), c.put_back ? 1 : 0) << "replayed";
      EXPECT_EQ(hooks != calls.end(), !restore_only && c.status == 0);
      if (!restore_only && c.name == std::string("another machine")) continue;  // overwritten by this run
      EXPECT_EQ(fake::journal() == std::optional<Bytes>(c.journal), c.kept);
      EXPECT_TRUE(fake::stderr_text().starts_with(c.report));
    }
  }
}

// A record decodes to what was encoded, device id included, and anything else decodes to
// nothing: a short or long body, a flag that is neither 0 nor 1, an unknown presence bit.
TEST_F(LeftoversTest, RecordsDecodeStrictly) {
  const Bytes good = encode_settings_record(record());
  EXPECT_EQ(decode_settings_record(good.data(), good.size()), record());
  const auto damaged = [&](auto change) {
    Bytes bytes = good;
    change(bytes);
    return decode_settings_record(bytes.data(), bytes.size());
  };
  EXPECT_EQ(damaged([](Bytes& b) { b.pop_back(); }), std::nullopt);
  EXPECT_EQ(damaged([](Bytes& b) { b.push_back(0); }), std::nullopt);
  EXPECT_EQ(damaged([](Bytes& b) { b[3] |= 0x80; }), std::nullopt) << "unknown presence bit";
  EXPECT_EQ(damaged([](Bytes& b) { b[3 + 17] = 2; }), std::nullopt) << "a flag byte of 2";
  EXPECT_EQ(damaged([](Bytes& b) { b[1] = static_cast<std::uint8_t>(b[1] + 1); }), std::nullopt);
  const Bytes journal = encode_journal(fake::fake_machine, record());
  EXPECT_EQ(decode_journal(journal, fake::fake_machine).settings, record());
  EXPECT_EQ(decode_journal(Bytes(journal.begin(), journal.begin() + 17), fake::fake_machine).kind,
            JournalKind::Undecodable);
}

}  // namespace
}  // namespace velmora
