#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "guard_table.h"
#include "journal_record.h"

namespace velmora {

// The journal: the record of saved values kept on disk (one value in the user's registry
// per machine) from before the first change until everything is back, so that a run that
// ends with its watcher (a kill of both, a power cut, a blue screen) is put back by the next
// run. It holds saved settings only, never a key. What a restore could not put back stays
// in it, owed, until a later run can.

// Keeps the record durably, or deletes the journal when there is nothing left to put back.
// A journal that cannot be written is said on standard error, once per run; the run goes on.
void keep_journal(const SavedSettings& settings);
// Deletes it, once whatever was put back has reached the disk.
void delete_journal();

// Puts back leftovers: each value only where the system still holds what the lock wrote
// (said where the user changed it since), in the shutdown order; then keeps in the journal
// only what is still owed, or deletes it. The slots are fresh afterwards, apart from what is
// owed, so that a run can take a whole lock of its own.
void put_back_leftovers(const SavedSettings& settings);

// Puts back what a run that never finished left in the journal, saying so on standard
// error; one that does not decode is deleted and said, and never applied; one of another
// machine is left alone. Nothing when there is none. A journal of a newer sidecar is neither
// applied nor deleted: the run is refused with status 101.
void replay_journal();

}  // namespace velmora
