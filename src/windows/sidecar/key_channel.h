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

struct KeyChannelState;

// Sending end of the key-event channel. Exactly one thread sends through it at a time:
// the queue is single-producer, which is all the keyboard filter needs.
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

  // Waits without a time limit; empty only once the queue is drained and every
  // sender is gone.
  std::optional<KeyEvent> receive();

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
