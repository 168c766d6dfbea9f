#include "event_channel.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace velmora {
namespace {

std::vector<std::uint32_t> drain(EventChannel& channel) {
  { EventSender gone = std::move(channel.sender); }
  std::vector<std::uint32_t> codes;
  while (const auto event = channel.receiver.receive()) codes.push_back(event->key.vk);
  return codes;
}

TEST(EventChannel, FullQueueDropsUntilDrained) {
  EventChannel channel = make_event_channel();
  for (std::uint32_t vk = 0; vk < event_channel_capacity; ++vk) {
    ASSERT_EQ(channel.sender.try_send({vk, true}), SendResult::Sent);
  }
  EXPECT_EQ(channel.sender.try_send({999, true}), SendResult::Full);
  // Room for exactly one more once one is taken; the ring wraps in order.
  EXPECT_EQ(channel.receiver.receive()->key.vk, 0U);
  EXPECT_EQ(channel.sender.try_send({1000, false}), SendResult::Sent);
  EXPECT_EQ(channel.sender.try_send({1001, false}), SendResult::Full);
  std::vector<std::uint32_t> expected;
  for (std::uint32_t vk = 1; vk < event_channel_capacity; ++vk) expected.push_back(vk);
  expected.push_back(1000);
  EXPECT_EQ(drain(channel), expected);
}

// Session locks are counted, not queued: none is lost while the key queue is full, and
// every one comes out before the channel reports its end.
TEST(EventChannel, SessionLocksCountedWhileQueueIsFull) {
  EventChannel channel = make_event_channel();
  for (std::uint32_t vk = 0; vk < event_channel_capacity; ++vk) {
    ASSERT_EQ(channel.sender.try_send({vk, true}), SendResult::Sent);
  }
  for (int i = 0; i < 3; ++i) channel.sender.count(CountedEvent::SessionLock);
  { EventSender gone = std::move(channel.sender); }
  std::size_t keys = 0;
  int locks = 0;
  while (const auto item = channel.receiver.receive()) {
    if (item->kind == Received::Counted) {
      ++locks;
    } else {
      ++keys;
    }
  }
  EXPECT_EQ(locks, 3);
  EXPECT_EQ(keys, event_channel_capacity);
}

TEST(EventChannel, GoneReceiverDisconnects) {
  EventChannel channel = make_event_channel();
  { EventReceiver gone = std::move(channel.receiver); }
  EXPECT_EQ(channel.sender.try_send({65, true}), SendResult::Disconnected);
}

TEST(EventChannel, ReceiveEndsOnlyAfterQueueDrained) {
  EventChannel channel = make_event_channel();
  ASSERT_EQ(channel.sender.try_send({65, true}), SendResult::Sent);
  ASSERT_EQ(channel.sender.try_send({65, false}), SendResult::Sent);
  { EventSender gone = std::move(channel.sender); }
  const auto first = channel.receiver.receive();
  const auto second = channel.receiver.receive();
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(first->key.down);
  EXPECT_FALSE(second->key.down);
  EXPECT_FALSE(channel.receiver.receive().has_value());
}

// A producer thread that retries on Full and a consumer thread that receives until the
// sender goes: every event arrives once and in order.
TEST(EventChannel, ProducerAndConsumerThreadsKeepOrder) {
  constexpr std::uint32_t count = 100000;
  EventChannel channel = make_event_channel();
  std::vector<std::uint32_t> received;
  std::thread consumer([&received, receiver = std::move(channel.receiver)]() mutable {
    while (const auto event = receiver.receive()) received.push_back(event->key.vk);
  });
  std::thread producer([sender = std::move(channel.sender)]() mutable {
    for (std::uint32_t vk = 0; vk < count; ++vk) {
      while (sender.try_send({vk, vk % 2 == 0}) == SendResult::Full) std::this_thread::yield();
    }
  });
  producer.join();
  consumer.join();
  ASSERT_EQ(received.size(), count);
  for (std::uint32_t vk = 0; vk < count; ++vk) ASSERT_EQ(received[vk], vk);
}

// A producer that never retries, as the keyboard filter does: what was sent arrives in
// order, what found the queue full is lost.
TEST(EventChannel, DroppingProducerLosesOnlyWhatWasNotSent) {
  constexpr std::uint32_t count = 20000;
  EventChannel channel = make_event_channel();
  std::vector<std::uint32_t> received;
  std::thread consumer([&received, receiver = std::move(channel.receiver)]() mutable {
    while (const auto event = receiver.receive()) received.push_back(event->key.vk);
  });
  std::vector<std::uint32_t> sent;
  {
    EventSender sender = std::move(channel.sender);
    for (std::uint32_t vk = 0; vk < count; ++vk) {
      if (sender.try_send({vk, true}) == SendResult::Sent) sent.push_back(vk);
    }
  }
  consumer.join();
  EXPECT_EQ(received, sent);
}

}  // namespace
}  // namespace velmora
