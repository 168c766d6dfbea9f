#include "click_gate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "fake_platform.h"
#include "process_state.h"

namespace velmora {
namespace {

constexpr std::uint64_t wm_lbuttondblclk = 0x0203;
constexpr std::uint64_t other_messages[] = {0x0203, 0x0206, 0x0207, 0x0208, 0x0209,
                                            0x020A, 0x020B, 0x020C, 0x020D, 0x020E};
constexpr std::uint32_t start_generation = 7;

// Injectors sleep until the test lets them go, so every interleaving is chosen here.
class ClickGateTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fake::set_sleep_held(true);
  }
  void TearDown() override { fake::reset(); }

  static void set_gate(GateState state, MouseButton pending) {
    click_gate.store(make_gate(start_generation, state));
    pending_button.store(static_cast<std::uint8_t>(pending));
  }
  static GateState state() { return gate_state(click_gate.load()); }
  static MouseButton pending() { return static_cast<MouseButton>(pending_button.load()); }

  static std::size_t presses_sent(const std::string& button) {
    const auto calls = fake::calls();
    return std::count(calls.begin(), calls.end(), "send_mouse_press " + button);
  }

  // Lets injector `ticket` run to its end.
  static void wake(std::size_t ticket) {
    fake::let_go(ticket);
    fake::wait_until_ended(ticket);
  }
};

struct GateRow {
  GateState before;
  MouseButton pending_before;
  std::uint64_t message;
  bool injected;
  HookVerdict verdict;
  GateState after;
  MouseButton pending_after;
  bool starts_injector;
};

constexpr auto I = GateState::Idle;
constexpr auto P = GateState::Pending;
constexpr auto R = GateState::Released;
constexpr auto L = MouseButton::Left;
constexpr auto Rt = MouseButton::Right;
constexpr auto pass = HookVerdict::Pass;
constexpr auto swallow = HookVerdict::Swallow;

TEST_F(ClickGateTest, GateTable) {
  const GateRow rows[] = {
      // Movement passes only once the held press was re-injected.
      {I, L, wm_mousemove, false, swallow, I, L, false},
      {P, L, wm_mousemove, false, swallow, P, L, false},
      {R, L, wm_mousemove, false, pass, R, L, false},
      {R, L, wm_mousemove, true, pass, R, L, false},
      // Injected presses pass and leave the gate alone.
      {I, L, wm_lbuttondown, true, pass, I, L, false},
      {P, L, wm_rbuttondown, true, pass, P, L, false},
      {R, Rt, wm_lbuttondown, true, pass, R, Rt, false},
      // A real press is held back only from Idle.
      {I, Rt, wm_lbuttondown, false, swallow, P, L, true},
      {I, L, wm_rbuttondown, false, swallow, P, Rt, true},
      {P, L, wm_rbuttondown, false, swallow, P, L, false},
      {R, L, wm_lbuttondown, false, swallow, R, L, false},
      // Releases of the other button are swallowed and touch nothing.
      {P, Rt, wm_lbuttonup, false, swallow, P, Rt, false},
      {R, Rt, wm_lbuttonup, false, swallow, R, Rt, false},
      {R, L, wm_rbuttonup, false, swallow, R, L, false},
      // Releases of the pending button return the gate to Idle; only after Released they pass.
      {I, L, wm_lbuttonup, false, swallow, I, L, false},
      {P, L, wm_lbuttonup, false, swallow, I, L, false},
      {R, L, wm_lbuttonup, false, pass, I, L, false},
      {P, Rt, wm_rbuttonup, false, swallow, I, Rt, false},
      {R, Rt, wm_rbuttonup, false, pass, I, Rt, false},
      {R, L, wm_lbuttonup, true, pass, I, L, false},
      {P, L, wm_lbuttonup, true, swallow, I, L, false},
  };
  for (const GateRow& row : rows) {
    SCOPED_TRACE(testing::Message() << "state " << int(row.before) << " pending " << int(row.pending_before)
                                    << " message 0x" << std::hex << row.message << " injected "
                                    << row.injected);
    fake::reset();
    fake::set_sleep_held(true);
    set_gate(row.before, row.pending_before);
    EXPECT_EQ(mouse_filter(0, row.message, row.injected), row.verdict);
    EXPECT_EQ(state(), row.after);
    EXPECT_EQ(pending(), row.pending_after);
    // Only the Idle-to-Pending press starts a new generation.
    EXPECT_EQ(gate_generation(click_gate.load()), start_generation + (row.starts_injector ? 1 : 0));
    if (row.starts_injector) {
      fake::wait_for_sleepers(1);
      EXPECT_EQ(fake::calls(), std::vector<std::string>{"sleep_ms 500"});
    }
  }
}

