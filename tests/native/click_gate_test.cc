#include "click_gate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "process_state.h"

namespace velmora {
namespace {

constexpr std::uint64_t wm_lbuttondblclk = 0x0203;
constexpr std::uint64_t other_messages[] = {0x0203, 0x0206, 0x0207, 0x0208, 0x0209,
                                            0x020A, 0x020B, 0x020C, 0x020D, 0x020E};

// The filter and the click timer share the hook thread, so the test plays that thread:
// it calls the filter and fires the timer in the order it chooses, and collects the
// effects the hook thread would apply.
class ClickGateTest : public testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  void TearDown() override { fake::reset(); }

  void set_gate(GateState state, MouseButton pending) {
    gate_.state = state;
    gate_.pending = pending;
  }

  HookVerdict mouse(std::uint64_t message, MouseSource source = MouseSource::Physical) {
    const MouseDecision decision = mouse_filter(gate_, 0, message, source);
    effects_.push_back(decision.effects);
    return decision.verdict;
  }

  void timer() { effects_.push_back(click_timer_elapsed(gate_)); }

  // Every effect so far, as readable words, then forgotten.
  std::vector<std::string> taken_effects() {
    std::vector<std::string> words;
    for (const GateEffects& effects : effects_) {
      if (effects.shield_pass_through) words.push_back(*effects.shield_pass_through ? "open" : "close");
      if (effects.inject_press)
        words.push_back(*effects.inject_press == MouseButton::Left ? "inject Left" : "inject Right");
      if (effects.arm_timer_ms) words.push_back("timer " + std::to_string(*effects.arm_timer_ms));
    }
    effects_.clear();
    return words;
  }

  ClickGate gate_;
  std::vector<GateEffects> effects_;
};

using Words = std::vector<std::string>;

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
    set_gate(row.before, row.pending_before);
    EXPECT_EQ(mouse(row.message, row.injected ? MouseSource::Injected : MouseSource::Physical), row.verdict);
    EXPECT_EQ(gate_.state, row.after);
    EXPECT_EQ(gate_.pending, row.pending_after);
    EXPECT_EQ(taken_effects(), row.arms_timer ? Words{"timer 500"} : Words{});
  }
}

TEST_F(ClickGateTest, OtherMessagesSwallowedAndPassThroughLeavesGateUnchanged) {
  for (const GateState before : {I, P, R}) {
    for (const std::uint64_t message : other_messages) {
      set_gate(before, L);
      EXPECT_EQ(mouse(message), swallow) << std::hex << message;
      EXPECT_EQ(mouse(message, MouseSource::Injected), swallow) << std::hex << message;
      EXPECT_EQ(gate_.state, before);
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
        const MouseDecision decision = mouse_filter(gate_, mode.code, message, MouseSource::Physical);
        EXPECT_EQ(decision.verdict, pass);
        EXPECT_EQ(decision.effects, GateEffects{}) << "nothing to do";
        EXPECT_EQ(gate_.state, before);
        EXPECT_EQ(gate_.pending, Rt);
      }
    }
  }
}

TEST_F(ClickGateTest, ShortPressNeverReachesSystem) {
  EXPECT_EQ(mouse(wm_lbuttondown), swallow);
  EXPECT_EQ(mouse(wm_lbuttonup), swallow);
  timer();
  EXPECT_EQ(gate_.state, I);
  EXPECT_EQ(taken_effects(), Words{"timer 500"});
}

// The shield opens before the press is re-injected, stays open through the release the
// hook passes, and closes only at the next mouse event or when the timer runs out.
TEST_F(ClickGateTest, LongPressOpensShieldUntilReleaseIsRouted) {
  EXPECT_EQ(mouse(wm_rbuttondown), swallow);
  EXPECT_EQ(mouse(wm_mousemove), swallow);
  timer();
  EXPECT_EQ(gate_.state, R);
  EXPECT_EQ(taken_effects(), (Words{"timer 500", "open", "inject Right"}));
  EXPECT_EQ(mouse(wm_rbuttondown, MouseSource::Gate), pass) << "the re-injected press";
  EXPECT_EQ(mouse(wm_mousemove), pass);
  EXPECT_EQ(mouse(wm_lbuttondown), swallow) << "another button while released";
  EXPECT_EQ(mouse(wm_lbuttonup), swallow);
  EXPECT_EQ(gate_.state, R);
  EXPECT_TRUE(taken_effects().empty());
  EXPECT_EQ(mouse(wm_rbuttonup), pass);
  EXPECT_EQ(gate_.state, I);
  EXPECT_EQ(taken_effects(), Words{"timer 250"}) << "still open while the release is routed";
  EXPECT_EQ(mouse(wm_mousemove), swallow);
  timer();
  EXPECT_EQ(taken_effects(), Words{"close"}) << "closed once";

  // Without a further mouse event, the timer closes it.
  gate_.state = P;
  timer();
  EXPECT_EQ(mouse(wm_rbuttonup), pass);
  taken_effects();
  timer();
  EXPECT_EQ(taken_effects(), Words{"close"});
}

// A quick click, then a new press within 500 ms: the timer is re-armed for the new press,
// so the new press is not released early and the right button is re-injected.
TEST_F(ClickGateTest, QuickClickThenNewPressRearmsTimer) {
  EXPECT_EQ(mouse(wm_lbuttondown), swallow);
  EXPECT_EQ(mouse(wm_lbuttonup), swallow);
  EXPECT_EQ(mouse(wm_rbuttondown), swallow);
  timer();
  EXPECT_EQ(taken_effects(), (Words{"timer 500", "timer 500", "open", "inject Right"}));
  EXPECT_EQ(mouse(wm_rbuttonup), pass);
}

// The release is queued after the timer let the press go but before the re-injected press:
// the release passes, so the late press must not, or the button would stay down.
TEST_F(ClickGateTest, OwnPressOvertakenByItsReleaseIsSwallowed) {
  EXPECT_EQ(mouse(wm_lbuttondown), swallow);
  timer();
  EXPECT_EQ(mouse(wm_lbuttonup), pass);
  EXPECT_EQ(mouse(wm_lbuttondown, MouseSource::Gate), swallow);
  EXPECT_EQ(mouse(wm_lbuttondown, MouseSource::Injected), pass) << "another program's press";
  EXPECT_EQ(gate_.state, I);
}

TEST_F(ClickGateTest, TimerIgnoresClearedCapture) {
  EXPECT_EQ(mouse(wm_lbuttondown), swallow);
  capture_active.store(false);
  timer();
  EXPECT_EQ(taken_effects(), (Words{"timer 500", "open", "inject Left"}));
}

}  // namespace
}  // namespace velmora
