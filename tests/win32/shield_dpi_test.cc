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
  const Shields shields = create_shields(GetModuleHandleW(nullptr));
  ASSERT_FALSE(shields.empty()) << GetLastError();
  for (const UniqueShield& shield : shields) {
    const DPI_AWARENESS_CONTEXT context = window_context(shield.get());
    EXPECT_TRUE(equal(context, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) != FALSE ||
                equal(context, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE) != FALSE);
  }
  EXPECT_NE(equal(thread_context(), before), FALSE);
}

// Each shield is exactly its monitor: the shell counts a window as full-screen, and leaves
// the edge swipes off for it, on the monitor it fills.
TEST(ShieldTest, OneShieldPerMonitorExactlyItsSize) {
  const Shields shields = create_shields(GetModuleHandleW(nullptr));
  ASSERT_EQ(shields.size(), static_cast<std::size_t>(GetSystemMetrics(SM_CMONITORS)));
  for (const UniqueShield& shield : shields) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ASSERT_NE(GetMonitorInfoW(MonitorFromWindow(shield.get(), MONITOR_DEFAULTTONULL), &monitor), FALSE);
    RECT window{};
    ASSERT_NE(GetWindowRect(shield.get(), &window), FALSE);
    EXPECT_TRUE(EqualRect(&window, &monitor.rcMonitor) != FALSE);
  }
}

}  // namespace
}  // namespace velmora
