// The Windows side of the seam's touch calls: the precision touchpad's settings, the touch
// digitizer, the shell's edge-swipe property on a window, and the foreground window.

#include <windows.h>
#include <objbase.h>
#include <propsys.h>
#include <shellapi.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "edge_swipes.h"
#include "missing_declarations_win32.h"
#include "platform.h"

namespace velmora {

static_assert(NID_INTEGRATED_TOUCH == nid_integrated_touch && NID_EXTERNAL_TOUCH == nid_external_touch &&
              NID_READY == nid_ready);

namespace {

HWND as_window(std::uint64_t number) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(number)); }

// The system's own version: GetVersionExW answers what the manifest declares, and this
// one declares no supported OS. RtlGetVersion is looked up, as ntdll does not export it
// through a documented import library here.
bool windows_build_at_least(DWORD build) {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  const auto get_version =
      reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (get_version == nullptr) return false;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (get_version(&info) != 0) return false;
  return info.dwMajorVersion > 10 || (info.dwMajorVersion == 10 && info.dwBuildNumber >= build);
}

// Windows 11 24H2, where SPI_GETTOUCHPADPARAMETERS begins.
constexpr DWORD touchpad_parameters_build = 26100;

std::optional<TouchpadParameters> read_touchpad_parameters() {
  if (!windows_build_at_least(touchpad_parameters_build)) return std::nullopt;
  TouchpadParameters parameters{};
  parameters.versionNumber = touchpad_parameters_version_1;
  if (SystemParametersInfoW(spi_get_touchpad_parameters, sizeof(parameters), &parameters, 0) == FALSE) {
    return std::nullopt;
  }
  return parameters;
}

using SHGetPropertyStoreForWindowFn = HRESULT(WINAPI*)(HWND, REFIID, void**);

// Looked up at run time, and only on a machine with a touch screen: shell32 is not among
// the sidecar's imports, and Wine's property store for a window is a stub.
SHGetPropertyStoreForWindowFn find_window_property_store() {
  const HMODULE shell32 = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (shell32 == nullptr) return nullptr;
  return reinterpret_cast<SHGetPropertyStoreForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(shell32, "SHGetPropertyStoreForWindow")));
}

// Releases a COM pointer once.
struct ComReleaser {
  void operator()(IUnknown* object) const noexcept { (void)object->Release(); }
};

// A single-threaded apartment on the calling thread while it lives, where one was entered.
class ComApartment {
 public:
  ComApartment() : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ComApartment(ComApartment&&) = delete;
  ComApartment& operator=(ComApartment&&) = delete;
  ~ComApartment() {
    if (entered_) CoUninitialize();
  }

 private:
  bool entered_;
};

}  // namespace

std::optional<TouchpadSettings> platform_get_touchpad_settings() {
  const std::optional<TouchpadParameters> parameters = read_touchpad_parameters();
  if (!parameters) return std::nullopt;
  TouchpadSettings settings;
  settings.present = parameters->touchpadPresent != 0;
  settings.tap = parameters->tapEnabled != 0;
  settings.tap_and_drag = parameters->tapAndDragEnabled != 0;
  settings.two_finger_tap = parameters->twoFingerTapEnabled != 0;
  settings.right_click_zone = parameters->rightClickZoneEnabled != 0;
  settings.pan = parameters->panEnabled != 0;
  settings.zoom = parameters->zoomEnabled != 0;
  return settings;
}

bool platform_set_touchpad_settings(const TouchpadSettings& settings) {
  // Everything else (sensitivity, cursor speed, the zone's size) is written back as it is now.
  std::optional<TouchpadParameters> parameters = read_touchpad_parameters();
  if (!parameters) return false;
  parameters->versionNumber = touchpad_parameters_version_1;
  parameters->tapEnabled = settings.tap ? 1 : 0;
  parameters->tapAndDragEnabled = settings.tap_and_drag ? 1 : 0;
  parameters->twoFingerTapEnabled = settings.two_finger_tap ? 1 : 0;
  parameters->rightClickZoneEnabled = settings.right_click_zone ? 1 : 0;
  parameters->panEnabled = settings.pan ? 1 : 0;
  parameters->zoomEnabled = settings.zoom ? 1 : 0;
  return SystemParametersInfoW(spi_set_touchpad_parameters, sizeof(*parameters), &*parameters, 0) != FALSE;
}

std::uint32_t platform_digitizer_status() {
  return static_cast<std::uint32_t>(GetSystemMetrics(SM_DIGITIZER));
}

bool platform_set_edge_swipes_blocked(std::uint64_t window, bool blocked) {
  static const SHGetPropertyStoreForWindowFn get_store = find_window_property_store();
  if (get_store == nullptr) return false;
  const ComApartment apartment;
  IPropertyStore* raw_store = nullptr;
  if (FAILED(get_store(as_window(window), __uuidof(IPropertyStore), reinterpret_cast<void**>(&raw_store))) ||
      raw_store == nullptr) {
    return false;
  }
  const std::unique_ptr<IPropertyStore, ComReleaser> store(raw_store);
  PROPVARIANT value{};
  if (blocked) {
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
  }  // else VT_EMPTY: the property is removed
  return SUCCEEDED(store->SetValue(pkey_edge_gesture_disable_touch_when_fullscreen, value));
}

std::uint64_t platform_foreground_window() { return reinterpret_cast<std::uintptr_t>(GetForegroundWindow()); }

void platform_set_foreground_window(std::uint64_t window) { (void)SetForegroundWindow(as_window(window)); }

bool platform_window_answers(std::uint64_t window) {
  const HWND handle = as_window(window);
  return IsWindow(handle) != FALSE && IsHungAppWindow(handle) == FALSE;
}

}  // namespace velmora
