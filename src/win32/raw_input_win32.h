#pragma once

#include <windows.h>

#include <optional>

#include "keep_in_place_win32.h"

namespace velmora {

// Raw keyboard and mouse input, delivered as WM_INPUT to `window` (the hook thread's
// message-only window) whether or not this process is in the foreground, for as long as
// the registration lives. It tells the keep-in-place rounds that keyboard or mouse input
// reached the system, which a lost hook would not see; touch and pen make none.
class RawInputRegistration {
 public:
  explicit RawInputRegistration(HWND window);
  RawInputRegistration(const RawInputRegistration&) = delete;
  RawInputRegistration& operator=(const RawInputRegistration&) = delete;
  RawInputRegistration(RawInputRegistration&&) = delete;
  RawInputRegistration& operator=(RawInputRegistration&&) = delete;
  ~RawInputRegistration();

  // Whether both classes are registered, and to `window`.
  bool held() const { return held_; }

 private:
  bool held_ = false;
};

// The class of device a WM_INPUT message is from; empty for any other message or type.
std::optional<InputClass> raw_input_class(UINT message, LPARAM lparam);

}  // namespace velmora
