#pragma once

// The system-sounds session search, with its first call behind a seam so the search can
// run against fake COM objects: the platform functions pass CoCreateInstance itself.

#include <windows.h>
#include <objbase.h>

#include <optional>

namespace velmora {

using CreateInstanceFn = HRESULT(STDAPICALLTYPE*)(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                                  LPVOID* out);

// The search behind platform_get_system_sounds_mute (no `mute`: read only) and
// platform_set_system_sounds_mute, with `create_instance` in place of CoCreateInstance.
std::optional<bool> system_sounds_mute_with(CreateInstanceFn create_instance, std::optional<bool> mute);

}  // namespace velmora
