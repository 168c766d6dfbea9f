#pragma once

// The system-sounds session search, with its first call behind a seam so the search can
// run against fake COM objects: set_system_sounds_mute passes CoCreateInstance itself.

#include <windows.h>
#include <objbase.h>

#include <optional>

namespace velmora {

using CreateInstanceFn = HRESULT(STDAPICALLTYPE*)(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                                  LPVOID* out);

// set_system_sounds_mute with `create_instance` in place of CoCreateInstance.
std::optional<bool> set_system_sounds_mute_with(CreateInstanceFn create_instance, bool mute);

}  // namespace velmora
