#include "key_channel.h"

#include <vector>

#include "address_wait.h"

namespace velmora {

// A single-producer, single-consumer ring. `head` and `tail` count events ever taken and
// ever stored, so `tail - head` is the fill level and no slot is ever ambiguous.
// `signal` is bumped on every change the receiver may be waiting for; the receiver
// sleeps on it with address_wait, so the sender only ever bumps and wakes, without a lock.
// `session_locks` counts locks not yet taken; only the receiver decrements it.
struct KeyChannelState {
  explicit KeyChannelState(std::size_t capacity) : slots(capacity) {}

  std::vector<KeyEvent> slots;
  std::atomic<std::uint64_t> head{0};
  std::atomic<std::uint64_t> tail{0};
  std::atomic<std::uint32_t> signal{0};
  std::atomic<std::uint32_t> session_locks{0};
  std::atomic<bool> sender_alive{true};
  std::atomic<bool> receiver_alive{true};
};

KeySender::KeySender(std::shared_ptr<KeyChannelState> state) : state_(std::move(state)) {}

KeySender& KeySender::operator=(KeySender&& other) noexcept {
  if (this != &other) {
    release();
    state_ = std::move(other.state_);
  }
  return *this;
}

KeySender::~KeySender() { release(); }

void KeySender::release() noexcept {
  if (!state_) return;
  state_->sender_alive.store(false);
  state_->signal.fetch_add(1);
  address_wake_one(state_->signal);
  state_.reset();
}

SendResult KeySender::try_send(KeyEvent event) noexcept {
  KeyChannelState& s = *state_;
  if (!s.receiver_alive.load()) return SendResult::Disconnected;
  const std::uint64_t tail = s.tail.load(std::memory_order_relaxed);
  if (tail - s.head.load(std::memory_order_acquire) >= s.slots.size()) return SendResult::Full;
  s.slots[tail % s.slots.size()] = event;
  s.tail.store(tail + 1, std::memory_order_release);
  s.signal.fetch_add(1);
  address_wake_one(s.signal);
  return SendResult::Sent;
}

void KeySender::send_session_lock() noexcept {
  KeyChannelState& s = *state_;
  s.session_locks.fetch_add(1);
  s.signal.fetch_add(1);
  address_wake_one(s.signal);
}

KeyReceiver::KeyReceiver(std::shared_ptr<KeyChannelState> state) : state_(std::move(state)) {}

KeyReceiver& KeyReceiver::operator=(KeyReceiver&& other) noexcept {
  if (this != &other) {
    release();
    state_ = std::move(other.state_);
  }
  return *this;
}

KeyReceiver::~KeyReceiver() { release(); }

void KeyReceiver::release() noexcept {
  if (!state_) return;
  state_->receiver_alive.store(false);
  state_.reset();
}

bool KeyReceiver::take_session_lock() noexcept {
  KeyChannelState& s = *state_;
  // Only this thread decrements, so a count seen above zero stays above zero.
  if (s.session_locks.load() == 0) return false;
  s.session_locks.fetch_sub(1);
  return true;
}

std::optional<ChannelItem> KeyReceiver::receive() {
  KeyChannelState& s = *state_;
  for (;;) {
    // Read the signal before looking at the queue: a send after this read changes it,
    // so the wait below cannot miss that send.
    const std::uint32_t seen = s.signal.load();
    if (take_session_lock()) return ChannelItem{Received::SessionLock, {}};
    if (const std::optional<KeyEvent> event = take_key()) return ChannelItem{Received::Key, *event};
    if (!s.sender_alive.load()) {
      // The sender may have stored one last event or lock before it went.
      if (s.tail.load(std::memory_order_acquire) != s.head.load(std::memory_order_relaxed) ||
          s.session_locks.load() != 0) {
        continue;
      }
      return std::nullopt;
    }
    address_wait(s.signal, seen);
  }
}

std::optional<KeyEvent> KeyReceiver::take_key() noexcept {
  KeyChannelState& s = *state_;
  const std::uint64_t head = s.head.load(std::memory_order_relaxed);
  if (s.tail.load(std::memory_order_acquire) == head) return std::nullopt;
  const KeyEvent event = s.slots[head % s.slots.size()];
  s.head.store(head + 1, std::memory_order_release);
  return event;
}

KeyChannel make_key_channel(std::size_t capacity) {
  auto state = std::make_shared<KeyChannelState>(capacity == 0 ? 1 : capacity);
  return KeyChannel{KeySender(state), KeyReceiver(state)};
}

}  // namespace velmora
