#pragma once

// Owner of one COM interface pointer: releases it exactly once. Copies are deleted, so
// nothing is released twice; a move leaves the source empty; put() releases what was held
// before handing out the slot, so an out-parameter never overwrites a live reference.

#include <unknwn.h>

#include <utility>

namespace velmora {

template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  void reset() noexcept {
    if (T* held = std::exchange(ptr_, nullptr)) {
      (void)held->Release();  // The remaining count is of no use to the owner.
    }
  }

  // The slot for an out-parameter, emptied first.
  T** put() noexcept {
    reset();
    return &ptr_;
  }
  // The same slot typed for QueryInterface, CoCreateInstance and Activate.
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

 private:
  T* ptr_ = nullptr;
};

}  // namespace velmora
