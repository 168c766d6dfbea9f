#include "address_wait.h"

#include <windows.h>
#include <synchapi.h>

namespace velmora {

// WaitOnAddress compares the word with `seen` and sleeps as one step, so a send that
// lands after the caller's read is seen either by the compare or by the wake. libstdc++'s
// std::atomic wait has no such step with mingw-w64: it falls back to a condition variable
// that loses those wakes.
static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));

void address_wait(const std::atomic<std::uint32_t>& word, std::uint32_t seen) noexcept {
  // INFINITE: the only way out is a wake or a spurious return, which the caller rechecks.
  (void)WaitOnAddress(const_cast<std::atomic<std::uint32_t>*>(&word), &seen, sizeof(seen), INFINITE);
}

void address_wake_one(std::atomic<std::uint32_t>& word) noexcept { WakeByAddressSingle(&word); }

}  // namespace velmora
