#pragma once

#include <mutex>
#include <optional>
#include <utility>

namespace velmora {

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
