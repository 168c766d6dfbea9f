#include "click_gate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "process_state.h"

namespace velmora {
namespace {

using Calls = std::vector<std::string>;

constexpr std::uint64_t wm_lbuttondblclk = 0x0203;
constexpr std::uint64_t other_messages[] = {0x0203, 0x0206, 0x0207, 0x0208, 0x0209,
                                            0x020A, 0x020B, 0x020C, 0x020D, 0x020E};

// The filter and the click timer share the hook thread, so the test plays that thread:
// it calls the filter and fires the timer in the order it chooses.
class ClickGateTest : public testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  void TearDown() override { fake::reset(); }

  static void set_gate(GateState state, MouseButton pending) {
    click_gate.store(state);
    pending_button.store(pending);
  }

  static std::size_t count(const std::string& call) {
    const Calls calls = fake::calls();
    return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
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
  bool arms_timer;
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
    set_gate(row.before, row.pending_before);
    EXPECT_EQ(mouse_filter(0, row.message, row.injected), row.verdict);
    EXPECT_EQ(click_gate.load(), row.after);
    EXPECT_EQ(pending_button.load(), row.pending_after);
    EXPECT_EQ(fake::calls(), row.arms_timer ? Calls{"start_click_timer 500"} : Calls{});
  }
}

TEST_F(ClickGateTest, OtherMessagesSwallowedAndPassThroughLeavesGateUnchanged) {
  for (const GateState before : {I, P, R}) {
    for (const std::uint64_t message : other_messages) {
      set_gate(before, L);
      EXPECT_EQ(mouse_filter(0, message, false), swallow) << std::hex << message;
      EXPECT_EQ(mouse_filter(0, message, true), swallow) << std::hex << message;
      EXPECT_EQ(click_gate.load(), before);
    }
  }
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
        EXPECT_EQ(click_gate.load(), before);
        EXPECT_EQ(pending_button.load(), Rt);
      }
    }
  }
  EXPECT_TRUE(fake::calls().empty()) << "no timer was armed";
}

TEST_F(ClickGateTest, ShortPressNeverReachesSystem) {
  EXPECT_EQ(mouse_filter(0, wm_lbuttondown, false), swallow);
  EXPECT_EQ(mouse_filter(0, wm_lbuttonup, false), swallow);
  click_timer_elapsed();
  EXPECT_EQ(click_gate.load(), I);
  EXPECT_EQ(fake::calls(), Calls{"start_click_timer 500"});
}

// The shield opens before the press is re-injected, stays open through the release the
// hook passes, and closes only at the next mouse event or when the timer runs out.
TEST_F(ClickGateTest, LongPressOpensShieldUntilReleaseIsRouted) {
  EXPECT_EQ(mouse_filter(0, wm_rbuttondown, false), swallow);
  EXPECT_EQ(mouse_filter(0, wm_mousemove, false), swallow);
  click_timer_elapsed();
  EXPECT_EQ(click_gate.load(), R);
  EXPECT_EQ(fake::calls(),
            (Calls{"start_click_timer 500", "shield_pass_through 1", "send_mouse_press Right"}));
  EXPECT_EQ(mouse_filter(0, wm_rbuttondown, true), pass) << "the re-injected press";
  EXPECT_EQ(mouse_filter(0, wm_mousemove, false), pass);
  EXPECT_EQ(mouse_filter(0, wm_lbuttondown, false), swallow) << "another button while released";
  EXPECT_EQ(mouse_filter(0, wm_lbuttonup, false), swallow);
  EXPECT_EQ(click_gate.load(), R);
  fake::clear_calls();
  EXPECT_EQ(mouse_filter(0, wm_rbuttonup, false), pass);
  EXPECT_EQ(click_gate.load(), I);
  EXPECT_EQ(fake::calls(), Calls{"start_click_timer 250"}) << "still open while the release is routed";
  EXPECT_EQ(mouse_filter(0, wm_mousemove, false), swallow);
  click_timer_elapsed();
  EXPECT_EQ(fake::calls(), (Calls{"start_click_timer 250", "shield_pass_through 0"})) << "closed once";

  // Without a further mouse event, the timer closes it.
  click_gate.store(P);
  click_timer_elapsed();
  EXPECT_EQ(mouse_filter(0, wm_rbuttonup, false), pass);
  fake::clear_calls();
  click_timer_elapsed();
  EXPECT_EQ(fake::calls(), Calls{"shield_pass_through 0"});
}

// A quick click, then a new press within 500 ms: the timer is re-armed for the new press,
// so the new press is not released early and the right button is re-injected.
TEST_F(ClickGateTest, QuickClickThenNewPressRearmsTimer) {
  EXPECT_EQ(mouse_filter(0, wm_lbuttondown, false), swallow);
  EXPECT_EQ(mouse_filter(0, wm_lbuttonup, false), swallow);
  EXPECT_EQ(mouse_filter(0, wm_rbuttondown, false), swallow);
  EXPECT_EQ(count("start_click_timer 500"), 2U);
  click_timer_elapsed();
  EXPECT_EQ(count("send_mouse_press Right"), 1U);
  EXPECT_EQ(count("send_mouse_press Left"), 0U);
  EXPECT_EQ(mouse_filter(0, wm_rbuttonup, false), pass);
}

TEST_F(ClickGateTest, TimerIgnoresClearedCapture) {
  EXPECT_EQ(mouse_filter(0, wm_lbuttondown, false), swallow);
  capture_active.store(false);
  click_timer_elapsed();
  EXPECT_EQ(count("send_mouse_press Left"), 1U);
}

}  // namespace
}  // namespace velmora
