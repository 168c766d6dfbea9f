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

struct KeyCloser {
  void operator()(HKEY key) const noexcept { (void)RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// A wait registered with RegisterWaitForSingleObject; cancelled without waiting for a
// callback under way, which must therefore not need what its canceller holds.
struct WaitCanceller {
  void operator()(HANDLE wait) const noexcept { (void)UnregisterWaitEx(wait, nullptr); }
};
using UniqueWait = std::unique_ptr<void, WaitCanceller>;

}  // namespace velmora
