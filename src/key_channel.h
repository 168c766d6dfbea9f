#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace velmora {

// One keystroke as the keyboard filter saw it.
struct KeyEvent {
  std::uint32_t vk = 0;
  bool down = false;
};

enum class SendResult { Sent, Full, Disconnected };

// What the receiver takes off the channel: a keystroke, or one session lock.
enum class Received { Key, SessionLock };

struct ChannelItem {
  Received kind = Received::Key;
  KeyEvent key;  // only for Received::Key
};

struct KeyChannelState;

// Sending end of the key-event channel. Exactly one thread sends through it at a time:
// the queue is single-producer, which is all the hook thread needs (the keyboard filter
// and the session window procedure both run there).
class KeySender {
 public:
  explicit KeySender(std::shared_ptr<KeyChannelState> state);
  KeySender(KeySender&&) noexcept = default;
  KeySender& operator=(KeySender&&) noexcept;
  KeySender(const KeySender&) = delete;
  KeySender& operator=(const KeySender&) = delete;
  ~KeySender();

  // Never waits and never allocates: a full queue or a gone receiver drops the event.
  SendResult try_send(KeyEvent event) noexcept;

  // Counts one session lock for the receiver. A count, not a queue slot: a lock is never
  // dropped, however far behind the receiver is. Never waits and never allocates.
  void send_session_lock() noexcept;

 private:
  void release() noexcept;
  std::shared_ptr<KeyChannelState> state_;
};

// Receiving end; exactly one thread receives.
class KeyReceiver {
 public:
  explicit KeyReceiver(std::shared_ptr<KeyChannelState> state);
  KeyReceiver(KeyReceiver&&) noexcept = default;
  KeyReceiver& operator=(KeyReceiver&&) noexcept;
  KeyReceiver(const KeyReceiver&) = delete;
  KeyReceiver& operator=(const KeyReceiver&) = delete;
  ~KeyReceiver();

  // Waits without a time limit; empty only once the queue is drained, no session lock is
  // pending and every sender is gone. Pending session locks come before queued keys.
  std::optional<ChannelItem> receive();

  // Takes one pending session lock if there is one; never waits.
  bool take_session_lock() noexcept;

  // Takes the next queued key if there is one; never waits.
  std::optional<KeyEvent> take_key() noexcept;

 private:
  void release() noexcept;
  std::shared_ptr<KeyChannelState> state_;
};

struct KeyChannel {
  KeySender sender;
  KeyReceiver receiver;
};

inline constexpr std::size_t key_channel_capacity = 256;

// All storage for `capacity` events is reserved here, so sending never allocates.
KeyChannel make_key_channel(std::size_t capacity = key_channel_capacity);

}  // namespace velmora
