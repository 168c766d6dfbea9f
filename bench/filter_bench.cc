// Cost of one keyboard-filter call, channel send included: into a queue with room, into
// a queue whose consumer thread sleeps in receive (the send must wake it, as with the
// real pump), and into a full queue (the drop path). Each also shows the filter path
// never allocates.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>

#include "bench_platform.h"
#include "event_channel.h"
#include "keyboard_filter.h"
#include "process_state.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t wm_keydown = 0x0100;
constexpr std::uint64_t wm_keyup = 0x0101;

HookVerdict filter_call(std::uint64_t n) {
  const std::uint64_t message = (n & 1) != 0 ? wm_keyup : wm_keydown;
  return keyboard_filter(0, message, 0x41 + static_cast<std::uint32_t>(n % 26));
}

void publish(EventSender* sender) {
  capture_active.store(true);
  diagnostic_mode.store(false);
  event_sender.store(sender);
}

double seconds(Clock::duration elapsed) { return std::chrono::duration<double>(elapsed).count(); }

// Times `count` filter calls, adding what they allocated and swallowed to the tallies.
struct Tally {
  std::uint64_t allocated = 0;
  std::uint64_t swallowed = 0;
  std::uint64_t calls = 0;
};

void timed_calls(benchmark::State& state, Tally& tally, std::size_t count) {
  const std::uint64_t before = bench::thread_allocations();
  const Clock::time_point start = Clock::now();
  for (std::size_t i = 0; i < count; ++i) {
    tally.swallowed += filter_call(tally.calls++) == HookVerdict::Swallow ? 1 : 0;
  }
  state.SetIterationTime(seconds(Clock::now() - start));
  tally.allocated += bench::thread_allocations() - before;
}

// Reports what the calling thread allocated in the timed part; an allocation fails the run.
void report(benchmark::State& state, std::uint64_t allocated, std::uint64_t swallowed) {
  const double calls = static_cast<double>(state.iterations());
  state.counters["allocations"] = static_cast<double>(allocated);
  state.counters["swallowed_pct"] = calls == 0 ? 0.0 : 100.0 * static_cast<double>(swallowed) / calls;
  state.SetItemsProcessed(state.iterations());
  if (allocated != 0) state.SkipWithError("the keyboard filter allocated");
}

// Batches of 256 calls into an emptied queue, timed per batch; the queue is drained on
// this thread between batches, outside the timing, so every call takes the send path.
void BM_keyboard_filter_send(benchmark::State& state) {
  EventChannel channel = make_event_channel();
  publish(&channel.sender);
  Tally tally;
  for (auto _ : state) {
    timed_calls(state, tally, event_channel_capacity);
    for (std::size_t i = 0; i < event_channel_capacity; ++i) (void)channel.receiver.receive();
  }
  event_sender.store(nullptr);
  report(state, tally.allocated, tally.swallowed / event_channel_capacity);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(event_channel_capacity));
}
BENCHMARK(BM_keyboard_filter_send)->UseManualTime();

// One call at a time while a consumer thread waits in receive, as the pump does between
// key presses; the call is timed alone, then the consumer is given time to go back to
// sleep.
void BM_keyboard_filter_wake_consumer(benchmark::State& state) {
  EventChannel channel = make_event_channel();
  auto sender = std::make_unique<EventSender>(std::move(channel.sender));
  std::atomic<std::uint64_t> received{0};
  std::thread consumer([&received, receiver = std::move(channel.receiver)]() mutable {
    while (receiver.receive()) {
      received.fetch_add(1);
      received.notify_one();
    }
  });
  publish(sender.get());
  Tally tally;
  for (auto _ : state) {
    timed_calls(state, tally, 1);
    for (std::uint64_t seen = received.load(); seen < tally.calls; seen = received.load()) {
      received.wait(seen);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  }
  event_sender.store(nullptr);
  sender.reset();  // ends the consumer's receive
  consumer.join();
  report(state, tally.allocated, tally.swallowed);
}
BENCHMARK(BM_keyboard_filter_wake_consumer)->UseManualTime()->Iterations(5000);

// Nobody receives and the queue is full: every call takes the drop path.
void BM_keyboard_filter_queue_full(benchmark::State& state) {
  EventChannel channel = make_event_channel();
  while (channel.sender.try_send(KeyEvent{0x41, true}) == SendResult::Sent) {
  }
  publish(&channel.sender);
  std::uint64_t swallowed = 0;
  std::uint64_t calls = 0;
  const std::uint64_t before = bench::thread_allocations();
  for (auto _ : state) {
    swallowed += filter_call(calls++) == HookVerdict::Swallow ? 1 : 0;
  }
  const std::uint64_t allocated = bench::thread_allocations() - before;
  event_sender.store(nullptr);
  report(state, allocated, swallowed);
}
BENCHMARK(BM_keyboard_filter_queue_full);

}  // namespace
}  // namespace velmora
