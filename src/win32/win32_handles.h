#pragma once

// Owners for the Windows handles and registrations the sidecar holds. Each closes what it
// owns exactly once; copies are deleted so nothing is closed twice.

#include <windows.h>

#include <memory>
#include <type_traits>

namespace velmora {

struct HookCloser {
  void operator()(HHOOK hook) const noexcept { (void)UnhookWindowsHookEx(hook); }
};
using UniqueHook = std::unique_ptr<std::remove_pointer_t<HHOOK>, HookCloser>;

struct WindowCloser {
  void operator()(HWND window) const noexcept { (void)DestroyWindow(window); }
};
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowCloser>;

struct HandleCloser {
  void operator()(HANDLE handle) const noexcept { (void)CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

}  // namespace velmora