TEST_F(ClickGateTest, OtherMessagesSwallowedInEveryState) {
  for (const GateState before : {I, P, R}) {
    for (const std::uint64_t message : other_messages) {
      set_gate(before, L);
      EXPECT_EQ(mouse_filter(0, message, false), swallow) << std::hex << message;
      EXPECT_EQ(mouse_filter(0, message, true), swallow) << std::hex << message;
      EXPECT_EQ(click_gate.load(), make_gate(start_generation, before));
    }
  }
}

TEST_F(ClickGateTest, PassThroughLeavesGateUnchanged) {
  const std::uint64_t messages[] = {wm_mousemove,   wm_lbuttondown, wm_lbuttonup,
                                    wm_rbuttondown, wm_rbuttonup,   wm_lbuttondblclk};
  const struct {
    std::int32_t code;
    bool capture;
    bool diagnostic;
  } modes[] = {{-1, true, false}, {0, false, false}, {0, true, true}, {0, false, true}};
  for (const auto& mode : modes) {
    capture_active.store(mode.capture);
    diagnostic_mode.store(mode.diagnostic);
    for (const GateState before : {I, P, R}) {
      for (const std::uint64_t message : messages) {
        set_gate(before, Rt);
        EXPECT_EQ(mouse_filter(mode.code, message, false), pass);
        EXPECT_EQ(click_gate.load(), make_gate(start_generation, before));
        EXPECT_EQ(pending(), Rt);
      }
    }
  }
  EXPECT_TRUE(fake::calls().empty()) << "no injector was started";
}

TEST_F(ClickGateTest, ShortPressNeverReachesSystem) {
  EXPECT_EQ(mouse_filter(0, wm_lbuttondown, false), swallow);
  EXPECT_EQ(mouse_filter(0, wm_lbuttonup, false), swallow);
  EXPECT_EQ(state(), I);
  wake(0);
  EXPECT_EQ(state(), I);
  EXPECT_EQ(presses_sent("Left") + presses_sent("Right"), 0U);
}

TEST_F(ClickGateTest, LongPressIsReinjectedThenMoveAndReleasePass) {
  EXPECT_EQ(mouse_filter(0, wm_rbuttondown, false), swallow);
  EXPECT_EQ(mouse_filter(0, wm_mousemove, false), swallow);
  wake(0);
  EXPECT_EQ(state(), R);
  EXPECT_EQ(presses_sent("Right"), 1U);
  EXPECT_EQ(mouse_filter(0, wm_rbuttondown, true), pass) << "the re-injected press";
  EXPECT_EQ(mouse_filter(0, wm_mousemove, false), pass);
  EXPECT_EQ(mouse_filter(0, wm_lbuttondown, false), swallow) << "another button while released";
  EXPECT_EQ(mouse_filter(0, wm_lbuttonup, false), swallow);
  EXPECT_EQ(state(), R);
  EXPECT_EQ(mouse_filter(0, wm_rbuttonup, false), pass);
  EXPECT_EQ(state(), I);
  EXPECT_EQ(mouse_filter(0, wm_mousemove, false), swallow);
}

