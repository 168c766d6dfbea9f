#include "address_wait.h"

namespace velmora {

// Only for builds whose libstdc++ has a platform wait (a futex on Linux): the mingw
// build's fallback loses wakes, which is why Windows has its own file.
void address_wait(const std::atomic<std::uint32_t>& word, std::uint32_t seen) noexcept { word.wait(seen); }

void address_wake_one(std::atomic<std::uint32_t>& word) noexcept { word.notify_one(); }

}  // namespace velmora
