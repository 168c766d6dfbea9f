#include "end_of_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "fake_platform.h"
#include "guard_table.h"

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

}  // namespace
}  // namespace velmora
