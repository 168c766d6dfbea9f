#include "system_sounds_win32.h"

#include <windows.h>
#include <audioclient.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "platform.h"

namespace velmora {

namespace {

using Microsoft::WRL::ComPtr;

// The slot of an out-parameter typed for QueryInterface, CoCreateInstance and Activate;
// whatever the owner held is released first, so a live reference is never overwritten.
template <typename T>
void** out_void(ComPtr<T>& owner) {
  return reinterpret_cast<void**>(owner.ReleaseAndGetAddressOf());
}

// A failed call may leave an error object on the thread. Nobody reads it, and left there
// it would outlive the call and be handed to whoever asks next, so take it off at once.
void drop_error_info() {
  ComPtr<IErrorInfo> info;
  (void)GetErrorInfo(0, info.ReleaseAndGetAddressOf());  // S_FALSE, and no object, when nothing is pending.
}

// A COM call fails on a negative HRESULT, and also on a success that hands back no interface.
// The owner is taken by reference and read here, after the call: argument order is
// unspecified, so passing its get() would read the slot before the call filled it.
template <typename T>
bool call_failed(HRESULT result, const ComPtr<T>& handed_back) {
  if (SUCCEEDED(result) && handed_back.Get() != nullptr) return false;
  drop_error_info();
  return true;
}

bool call_failed(HRESULT result) {
  if (SUCCEEDED(result)) return false;
  drop_error_info();
  return true;
}

}  // namespace

// Every ComPtr below is declared in the order its interface is obtained, so leaving the
// function on any path releases them last obtained first.
std::optional<bool> system_sounds_mute_with(CreateInstanceFn create_instance, std::optional<bool> mute) {
  ComPtr<IMMDeviceEnumerator> devices;
  if (call_failed(create_instance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IMMDeviceEnumerator), out_void(devices)),
                  devices)) {
    return std::nullopt;
  }
  ComPtr<IMMDevice> device;
  if (call_failed(devices->GetDefaultAudioEndpoint(eRender, eConsole, device.ReleaseAndGetAddressOf()),
                  device)) {
    return std::nullopt;
  }
  ComPtr<IAudioSessionManager2> manager;
  if (call_failed(
          device->Activate(__uuidof(IAudioSessionManager2), CLSCTX_INPROC_SERVER, nullptr, out_void(manager)),
          manager)) {
    return std::nullopt;
  }
  ComPtr<IAudioSessionEnumerator> sessions;
  if (call_failed(manager->GetSessionEnumerator(sessions.ReleaseAndGetAddressOf()), sessions))
    return std::nullopt;
  int count = 0;
  if (call_failed(sessions->GetCount(&count))) return std::nullopt;

  // The matching session's two interfaces are kept past the loop: they were obtained before
  // the volume interface and must be released after it.
  ComPtr<IAudioSessionControl> found_control;
  ComPtr<IAudioSessionControl2> found;
  for (int i = 0; i < count; ++i) {
    ComPtr<IAudioSessionControl> control;
    if (call_failed(sessions->GetSession(i, control.ReleaseAndGetAddressOf()), control)) continue;
    ComPtr<IAudioSessionControl2> control2;
    if (call_failed(control->QueryInterface(__uuidof(IAudioSessionControl2), out_void(control2)), control2)) {
      continue;
    }
    // Only S_OK means yes; S_FALSE is a successful no.
    const HRESULT system_sounds = control2->IsSystemSoundsSession();
    if (system_sounds == S_OK) {
      // Swapped, not move-assigned: mingw-w64's ComPtr move assignment copies (an AddRef,
      // then a Release of the source), which would release this session early.
      found_control.Swap(control);
      found.Swap(control2);
      break;
    }
    (void)call_failed(system_sounds);
  }
  if (found.Get() == nullptr) return std::nullopt;

  ComPtr<ISimpleAudioVolume> volume;
  if (call_failed(found->QueryInterface(__uuidof(ISimpleAudioVolume), out_void(volume)), volume)) {
    return std::nullopt;
  }
  BOOL was_muted = FALSE;
  if (call_failed(volume->GetMute(&was_muted))) return std::nullopt;
  // A failed SetMute leaves nothing to restore, so the state read is not reported either.
  if (mute && call_failed(volume->SetMute(*mute ? TRUE : FALSE, nullptr))) return std::nullopt;
  return was_muted != FALSE;
}

std::optional<bool> platform_get_system_sounds_mute() {
  return system_sounds_mute_with(&CoCreateInstance, std::nullopt);
}

std::optional<bool> platform_set_system_sounds_mute(bool mute) {
  return system_sounds_mute_with(&CoCreateInstance, mute);
}

}  // namespace velmora
