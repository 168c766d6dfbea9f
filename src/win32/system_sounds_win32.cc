#include "system_sounds_win32.h"

#include <windows.h>
#include <audioclient.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <memory>
#include <string>

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

// What a failed call is reported as: its own error, or, for a success that handed back no
// interface, E_POINTER.
HRESULT failure_of(HRESULT result) { return FAILED(result) ? result : E_POINTER; }

constexpr HRESULT not_found = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

// A string the callee allocated with CoTaskMemAlloc, freed once.
struct TaskMemFree {
  void operator()(wchar_t* text) const noexcept { CoTaskMemFree(text); }
};
using TaskString = std::unique_ptr<wchar_t, TaskMemFree>;

std::u16string to_u16(const wchar_t* text) {
  std::u16string out;
  for (; text != nullptr && *text != L'\0'; ++text) out.push_back(static_cast<char16_t>(*text));
  return out;
}

// The device the mute was taken from, only while it is plugged in and enabled; or the
// default playback device, with its id.
HRESULT open_device(IMMDeviceEnumerator* devices, const std::u16string& id, ComPtr<IMMDevice>& device,
                    std::u16string& found_id) {
  if (!id.empty()) {
    const std::wstring wide(id.begin(), id.end());
    HRESULT result = devices->GetDevice(wide.c_str(), device.ReleaseAndGetAddressOf());
    if (call_failed(result, device)) return failure_of(result);
    DWORD state = 0;
    result = device->GetState(&state);
    if (call_failed(result)) return result;
    if (state != DEVICE_STATE_ACTIVE) return not_found;
    found_id = id;
    return S_OK;
  }
  HRESULT result = devices->GetDefaultAudioEndpoint(eRender, eConsole, device.ReleaseAndGetAddressOf());
  if (call_failed(result, device)) return failure_of(result);
  wchar_t* text = nullptr;
  result = device->GetId(&text);
  const TaskString owner(text);
  if (call_failed(result) || text == nullptr) return failure_of(result);
  found_id = to_u16(text);
  return S_OK;
}

}  // namespace

// Every ComPtr below is declared in the order its interface is obtained, so leaving the
// function on any path releases them last obtained first.
HRESULT system_sounds_mute_with(CreateInstanceFn create_instance, const std::u16string& device_id,
                                std::optional<bool> mute, SoundsMute& found) {
  ComPtr<IMMDeviceEnumerator> devices;
  HRESULT result = create_instance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                   __uuidof(IMMDeviceEnumerator), out_void(devices));
  if (call_failed(result, devices)) return failure_of(result);
  ComPtr<IMMDevice> device;
  std::u16string id;
  result = open_device(devices.Get(), device_id, device, id);
  if (FAILED(result)) return result;
  ComPtr<IAudioSessionManager2> manager;
  result =
      device->Activate(__uuidof(IAudioSessionManager2), CLSCTX_INPROC_SERVER, nullptr, out_void(manager));
  if (call_failed(result, manager)) return failure_of(result);
  ComPtr<IAudioSessionEnumerator> sessions;
  result = manager->GetSessionEnumerator(sessions.ReleaseAndGetAddressOf());
  if (call_failed(result, sessions)) return failure_of(result);
  int count = 0;
  result = sessions->GetCount(&count);
  if (call_failed(result)) return result;

  // The matching session's two interfaces are kept past the loop: they were obtained before
  // the volume interface and must be released after it.
  ComPtr<IAudioSessionControl> found_control;
  ComPtr<IAudioSessionControl2> session;
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
      session.Swap(control2);
      break;
    }
    (void)call_failed(system_sounds);
  }
  if (session.Get() == nullptr) return not_found;

  ComPtr<ISimpleAudioVolume> volume;
  result = session->QueryInterface(__uuidof(ISimpleAudioVolume), out_void(volume));
  if (call_failed(result, volume)) return failure_of(result);
  BOOL was_muted = FALSE;
  result = volume->GetMute(&was_muted);
  if (call_failed(result)) return result;
  // A failed SetMute leaves nothing to restore, so the state read is not reported either.
  if (mute) {
    result = volume->SetMute(*mute ? TRUE : FALSE, nullptr);
    if (call_failed(result)) return result;
  }
  found = SoundsMute{std::move(id), was_muted != FALSE};
  return S_OK;
}

std::optional<SoundsMute> platform_get_system_sounds_mute() {
  SoundsMute found;
  if (FAILED(system_sounds_mute_with(&CoCreateInstance, u"", std::nullopt, found))) return std::nullopt;
  return found;
}

std::uint32_t platform_set_system_sounds_mute(const std::u16string& device, bool mute, bool* was_muted) {
  SoundsMute found;
  const HRESULT result = system_sounds_mute_with(&CoCreateInstance, device, mute, found);
  if (FAILED(result)) return static_cast<std::uint32_t>(result);
  *was_muted = found.muted;
  return 0;
}

}  // namespace velmora
