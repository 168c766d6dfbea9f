// The hook thread's own report when a part of the lock cannot be made: the driver turns it
// into status 102 without `ready`, so a thread that carried on without its shield would
// announce a lock over an uncovered screen.

#include "hook_thread_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "process_state.h"
#include "shield_win32.h"

namespace velmora {
namespace {

// Registered under the shield's class name before the thread runs, so every shield it tries
// to make is refused at WM_NCCREATE, as the system refuses a window it cannot make.
LRESULT CALLBACK refuse_creation(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) return FALSE;
  return DefWindowProcW(window, message, w, l);
}

TEST(HookThread, ShieldThatCannotBeMadeIsReportedAndTheThreadEnds) {
  const HINSTANCE module = GetModuleHandleW(nullptr);
  WNDCLASSEXW refusing{};
  refusing.cbSize = sizeof(refusing);
  refusing.lpfnWndProc = refuse_creation;
  refusing.hInstance = module;
  refusing.lpszClassName = shield_window_class;
  ASSERT_NE(RegisterClassExW(&refusing), 0);
  diagnostic_mode.store(false);

  std::promise<HookThreadReport> sender;
  std::future<HookThreadReport> report = sender.get_future();
  std::thread thread(hook_thread_body, std::move(sender));
  ASSERT_EQ(report.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const HookThreadReport got = report.get();
  thread.join();
  EXPECT_EQ(got.thread_id, 0u);
  ASSERT_TRUE(got.failure.has_value()) << "a lock claimed without a shield";
  EXPECT_EQ(got.failure->part, HookThreadPart::Shield);
  EXPECT_TRUE(UnregisterClassW(shield_window_class, module) != FALSE);
}

}  // namespace
}  // namespace velmora
