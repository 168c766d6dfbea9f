#include "watcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "guard_table.h"
#include "watcher_protocol.h"

namespace velmora {
namespace {

using Calls = std::vector<std::string>;

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
  settings.mute = false;
  PowerSnapshot power;
  power.scheme = fake::fake_scheme;
  power.power_button = {7, std::nullopt};
  power.lid_close = {std::nullopt, 9};
  settings.power = power;
  settings.shortcuts = ShortcutFlags{};
  (*settings.shortcuts)[1] = 0x7A;
  return settings;
}

const Calls everything_back = {"clip_cursor null",
                               "set_accessibility_flags FilterKeys 122",
                               "com_enter",
                               "set_system_sounds_mute 0",
                               "com_leave",
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
    fake::set_from_sidecar(c.chunks);
    watch_sidecar();
    EXPECT_EQ(fake::calls(), c.restored);
  }
}

TEST_F(WatcherTest, LockHeldByAnotherRunReadsNothing) {
  fake::set_instance_lock_free(false);
  fake::set_from_sidecar({as_text(encode_settings_record(everything()))});
  EXPECT_EQ(run_watcher(), already_running_status);
  EXPECT_EQ(fake::calls(), Calls{"take_instance_lock 3000 held"});
}

}  // namespace
}  // namespace velmora
