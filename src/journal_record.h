#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "guard_table.h"
#include "platform.h"

namespace velmora {

// The journal's bytes, apart from where they are kept: what any program may have left in the
// registry is read here, so nothing in it is trusted.

// A version byte, the machine it was written on, then the settings record's body.
std::vector<std::uint8_t> encode_journal(const MachineId& machine, const SavedSettings& settings);

enum class JournalKind : std::uint8_t {
  Ours,          // this machine's, or from the first version, which kept no machine
  OtherMachine,  // carried here in a roaming profile: never applied, never deleted here
  Newer,         // written by a newer sidecar: never applied, never deleted by this one
  Undecodable,
};
struct DecodedJournal {
  JournalKind kind = JournalKind::Undecodable;
  std::optional<MachineId> machine;  // empty for the first version
  SavedSettings settings;            // only for Ours and OtherMachine
};
DecodedJournal decode_journal(const std::vector<std::uint8_t>& bytes, const MachineId& this_machine);

}  // namespace velmora
