#include "process_state.h"

namespace velmora {

std::atomic<bool> capture_active{true};
std::atomic<bool> diagnostic_mode{false};
std::atomic<EventSender*> event_sender{nullptr};
std::atomic<bool> session_ending{false};
std::atomic<bool> command_loop_started{false};
std::atomic<bool> command_loop_ended{false};

}  // namespace velmora
