#include "keyboard_filter.h"

#include "process_state.h"

namespace velmora {

HookVerdict keyboard_filter(std::int32_t code, std::uint64_t message, std::uint32_t vk) noexcept {
  if (code < 0) return HookVerdict::Pass;
  if (capture_active.load()) {
    if (EventSender* sender = event_sender.load()) {
      // A full queue loses the event: the keystroke must never wait for the parent.
      (void)sender->try_send(KeyEvent{vk, is_key_down_message(message)});
    }
  }
  if (diagnostic_mode.load()) return HookVerdict::Pass;
  // Read afresh: shutdown may have begun since the report.
  return capture_active.load() ? HookVerdict::Swallow : HookVerdict::Pass;
}

}  // namespace velmora
