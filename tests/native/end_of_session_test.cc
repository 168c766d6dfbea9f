#include "end_of_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <string>
#include <thread>
#include <vector>

#include "fake_platform.h"
#include "guard_table.h"
#include "watcher_link.h"

namespace velmora {
namespace {

// The end of the session on the hook thread racing the main thread's shutdown: whichever
// comes first puts each setting back, and nothing goes back twice.
TEST(EndOfSessionRace, EachSettingRestoredOnceWhicheverThreadComesFirst) {
  const std::vector<std::string> once = {
      "clip_cursor null",
      "set_system_sounds_mute 0",
      "set_beep 1",
      "power_write_ac PowerButton 1",
      "power_set_active_scheme",
      "keep_awake 0",
  };
  for (int round = 0; round < 200; ++round) {
    fake::reset();
    apply_guards();
    fake::clear_calls();

    std::thread hook_thread(restore_at_end_of_session);
    restore_guards(Restorer::ApplyingThread);
    hook_thread.join();

    const std::vector<std::string> calls = fake::calls();
    for (const std::string& entry : once) {
      ASSERT_EQ(std::count(calls.begin(), calls.end(), entry), 1) << entry << " in round " << round;
    }
  }
  fake::reset();
}

// The end of the session meeting the main thread's apply or its shutdown's restore pass, at
// random moments: every change is undone exactly once, and the watcher hears "all back" only
// after the last of those restores (a setting written back after it would be lost to a kill).
TEST(EndOfSessionRace, MeetingApplyOrRestoreLeavesNothingChanged) {
  const std::vector<std::pair<std::string, std::string>> changed_and_back = {
      {"power_write_ac PowerButton 0", "power_write_ac PowerButton 1"},
      {"set_beep 0", "set_beep 1"},
      {"set_system_sounds_mute 1", "set_system_sounds_mute 0"},
      {"set_accessibility_flags StickyKeys 0", "set_accessibility_flags StickyKeys 4"},
      {"clip_cursor 960 540 961 541", "clip_cursor null"},
  };
  std::mt19937 chance(20261209);
  for (int round = 0; round < 400; ++round) {
    const bool during_apply = round % 2 == 0;
    fake::reset();
    open_watcher_link(false);
    if (!during_apply) apply_guards();
    const int delay = static_cast<int>(chance() % 400);
    std::thread hook_thread([delay] {
      for (int spin = 0; spin < delay; ++spin) std::this_thread::yield();
      restore_at_end_of_session();
    });
    if (during_apply) apply_guards();
    restore_guards(Restorer::ApplyingThread);
    hook_thread.join();

    const std::vector<std::string> calls = fake::calls();
    const auto all_back = std::find(calls.begin(), calls.end(), "send_to_watcher all back");
    ASSERT_NE(all_back, calls.end()) << "round " << round;
    for (const auto& [changed, back] : changed_and_back) {
      ASSERT_EQ(std::count(calls.begin(), calls.end(), changed), std::count(calls.begin(), calls.end(), back))
          << back << " in round " << round;
      ASSERT_EQ(std::find(all_back, calls.end(), back), calls.end())
          << back << " after all back, round " << round;
    }
  }
  fake::reset();
}

}  // namespace
}  // namespace velmora