// A quick click, then a new press before the first injector wakes: the first injector
// must neither release the new press nor send its own button.
TEST_F(ClickGateTest, QuickClickThenNewPressOfOtherButton) {
  EXPECT_EQ(mouse_filter(0, wm_lbuttondown, false), swallow);
  fake::wait_for_sleepers(1);  // so ticket 0 is the first press's injector
  EXPECT_EQ(mouse_filter(0, wm_lbuttonup, false), swallow);
  EXPECT_EQ(mouse_filter(0, wm_rbuttondown, false), swallow);
  fake::wait_for_sleepers(2);
  wake(0);
  EXPECT_EQ(state(), P);
  EXPECT_EQ(mouse_filter(0, wm_mousemove, false), swallow);
  EXPECT_EQ(presses_sent("Left") + presses_sent("Right"), 0U);
  wake(1);
  EXPECT_EQ(state(), R);
  EXPECT_EQ(presses_sent("Right"), 1U);
  EXPECT_EQ(presses_sent("Left"), 0U);
  EXPECT_EQ(mouse_filter(0, wm_rbuttonup, false), pass);
}

TEST_F(ClickGateTest, QuickClickThenShortSecondClickOfSameButton) {
  EXPECT_EQ(mouse_filter(0, wm_lbuttondown, false), swallow);
  fake::wait_for_sleepers(1);
  EXPECT_EQ(mouse_filter(0, wm_lbuttonup, false), swallow);
  EXPECT_EQ(mouse_filter(0, wm_lbuttondown, false), swallow);
  fake::wait_for_sleepers(2);
  wake(0);
  // The second press, still inside its own 500 ms, is not released early.
  EXPECT_EQ(mouse_filter(0, wm_lbuttonup, false), swallow);
  wake(1);
  EXPECT_EQ(state(), I);
  EXPECT_EQ(presses_sent("Left"), 0U);
}

TEST_F(ClickGateTest, InjectorIgnoresClearedCapture) {
  EXPECT_EQ(mouse_filter(0, wm_lbuttondown, false), swallow);
  capture_active.store(false);
  wake(0);
  EXPECT_EQ(presses_sent("Left"), 1U);
}

// Under TSan: an injector and a release on two threads. Whichever wins, a release passes
// exactly when the press was re-injected, and the gate ends Idle.
TEST_F(ClickGateTest, InjectorRacesRelease) {
  fake::set_sleep_held(false);
  for (int round = 0; round < 200; ++round) {
    fake::clear_calls();
    click_gate.store(make_gate(start_generation + round, P));
    pending_button.store(static_cast<std::uint8_t>(L));
    std::thread injector(click_injector, L, start_generation + round);
    const HookVerdict verdict = mouse_filter(0, wm_lbuttonup, false);
    injector.join();
    ASSERT_EQ(verdict == pass, presses_sent("Left") == 1) << "round " << round;
    ASSERT_EQ(state(), I);
  }
}

// Under TSan: quick clicks of alternating buttons while their injectors wake at random.
// Every release that passes was preceded by a re-injected press of the same button.
TEST_F(ClickGateTest, QuickClicksRaceInjectors) {
  fake::set_sleep_held(false);
  std::size_t passed[2] = {0, 0};
  for (int round = 0; round < 200; ++round) {
    const bool left = round % 2 == 0;
    (void)mouse_filter(0, left ? wm_lbuttondown : wm_rbuttondown, false);
    if (mouse_filter(0, left ? wm_lbuttonup : wm_rbuttonup, false) == pass) ++passed[left ? 0 : 1];
  }
  fake::wait_for_sleepers(200);
  fake::wait_until_all_ended();
  EXPECT_EQ(presses_sent("Left"), passed[0]);
  EXPECT_EQ(presses_sent("Right"), passed[1]);
}

}  // namespace
}  // namespace velmora
