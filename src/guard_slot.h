#pragma once

#include <mutex>
#include <optional>

namespace velmora {

// A saved setting: empty until an apply operation fills it, emptied again when the
// restore operation takes the value out, so a second restore finds nothing to do.
template <typename T>
struct GuardSlot {
  std::mutex lock;
  std::optional<T> value;  // guarded by lock
};

}  // namespace velmora
