#include <gtest/gtest.h>

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
    const RoundSteps steps = next_round(schedule, 1000, 1000);
    EXPECT_TRUE(steps.confine_cursor && steps.restack_shield && steps.retry_session) << round;
    EXPECT_FALSE(steps.tell_removal) << round;
    if (steps.refresh_hooks) refreshed.push_back(round);
  }
  EXPECT_EQ(refreshed, (std::vector<unsigned>{hook_refresh_rounds, 2 * hook_refresh_rounds}));
}

TEST(KeepInPlaceScheduleTest, InputNoHookSawPutsTheHooksBackAtOnceAndIsToldOnce) {
  KeepInPlaceSchedule schedule;
  // Input that the hooks have not seen yet is theirs to see for one more round.
  EXPECT_FALSE(next_round(schedule, 5000, 1000).refresh_hooks);
  RoundSteps steps = next_round(schedule, 5000, 1000);
  EXPECT_TRUE(steps.refresh_hooks);
  EXPECT_TRUE(steps.tell_removal);
  // Handled: the same input asks for nothing more.
  steps = next_round(schedule, 5000, 1000);
  EXPECT_FALSE(steps.refresh_hooks);
  // A later loss puts the hooks back again, without a second line.
  (void)next_round(schedule, 9000, 1000);
  steps = next_round(schedule, 9000, 1000);
  EXPECT_TRUE(steps.refresh_hooks);
  EXPECT_FALSE(steps.tell_removal);
  // Input the hooks saw, across the tick count's wrap, and an unreadable input time.
  (void)next_round(schedule, 0xFFFFFF00U, 0x00000010U);
  EXPECT_FALSE(next_round(schedule, std::nullopt, 0x00000010U).refresh_hooks);
  EXPECT_FALSE(next_round(schedule, std::nullopt, 0x00000010U).refresh_hooks);
}

}  // namespace
}  // namespace velmora
