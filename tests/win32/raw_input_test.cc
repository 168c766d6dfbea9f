#include <windows.h>

#include <gtest/gtest.h>

#include "raw_input_win32.h"
#include "win32_handles.h"

namespace velmora {
namespace {

UINT registered_count() {
  UINT count = 0;
  (void)GetRegisteredRawInputDevices(nullptr, &count, sizeof(RAWINPUTDEVICE));
  return count;
}

// The lost-hook signal rests on raw input reaching the hook thread's message-only window
// with the input sink on: the registration holds, is this process's only one for the two
// classes, and is gone with its owner.
TEST(RawInputTest, RegisteredToTheMessageOnlyWindowAndRemovedAfter) {
  const UniqueWindow window(
      CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
  ASSERT_TRUE(window) << GetLastError();
  {
    const RawInputRegistration registration(window.get());
    EXPECT_TRUE(registration.held());
    EXPECT_EQ(registered_count(), 2U);
  }
  EXPECT_EQ(registered_count(), 0U);
  EXPECT_FALSE(RawInputRegistration(nullptr).held());
  EXPECT_EQ(raw_input_class(WM_KEYDOWN, 0), std::nullopt);
}

}  // namespace
}  // namespace velmora
