#include "event_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <thread>
#include <vector>

#include "fake_platform.h"

namespace velmora {
namespace {

class EventStreamTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    open_event_output();
  }
  void TearDown() override { fake::reset(); }
};

TEST_F(EventStreamTest, ExactLines) {
  const struct {
    std::string built;
    const char* expected;
  } cases[] = {
      {event_line("ready"), R"({"event":"ready"})"},
      {event_line("bye"), R"({"event":"bye"})"},
      {event_line("session-lock"), R"({"event":"session-lock"})"},
      {key_event_line({65, true}), R"({"down":true,"event":"key","vk":65})"},
      {key_event_line({65, false}), R"({"down":false,"event":"key","vk":65})"},
      {key_event_line({0, true}), R"({"down":true,"event":"key","vk":0})"},
      {key_event_line({4294967295U, false}), R"({"down":false,"event":"key","vk":4294967295})"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.built, c.expected);
}

TEST_F(EventStreamTest, EmitWritesLineAndFeedInOneWrite) {
  emit_line(event_line("ready"));
  EXPECT_EQ(fake::calls(), std::vector<std::string>{"write_stdout {\"event\":\"ready\"}"});
  EXPECT_EQ(fake::stdout_text(), "{\"event\":\"ready\"}\n");
}

// The fake writes a byte at a time, so only the standard-output lock keeps lines whole.
TEST_F(EventStreamTest, ConcurrentWritersGiveWholeLines) {
  constexpr int per_thread = 300;
  const std::string lines[] = {key_event_line({65, true}), event_line("session-lock")};
  std::vector<std::thread> writers;
  for (const std::string& line : lines) {
    writers.emplace_back([&line] {
      for (int i = 0; i < per_thread; ++i) emit_line(line);
    });
  }
  for (std::thread& writer : writers) writer.join();
  std::istringstream out(fake::stdout_text());
  int counts[2] = {0, 0};
  for (std::string line; std::getline(out, line);) {
    ASSERT_TRUE(line == lines[0] || line == lines[1]) << line;
    ++counts[line == lines[0] ? 0 : 1];
  }
  EXPECT_EQ(counts[0], per_thread);
  EXPECT_EQ(counts[1], per_thread);
}

TEST_F(EventStreamTest, PumpWritesKeysInOrderAndEndsWithSender) {
  EventChannel channel = make_event_channel();
  std::thread pump([receiver = std::move(channel.receiver)]() mutable { event_pump(std::move(receiver)); });
  {
    EventSender sender = std::move(channel.sender);
    ASSERT_EQ(sender.try_send({65, true}), SendResult::Sent);
    ASSERT_EQ(sender.try_send({65, false}), SendResult::Sent);
    ASSERT_EQ(sender.try_send({13, true}), SendResult::Sent);
  }
  pump.join();
  EXPECT_EQ(fake::stdout_text(),
            "{\"down\":true,\"event\":\"key\",\"vk\":65}\n"
            "{\"down\":false,\"event\":\"key\",\"vk\":65}\n"
            "{\"down\":true,\"event\":\"key\",\"vk\":13}\n");
}

// Every key crosses the pump's thread under whatever load the machine has: the pump
// raises that thread's priority itself, from within it.
TEST_F(EventStreamTest, PumpRaisesItsOwnThreadsPriority) {
  EventChannel channel = make_event_channel();
  std::thread pump([receiver = std::move(channel.receiver)]() mutable { event_pump(std::move(receiver)); });
  const std::thread::id pump_id = pump.get_id();
  { const EventSender sender = std::move(channel.sender); }
  pump.join();
  EXPECT_EQ(fake::threads_raised(), std::vector<std::thread::id>{pump_id});
}

// Keys already queued go out whole and in order, several to a write; the longest line
// fills the buffer to its last byte (ASan watches the edge).
TEST_F(EventStreamTest, PumpBatchesQueuedKeysIntoWholeLines) {
  constexpr std::uint32_t widest = 4294967295U;
  EventChannel channel = make_event_channel();
  std::string expected;
  {
    EventSender sender = std::move(channel.sender);
    for (int i = 0; i < 200; ++i) {
      ASSERT_EQ(sender.try_send({widest, false}), SendResult::Sent);
      expected += "{\"down\":false,\"event\":\"key\",\"vk\":4294967295}\n";
    }
  }
  event_pump(std::move(channel.receiver));
  EXPECT_EQ(fake::stdout_text(), expected);
  const auto calls = fake::calls();
  EXPECT_LE(std::count_if(calls.begin(), calls.end(),
                          [](const std::string& c) { return c.starts_with("write_stdout"); }),
            4);
}

}  // namespace
}  // namespace velmora
