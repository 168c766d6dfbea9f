#pragma once

#include <atomic>
#include <cstddef>
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

// Events that are counted rather than queued, so none is ever dropped however far behind
// the receiver is. Each has its line in the event stream; a new one is a value here and
// its line there.
enum class CountedEvent : std::uint8_t { SessionLock };
inline constexpr std::size_t counted_event_kinds = 1;

// What the receiver takes off the channel: a keystroke, or one counted event.
enum class Received { Key, Counted };

struct ChannelItem {
  Received kind = Received::Key;
  KeyEvent key;          // only for Received::Key
  CountedEvent counted;  // only for Received::Counted
};

struct EventChannelState;

// Sending end of the event channel. Exactly one thread sends through it at a time:
// the queue is single-producer, which is all the hook thread needs (the keyboard filter
// and the session window procedure both run there).
class EventSender {
 public:
  explicit EventSender(std::shared_ptr<EventChannelState> state);
  EventSender(EventSender&&) noexcept = default;
  EventSender& operator=(EventSender&&) noexcept;
  EventSender(const EventSender&) = delete;
  EventSender& operator=(const EventSender&) = delete;
  ~EventSender();

  // Never waits and never allocates: a full queue or a gone receiver drops the event.
  SendResult try_send(KeyEvent event) noexcept;

  // Counts one event for the receiver. Never waits and never allocates.
  void count(CountedEvent event) noexcept;

 private:
  void release() noexcept;
  std::shared_ptr<EventChannelState> state_;
};

// Receiving end; exactly one thread receives.
class EventReceiver {
 public:
  explicit EventReceiver(std::shared_ptr<EventChannelState> state);
  EventReceiver(EventReceiver&&) noexcept = default;
  EventReceiver& operator=(EventReceiver&&) noexcept;
  EventReceiver(const EventReceiver&) = delete;
  EventReceiver& operator=(const EventReceiver&) = delete;
  ~EventReceiver();

  // Waits without a time limit; empty only once the queue is drained, no counted event is
  // pending and every sender is gone. Pending counted events come before queued keys.
  std::optional<ChannelItem> receive();

  // Takes one pending counted event if there is one; never waits.
  std::optional<CountedEvent> take_counted() noexcept;

  // Takes the next queued key if there is one; never waits.
  std::optional<KeyEvent> take_key() noexcept;

 private:
  void release() noexcept;
  std::shared_ptr<EventChannelState> state_;
};

struct EventChannel {
  EventSender sender;
  EventReceiver receiver;
};

inline constexpr std::size_t event_channel_capacity = 256;

// All storage for `capacity` events is reserved here, so sending never allocates.
EventChannel make_event_channel(std::size_t capacity = event_channel_capacity);

}  // namespace velmora
