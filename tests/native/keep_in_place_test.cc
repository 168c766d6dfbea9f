#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "keep_in_place_schedule.h"
#include "shield_order.h"

namespace velmora {
namespace {

constexpr std::uint32_t own = 10;
constexpr std::uint32_t app = 20;       // the application behind the launcher
constexpr std::uint32_t launcher = 30;  // starts the sidecar, owns no window
constexpr std::uint32_t shell = 40;
constexpr std::uint32_t other = 50;
constexpr std::uint64_t shield = 1;

WindowFacts window(std::uint64_t handle, std::uint32_t process, bool topmost = true) {
  return WindowFacts{handle, process, true, false, topmost};
}

std::vector<ZOrderMove> moves(const std::vector<WindowFacts>& above, std::uint32_t parent,
                              ShieldPassState& state) {
  return shield_moves(above, shield, own, parent, state);
}

TEST(ShieldOrderTest, TheParentIsTheNearestAncestorWithAWindowUpToTheShell) {
  const std::vector<WindowFacts> windows = {window(100, app), window(200, shell), window(shield, own)};
  const std::vector<std::uint32_t> chain = {launcher, app, shell};
  EXPECT_EQ(window_owning_parent(chain, shell, windows), app) << "the launcher owns no window";
  const std::vector<std::uint32_t> launched_from_shell = {launcher, shell};
  EXPECT_EQ(window_owning_parent(launched_from_shell, shell, windows), 0U) << "the taskbar is no parent's";
  std::vector<WindowFacts> hidden = windows;
  hidden[0].visible = false;
  EXPECT_EQ(window_owning_parent(chain, shell, hidden), 0U);
}

TEST(ShieldOrderTest, OnlyVisibleUncloakedTopmostWindowsOfAnotherProgramCount) {
  ShieldPassState state;
  WindowFacts cloaked = window(100, other);
  cloaked.cloaked = true;
  WindowFacts hidden = window(101, other);
  hidden.visible = false;
  const std::vector<WindowFacts> harmless = {cloaked, hidden, window(102, other, false), window(103, own),
                                             window(104, app)};
  EXPECT_TRUE(moves(harmless, app, state).empty());

  const std::vector<WindowFacts> covered = {window(100, other)};
  EXPECT_EQ(moves(covered, app, state), (std::vector<ZOrderMove>{{shield, std::nullopt}}));
}

TEST(ShieldOrderTest, TheShieldGoesUnderTheParentsWindowsNeverOverThem) {
  ShieldPassState state;
  // The parent's window above another program's: the shield goes right below the parent's.
  EXPECT_EQ(moves({window(100, app), window(200, other)}, app, state),
            (std::vector<ZOrderMove>{{shield, 100}}));
  // Another program's window above two of the parent's: the shield passes it, and the
  // parent's windows are put back above the shield, the lower one first, so that their
  // own order stays.
  state = {};
  EXPECT_EQ(moves({window(200, other), window(100, app), window(101, app)}, app, state),
            (std::vector<ZOrderMove>{{shield, std::nullopt}, {101, std::nullopt}, {100, std::nullopt}}));
}

TEST(ShieldOrderTest, AWindowThatCannotBePassedIsTriedAFewRoundsThenLeftBeUntilItChanges) {
  ShieldPassState state;
  const std::vector<WindowFacts> band = {window(300, other), window(200, other)};
  for (unsigned round = 1; round <= shield_pass_tries; ++round) {
    EXPECT_EQ(moves(band, app, state), (std::vector<ZOrderMove>{{shield, std::nullopt}})) << round;
  }
  // Still above after those rounds: left be, and the shield now only passes what lies
  // below it, going right under it.
  EXPECT_EQ(moves(band, app, state), (std::vector<ZOrderMove>{{shield, 300}}));
  EXPECT_EQ(moves({window(300, other)}, app, state), (std::vector<ZOrderMove>{})) << "no fight";
  // Once it has changed (here: hidden for a round), it is tried again.
  WindowFacts hidden = window(300, other);
  hidden.visible = false;
  EXPECT_TRUE(moves({hidden}, app, state).empty());
  EXPECT_EQ(moves({window(300, other)}, app, state), (std::vector<ZOrderMove>{{shield, std::nullopt}}));
}

TEST(KeepInPlaceScheduleTest, EveryRoundPutsTheLockBackAndEverySixthRefreshesTheHooks) {
  KeepInPlaceSchedule schedule;
  std::vector<unsigned> refreshed;
  for (unsigned round = 1; round <= 2 * hook_refresh_rounds; ++round) {
    const RoundSteps steps = next_round(schedule, round * keep_in_place_ms, InputClock{}, InputClock{});
    EXPECT_TRUE(steps.confine_cursor && steps.restack_shield && steps.retry_session) << round;
    EXPECT_FALSE(steps.tell_removal) << round;
    if (steps.refresh_hooks) refreshed.push_back(round);
  }
  EXPECT_EQ(refreshed, (std::vector<unsigned>{hook_refresh_rounds, 2 * hook_refresh_rounds}));
}

// What the keyboard's and the mouse's clocks read at a round's time.
struct Clocks {
  InputClock keyboard;
  InputClock mouse;
};

struct Timeline {
  const char* name;
  Clocks (*at)(std::uint32_t now);
  std::vector<unsigned> refreshed;  // rounds 1 to 5, before the first periodic refresh
};

// Scripted timelines, one round every half second from t = 500 ms. Hooks installed at 0.
TEST(KeepInPlaceScheduleTest, HooksCountAsLostOnlyWhenRawInputOutlastsTheirCallsBySecond) {
  const std::vector<Timeline> timelines = {
      // A touch screen or a pen advances the system's last input, but makes no raw
      // keyboard or mouse input and calls no low-level mouse hook.
      {"touch only", [](std::uint32_t) { return Clocks{}; }, {}},
      {"raw input alongside hook calls",
       [](std::uint32_t now) {
         return Clocks{{now - 5, now - 10}, {now - 20, now - 30}};
       },
       {}},
      {"raw keys for more than a second with no keyboard hook call, the mouse hook alive",
       [](std::uint32_t now) {
         return Clocks{{std::min(now, 1400U), 0}, {now, now}};
       },
       {3}},
      {"raw mouse input on and on with no mouse hook call",
       [](std::uint32_t now) {
         return Clocks{{}, {now, 0}};
       },
       {3}},
      {"raw keys a second after the last call, not more",
       [](std::uint32_t now) {
         return Clocks{{std::min(now, 1000U), 0}, {}};
       },
       {}},
  };
  for (const Timeline& timeline : timelines) {
    SCOPED_TRACE(timeline.name);
    KeepInPlaceSchedule schedule;
    std::vector<unsigned> refreshed;
    int lines = 0;
    for (unsigned round = 1; round < hook_refresh_rounds; ++round) {
      const std::uint32_t now = round * keep_in_place_ms;
      const Clocks clocks = timeline.at(now);
      const RoundSteps steps = next_round(schedule, now, clocks.keyboard, clocks.mouse);
      if (steps.refresh_hooks) refreshed.push_back(round);
      lines += steps.tell_removal ? 1 : 0;
    }
    EXPECT_EQ(refreshed, timeline.refreshed);
    EXPECT_EQ(lines, timeline.refreshed.empty() ? 0 : 1) << "said once per run";
  }
}

TEST(KeepInPlaceScheduleTest, SilenceIsMeasuredAcrossTheTickCountsWrap) {
  KeepInPlaceSchedule schedule;
  const std::uint32_t call = 0xFFFFFF00U;
  EXPECT_FALSE(next_round(schedule, 0x10, InputClock{0x10, call}, InputClock{}).refresh_hooks);
  EXPECT_TRUE(next_round(schedule, 0x500, InputClock{0x500, call}, InputClock{}).refresh_hooks);
}

}  // namespace
}  // namespace velmora
