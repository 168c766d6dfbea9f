#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "edge_swipes.h"
#include "fake_platform.h"
#include "touchpad_guard.h"

namespace velmora {
namespace {

using Calls = std::vector<std::string>;

class TouchTest : public testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  void TearDown() override { fake::reset(); }
};

// present, tap, tap and drag, two-finger tap, right-click zone, pan, zoom.
TouchpadSettings pad(const char* bits) {
  const std::string on(bits);
  return TouchpadSettings{on[0] == '1', on[1] == '1', on[2] == '1', on[3] == '1',
                          on[4] == '1', on[5] == '1', on[6] == '1'};
}

TEST_F(TouchTest, TouchpadGesturesOffAndOnlyWhatTheLockChangedGoesBack) {
  EXPECT_EQ(touchpad_to_save(std::nullopt), std::nullopt) << "not supported: nothing saved";
  EXPECT_EQ(touchpad_to_save(pad("0111111")), std::nullopt) << "no precision touchpad";
  EXPECT_EQ(touchpad_to_save(pad("1000000")), std::nullopt) << "already off";
  EXPECT_EQ(touchpad_to_save(pad("1000001")), pad("1000001"));
  EXPECT_EQ(touchpad_locked(pad("1111111")), pad("1000000"));

  struct Case {
    const char* saved;
    const char* now;
    const char* restored;
  };
  const std::vector<Case> cases = {
      {"1111111", "1000000", "1111111"},  // untouched meanwhile: all back
      {"1101011", "1000000", "1101011"},  // what was off stays off
      {"1111111", "1100001", "1111111"},  // the user turned tap and zoom on again: kept
      {"1011111", "1100000", "1111111"},  // tap was off, the user turned it on: it stays on
      {"1111111", "0000000", "0111111"},  // the touchpad is gone now: presence is the system's
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.saved) + " " + c.now);
    EXPECT_EQ(touchpad_restored(pad(c.now), pad(c.saved), touchpad_locked(pad(c.saved))), pad(c.restored));
  }
}

// The shields of two monitors; the touch screen is the first's unless a case says otherwise.
const std::vector<std::uint64_t> shields = {7, 9};
constexpr std::uint64_t parents = 3;
constexpr std::uint64_t parents_other = 4;

std::uint64_t parent_window() { return parents_other; }

struct EdgeCase {
  const char* name;
  std::uint32_t digitizer;
  bool store_refuses = false;
  bool foreground_refused = false;
  bool parents_window_hung = false;
  Calls calls;  // from the first property call on, through the end
  bool told = false;
  std::size_t touch_shield = 0;
};

TEST_F(TouchTest, EdgeSwipesBlockedOnlyWithATouchScreenAndUndoneInOrder) {
  const std::string set = "set_edge_swipes_blocked 7 1";
  const std::string set9 = "set_edge_swipes_blocked 9 1";
  const std::string clear = "set_edge_swipes_blocked 7 0";
  const std::string clear9 = "set_edge_swipes_blocked 9 0";
  const std::vector<EdgeCase> cases = {
      {"no digitizer", 0, false, false, false, {}},
      {"a pen only", nid_ready | 0x04, false, false, false, {}},
      {"a touch screen that is not ready", nid_integrated_touch, false, false, false, {}},
      {"a touch screen",
       nid_ready | nid_integrated_touch,
       false,
       false,
       false,
       {set, set9, "foreground_window", "set_foreground_window 7", "foreground_window", clear, clear9,
        "foreground_window", "window_answers 3", "set_foreground_window 3"}},
      {"a touch screen on the second monitor: its shield takes the foreground",
       nid_ready | nid_integrated_touch,
       false,
       false,
       false,
       {set, set9, "foreground_window", "set_foreground_window 9", "foreground_window", clear, clear9,
        "foreground_window", "window_answers 3", "set_foreground_window 3"},
       false,
       1},
      {"an external touch screen, the first window hung: the parent's other window",
       nid_ready | nid_external_touch,
       false,
       false,
       true,
       {set, set9, "foreground_window", "set_foreground_window 7", "foreground_window", clear, clear9,
        "foreground_window", "window_answers 3", "set_foreground_window 4"}},
      {"the foreground refused",
       nid_ready | nid_integrated_touch,
       false,
       true,
       false,
       {set, set9, "foreground_window", "set_foreground_window 7 refused", "foreground_window", clear,
        clear9},
       true},
      {"the property store refuses",
       nid_ready | nid_integrated_touch,
       true,
       false,
       false,
       {set + " refused", set9 + " refused"},
       true},
  };
  for (const EdgeCase& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    fake::set_digitizer(c.digitizer);
    fake::set_edge_store_refuses(c.store_refuses);
    fake::set_foreground(parents, c.foreground_refused);
    if (c.parents_window_hung) fake::set_window_silent(parents);
    const EdgeSwipeBlock block = block_edge_swipes(shields, c.touch_shield);
    unblock_edge_swipes(block, parent_window);
    Calls calls = fake::calls();
    std::erase(calls, "digitizer_status");
    std::erase(calls, "write_stderr");
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(fake::stderr_text().empty(), !c.told) << fake::stderr_text();
  }
}

TEST_F(TouchTest, AForegroundTakenMeanwhileIsNotTakenBack) {
  fake::set_digitizer(nid_ready | nid_integrated_touch);
  fake::set_foreground(parents);
  const EdgeSwipeBlock block = block_edge_swipes(shields, 0);
  fake::set_foreground(parents_other);  // the parent brought another window forward
  fake::clear_calls();
  unblock_edge_swipes(block, parent_window);
  EXPECT_EQ(fake::calls(),
            (Calls{"set_edge_swipes_blocked 7 0", "set_edge_swipes_blocked 9 0", "foreground_window"}));
}

}  // namespace
}  // namespace velmora
