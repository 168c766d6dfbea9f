#include "keyboard_filter.h"

#include <gtest/gtest.h>

#include <vector>

#include "fake_platform.h"
#include "event_channel.h"
#include "process_state.h"

namespace velmora {
namespace {

constexpr std::uint64_t wm_keydown = 0x0100;
constexpr std::uint64_t wm_keyup = 0x0101;
constexpr std::uint64_t wm_syskeydown = 0x0104;
constexpr std::uint64_t wm_syskeyup = 0x0105;

struct Reported {
  std::uint32_t vk;
  bool down;
  bool operator==(const Reported&) const = default;
};

// Publishes a fresh channel's sender for the test and collects what the filter sent.
class KeyboardFilterTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    event_sender.store(&channel_.sender);
  }
  void TearDown() override { fake::reset(); }

  // Unpublishes and releases the sender, so receive ends once the queue is drained.
  std::vector<Reported> drained() {
    event_sender.store(nullptr);
    { EventSender gone = std::move(channel_.sender); }
    std::vector<Reported> events;
    while (const auto event = channel_.receiver.receive()) events.push_back({event->key.vk, event->key.down});
    return events;
  }

  EventChannel channel_ = make_event_channel();
};

struct FlagCase {
  bool capture;
  bool diagnostic;
  HookVerdict verdict;
  bool reported;
};

TEST_F(KeyboardFilterTest, CaptureAndDiagnosticTable) {
  const FlagCase cases[] = {
      {true, false, HookVerdict::Swallow, true},
      {true, true, HookVerdict::Pass, true},
      {false, false, HookVerdict::Pass, false},
      {false, true, HookVerdict::Pass, false},
  };
  for (const FlagCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "capture " << c.capture << " diagnostic " << c.diagnostic);
    channel_ = make_event_channel();
    event_sender.store(&channel_.sender);
    capture_active.store(c.capture);
    diagnostic_mode.store(c.diagnostic);
    EXPECT_EQ(keyboard_filter(0, wm_keydown, 65), c.verdict);
    const std::vector<Reported> expected =
        c.reported ? std::vector<Reported>{{65, true}} : std::vector<Reported>{};
    EXPECT_EQ(drained(), expected);
  }
}

TEST_F(KeyboardFilterTest, DownFlagFromMessage) {
  const std::uint64_t upper_bits = std::uint64_t{1} << 32;
  const std::uint64_t messages[] = {wm_keydown,  wm_keyup, wm_syskeydown,
                                    wm_syskeyup, 0x0200,   upper_bits | wm_keydown};
  for (const std::uint64_t message : messages) {
    EXPECT_EQ(keyboard_filter(0, message, 13), HookVerdict::Swallow);
  }
  EXPECT_EQ(drained(), (std::vector<Reported>{
                           {13, true}, {13, false}, {13, true}, {13, false}, {13, false}, {13, true}}));
}

TEST_F(KeyboardFilterTest, NegativeCodePassesUnreported) {
  EXPECT_EQ(keyboard_filter(-1, wm_keydown, 65), HookVerdict::Pass);
  EXPECT_TRUE(drained().empty());
}

TEST_F(KeyboardFilterTest, WithoutSenderStillSwallows) {
  event_sender.store(nullptr);
  EXPECT_EQ(keyboard_filter(0, wm_keydown, 65), HookVerdict::Swallow);
  EXPECT_TRUE(drained().empty());
}

TEST_F(KeyboardFilterTest, FullQueueDropsButStillSwallows) {
  for (std::uint32_t vk = 0; vk < event_channel_capacity + 10; ++vk) {
    EXPECT_EQ(keyboard_filter(0, wm_keydown, vk), HookVerdict::Swallow);
  }
  const std::vector<Reported> events = drained();
  ASSERT_EQ(events.size(), event_channel_capacity);
  EXPECT_EQ(events.back(), (Reported{event_channel_capacity - 1, true}));
}

TEST_F(KeyboardFilterTest, GoneReceiverStillSwallows) {
  { EventReceiver gone = std::move(channel_.receiver); }
  EXPECT_EQ(keyboard_filter(0, wm_keydown, 65), HookVerdict::Swallow);
  event_sender.store(nullptr);
}

}  // namespace
}  // namespace velmora
