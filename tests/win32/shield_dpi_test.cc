#include <windows.h>

#include <gtest/gtest.h>

#include "shield_win32.h"

namespace velmora {
namespace {

using GetWindowContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)(HWND);
using GetThreadContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)();
using ContextsEqualFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT);

template <typename Fn>
Fn find_user32(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// One DPI-unaware window gets one scale factor; only a per-monitor-aware shield covers
// every physical pixel of monitors of mixed DPI. The thread that made it (here, like the
// hook thread, DPI-unaware as its process) keeps its own awareness.
TEST(ShieldTest, ShieldIsPerMonitorAwareAndTheThreadIsNot) {
  const auto window_context = find_user32<GetWindowContextFn>("GetWindowDpiAwarenessContext");
  const auto thread_context = find_user32<GetThreadContextFn>("GetThreadDpiAwarenessContext");
  const auto equal = find_user32<ContextsEqualFn>("AreDpiAwarenessContextsEqual");
  if (window_context == nullptr || thread_context == nullptr || equal == nullptr) {
    GTEST_SKIP() << "no DPI awareness contexts before Windows 10 1607";
  }
  const DPI_AWARENESS_CONTEXT before = thread_context();
  const UniqueShield shield = create_shield(GetModuleHandleW(nullptr));
  ASSERT_TRUE(shield) << GetLastError();
  const DPI_AWARENESS_CONTEXT context = window_context(shield.get());
  EXPECT_TRUE(equal(context, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) != FALSE ||
              equal(context, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE) != FALSE);
  EXPECT_NE(equal(thread_context(), before), FALSE);
}

}  // namespace
}  // namespace velmora
