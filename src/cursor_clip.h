#pragma once

#include <cstdint>
#include <mutex>

#include "guard_slot.h"

namespace velmora {

// The cursor is taken at most once and given back at most once, by whichever thread comes
// first: the main thread at shutdown or the end of the session on the hook thread. Once
// given back it is never taken again, even by a confinement that comes late. Saved: in the
// record of what is to be put back, but not confined yet, so that nothing (the keep-in-place
// timer, say) clips it before the watcher and the journal know of it.
enum class CursorHold : std::uint8_t { Free, Saved, Confined, GivenBack };
struct CursorSlot {
  std::mutex lock;
  CursorHold hold = CursorHold::Free;  // guarded by lock
};
extern CursorSlot cursor_slot;

// Marks the cursor as to be confined, before anything is clipped, so that a restore from
// that moment on frees it.
void save_cursor();
// Forgets a save whose change was never made.
void discard_cursor();
// The change: takes the saved cursor and confines it.
void take_cursor();
// Pins the cursor to the centre pixel of the primary display, if it is still to be held.
// Hiding it is the shield's work: the show count belongs to the thread that owns the
// window under the pointer, and the main thread owns none.
void confine_cursor();
// Confines the cursor again when the clip is no longer the centre pixel (another program
// or a focus change freed or moved it, the display changed), while it is still to be held.
// Never once the release has begun.
void keep_cursor_confined();
// A live run's release: frees the cursor, and it is never taken again in this process. A
// leftover's: frees it only where the clip is still the lock's centre pixel, and leaves the
// cursor free to be taken by the run that replayed it.
void release_cursor(RestoreMode mode);

}  // namespace velmora
