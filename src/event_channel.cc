#include "event_channel.h"

#include <array>
#include <vector>

#include "address_wait.h"

namespace velmora {

// A single-producer, single-consumer ring. `head` and `tail` count events ever taken and
// ever stored, so `tail - head` is the fill level and no slot is ever ambiguous.
// `signal` is bumped on every change the receiver may be waiting for; the receiver
// sleeps on it with address_wait, so the sender only ever bumps and wakes, without a lock.
// `counts` holds, per counted event, how many the receiver has not taken yet; only the
// receiver decrements them.
struct EventChannelState {
  explicit EventChannelState(std::size_t capacity) : slots(capacity) {}

  std::vector<KeyEvent> slots;
  std::atomic<std::uint64_t> head{0};
  std::atomic<std::uint64_t> tail{0};
  std::atomic<std::uint32_t> signal{0};
  std::array<std::atomic<std::uint32_t>, counted_event_kinds> counts{};
  std::atomic<bool> sender_alive{true};
  std::atomic<bool> receiver_alive{true};
};

namespace {

bool any_counted(const EventChannelState& s) {
  for (const auto& count : s.counts) {
    if (count.load() != 0) return true;
  }
  return false;
}

}  // namespace

EventSender::EventSender(std::shared_ptr<EventChannelState> state) : state_(std::move(state)) {}

EventSender& EventSender::operator=(EventSender&& other) noexcept {
  if (this != &other) {
    release();
    state_ = std::move(other.state_);
  }
  return *this;
}

EventSender::~EventSender() { release(); }

void EventSender::release() noexcept {
  if (!state_) return;
  state_->sender_alive.store(false);
  state_->signal.fetch_add(1);
  address_wake_one(state_->signal);
  state_.reset();
}

SendResult EventSender::try_send(KeyEvent event) noexcept {
  EventChannelState& s = *state_;
  if (!s.receiver_alive.load()) return SendResult::Disconnected;
  const std::uint64_t tail = s.tail.load(std::memory_order_relaxed);
  if (tail - s.head.load(std::memory_order_acquire) >= s.slots.size()) return SendResult::Full;
  s.slots[tail % s.slots.size()] = event;
  s.tail.store(tail + 1, std::memory_order_release);
  s.signal.fetch_add(1);
  address_wake_one(s.signal);
  return SendResult::Sent;
}

void EventSender::count(CountedEvent event) noexcept {
  EventChannelState& s = *state_;
  s.counts[static_cast<std::size_t>(event)].fetch_add(1);
  s.signal.fetch_add(1);
  address_wake_one(s.signal);
}

EventReceiver::EventReceiver(std::shared_ptr<EventChannelState> state) : state_(std::move(state)) {}

EventReceiver& EventReceiver::operator=(EventReceiver&& other) noexcept {
  if (this != &other) {
    release();
    state_ = std::move(other.state_);
  }
  return *this;
}

EventReceiver::~EventReceiver() { release(); }

void EventReceiver::release() noexcept {
  if (!state_) return;
  state_->receiver_alive.store(false);
  state_.reset();
}

std::optional<CountedEvent> EventReceiver::take_counted() noexcept {
  EventChannelState& s = *state_;
  for (std::size_t kind = 0; kind < counted_event_kinds; ++kind) {
    // Only this thread decrements, so a count seen above zero stays above zero.
    if (s.counts[kind].load() == 0) continue;
    s.counts[kind].fetch_sub(1);
    return static_cast<CountedEvent>(kind);
  }
  return std::nullopt;
}

std::optional<ChannelItem> EventReceiver::receive() {
  EventChannelState& s = *state_;
  for (;;) {
    // Read the signal before looking at the queue: a send after this read changes it,
    // so the wait below cannot miss that send.
    const std::uint32_t seen = s.signal.load();
    if (const std::optional<CountedEvent> counted = take_counted()) {
      return ChannelItem{Received::Counted, {}, *counted};
    }
    if (const std::optional<KeyEvent> event = take_key()) return ChannelItem{Received::Key, *event, {}};
    if (!s.sender_alive.load()) {
      // The sender may have stored one last event before it went.
      if (s.tail.load(std::memory_order_acquire) != s.head.load(std::memory_order_relaxed) ||
          any_counted(s)) {
        continue;
      }
      return std::nullopt;
    }
    address_wait(s.signal, seen);
  }
}

std::optional<KeyEvent> EventReceiver::take_key() noexcept {
  EventChannelState& s = *state_;
  const std::uint64_t head = s.head.load(std::memory_order_relaxed);
  if (s.tail.load(std::memory_order_acquire) == head) return std::nullopt;
  const KeyEvent event = s.slots[head % s.slots.size()];
  s.head.store(head + 1, std::memory_order_release);
  return event;
}

EventChannel make_event_channel(std::size_t capacity) {
  auto state = std::make_shared<EventChannelState>(capacity == 0 ? 1 : capacity);
  return EventChannel{EventSender(state), EventReceiver(state)};
}

}  // namespace velmora
