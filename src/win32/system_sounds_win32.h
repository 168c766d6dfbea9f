#pragma once

// The system-sounds session search, with its first call behind a seam so the search can
// run against fake COM objects: the platform functions pass CoCreateInstance itself.

#include <windows.h>
#include <objbase.h>

#include <optional>
#include <string>

#include "platform.h"

namespace velmora {

using CreateInstanceFn = HRESULT(STDAPICALLTYPE*)(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                                  LPVOID* out);

// The search behind platform_get_system_sounds_mute (no `mute`: read only) and
// platform_set_system_sounds_mute, with `create_instance` in place of CoCreateInstance: on
// the device with id `device` (IMMDeviceEnumerator::GetDevice; it must be active), or on
// the default playback device when `device` is empty. On success `found` holds the device's
// id and the mute state found before any change. The error of the first call that failed,
// E_NOTFOUND for a device that is gone or a device without a system-sounds session.
HRESULT system_sounds_mute_with(CreateInstanceFn create_instance, const std::u16string& device,
                                std::optional<bool> mute, SoundsMute& found);

}  // namespace velmora
