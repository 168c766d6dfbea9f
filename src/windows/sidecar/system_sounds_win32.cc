#include "platform.h"

namespace velmora {

// Placeholder until the Core Audio search lands.
std::optional<bool> set_system_sounds_mute(bool /*mute*/) { return std::nullopt; }

}  // namespace velmora
