#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "guard_table.h"
#include "platform.h"

namespace velmora {

// The journal: the record of saved values kept on disk (one value in the user's registry
// per machine) from before the first change until everything is back, so that a run that
// ends with its watcher (a kill of both, a power cut, a blue screen) is put back by the next
// run. It holds saved settings only, never a key. What a restore could not put back stays
// in it, owed, until a later run can.

// A version byte, the machine it was written on, then the settings record's body.
std::vector<std::uint8_t> encode_journal(const MachineId& machine, const SavedSettings& settings);

enum class JournalKind : std::uint8_t {
  Ours,         // this machine's, or from the first version, which kept no machine
  OtherMachine, // carried here in a roaming profile: never applied, never deleted here
  Newer,        // written by a newer sidecar: never applied, never deleted by this one
  Undecodable,
};
struct DecodedJournal {
  JournalKind kind = JournalKind::Undecodable;
  std::optional<MachineId> machine;  // empty for the first version
  SavedSettings settings;            // only for Ours and OtherMachine
};
DecodedJournal decode_journal(const std::vector<std::uint8_t>& bytes, const MachineId& this_machine);

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
