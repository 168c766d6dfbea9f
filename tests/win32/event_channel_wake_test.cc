// The event channel's wake-up on the real Windows primitives: one event at a time, sent
// while the receiver is at a different point on its way to sleep each round. A lost wake
// leaves an event queued with the receiver asleep, which shows here as a round that never
// completes.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "event_channel.h"

namespace velmora {
namespace {

constexpr std::uint32_t rounds = 200000;
// A hang detector, not a timing bound: a round normally takes microseconds.
constexpr auto stall_limit = std::chrono::seconds(3);

// Waits until the receiver has taken `count` events; false once the limit has passed.
bool wait_until_received(const std::atomic<std::uint32_t>& received, std::uint32_t count) {
  const auto deadline = std::chrono::steady_clock::now() + stall_limit;
  while (received.load() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// Lets the receiver get a varying distance towards its sleep: from no head start, through
// a short spin, to a few yields.
void stagger(std::uint32_t round) {
  for (std::uint32_t i = 0; i < round % 7; ++i) std::this_thread::yield();
  for (volatile std::uint32_t spin = 0; spin < (round * 37) % 400;) spin = spin + 1;
}

TEST(EventChannelWake, EverySingleEventWakesTheReceiver) {
  EventChannel channel = make_event_channel();
  std::atomic<std::uint32_t> received{0};
  std::thread receiver_thread([&received, receiver = std::move(channel.receiver)]() mutable {
    while (const auto item = receiver.receive()) received.fetch_add(1);
  });
  std::uint32_t stalled_at = 0;
  bool stalled = false;
  for (std::uint32_t round = 0; round < rounds && !stalled; ++round) {
    stagger(round);
    ASSERT_EQ(channel.sender.try_send({round, true}), SendResult::Sent);
    if (!wait_until_received(received, round + 1)) {
      stalled = true;
      stalled_at = round;
    }
  }
  // Releasing the sender wakes the receiver once more, so the thread ends either way.
  { EventSender gone = std::move(channel.sender); }
  receiver_thread.join();
  EXPECT_FALSE(stalled) << "event " << stalled_at << " waited in the queue with the receiver asleep";
}

}  // namespace
}  // namespace velmora
