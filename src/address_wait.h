#pragma once

#include <atomic>
#include <cstdint>

namespace velmora {

// Sleep and wake on a 32-bit word, for the one place that blocks between key presses.
// The check of the word and the sleep are one step, so a wake after the caller read
// `seen` is never lost; and the wake takes no lock, so the hook thread can call it.
// Windows uses WaitOnAddress; elsewhere std::atomic's wait, a futex on Linux.

// Returns once `word` may differ from `seen`; may also return spuriously.
void address_wait(const std::atomic<std::uint32_t>& word, std::uint32_t seen) noexcept;

// Wakes one thread sleeping in address_wait on `word`, if any.
void address_wake_one(std::atomic<std::uint32_t>& word) noexcept;

}  // namespace velmora
