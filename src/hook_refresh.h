#pragma once

#include <utility>

namespace velmora {

// Replaces the hook that `held` owns by a fresh one from `install`: the fresh hook is in
// place before the old one is removed (an owner's move assignment stores the new handle
// before it closes the old), so there is never a moment without one. When no fresh hook
// can be had, the old one is kept. True when the hook was replaced.
//
// A system that silently removed the old hook (one that timed out, say) leaves `held` with
// a stale handle; closing it then fails, which is harmless.
template <typename Owner, typename Install>
bool refresh_hook(Owner& held, Install install) {
  Owner fresh(install());
  if (!fresh) return false;
  held = std::move(fresh);
  return true;
}

}  // namespace velmora
