#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

namespace velmora {

// A live run puts back every value it saved. Leftovers (a journal found at the start, the
// watcher's restore after a kill) may come long after the lock, after a reboot, after the
// user chose again: each is put back only where the system still holds exactly what the
// lock wrote; anything else the user chose since, and it stays, said on standard error.
// Either way a restore that fails keeps its value in the slot, owed, and says so.
enum class RestoreMode : std::uint8_t { Live, Leftover };

// A saved setting: empty until an apply operation puts the value it found, emptied again
// when the restore operation takes it out, so a second restore finds nothing to do. The
// lock is held only to move the value in or out, never across a system call.
template <typename T>
class GuardSlot {
 public:
  void put(T value) {
    const std::lock_guard<std::mutex> hold(lock_);
    value_ = std::move(value);
  }

  std::optional<T> take() {
    const std::lock_guard<std::mutex> hold(lock_);
    return std::exchange(value_, std::nullopt);
  }

  std::optional<T> peek() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return value_;
  }

 private:
  mutable std::mutex lock_;
  std::optional<T> value_;  // guarded by lock_
};

}  // namespace velmora
