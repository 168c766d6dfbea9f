#include "raw_input_win32.h"

#include <array>

namespace velmora {
namespace {

// HID usage page 1 (generic desktop controls): 2 is the mouse, 6 the keyboard.
constexpr USHORT generic_desktop = 0x01;
constexpr USHORT usage_mouse = 0x02;
constexpr USHORT usage_keyboard = 0x06;

// RIDEV_INPUTSINK delivers input while another process is in the foreground, and needs
// hwndTarget. Registrations are one per class per process: a later one of this process
// would replace it, so the result is read back rather than trusted.
bool registered_to(HWND window) {
  std::array<RAWINPUTDEVICE, 8> devices{};
  UINT count = static_cast<UINT>(devices.size());
  const UINT got = GetRegisteredRawInputDevices(devices.data(), &count, sizeof(RAWINPUTDEVICE));
  if (got == static_cast<UINT>(-1)) return false;
  int ours = 0;
  for (UINT i = 0; i < got; ++i) {
    const RAWINPUTDEVICE& device = devices[i];
    const bool watched = device.usUsagePage == generic_desktop &&
                         (device.usUsage == usage_mouse || device.usUsage == usage_keyboard);
    if (watched && device.hwndTarget == window && (device.dwFlags & RIDEV_INPUTSINK) != 0) ++ours;
  }
  return ours == 2;
}

}  // namespace

RawInputRegistration::RawInputRegistration(HWND window) {
  if (window == nullptr) return;
  const std::array<RAWINPUTDEVICE, 2> devices = {
      RAWINPUTDEVICE{generic_desktop, usage_keyboard, RIDEV_INPUTSINK, window},
      RAWINPUTDEVICE{generic_desktop, usage_mouse, RIDEV_INPUTSINK, window}};
  if (RegisterRawInputDevices(devices.data(), static_cast<UINT>(devices.size()), sizeof(RAWINPUTDEVICE)) ==
      FALSE) {
    return;
  }
  held_ = registered_to(window);
}

RawInputRegistration::~RawInputRegistration() {
  // Removed whether or not the read-back agreed: whatever of it was registered goes.
  const std::array<RAWINPUTDEVICE, 2> devices = {
      RAWINPUTDEVICE{generic_desktop, usage_keyboard, RIDEV_REMOVE, nullptr},
      RAWINPUTDEVICE{generic_desktop, usage_mouse, RIDEV_REMOVE, nullptr}};
  (void)RegisterRawInputDevices(devices.data(), static_cast<UINT>(devices.size()), sizeof(RAWINPUTDEVICE));
}

std::optional<InputClass> raw_input_class(UINT message, LPARAM lparam) {
  if (message != WM_INPUT) return std::nullopt;
  RAWINPUTHEADER header{};
  UINT size = sizeof(header);
  if (GetRawInputData(reinterpret_cast<HRAWINPUT>(lparam), RID_HEADER, &header, &size, sizeof(header)) !=
      sizeof(header)) {
    return std::nullopt;
  }
  if (header.dwType == RIM_TYPEKEYBOARD) return InputClass::Keyboard;
  if (header.dwType == RIM_TYPEMOUSE) return InputClass::Mouse;
  return std::nullopt;
}

}  // namespace velmora
