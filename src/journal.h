#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "guard_table.h"

namespace velmora {

// The journal: the record of saved values kept on disk (one value in the user's registry)
// from before the first change until everything is back, so that a run that ends with its
// watcher (a kill of both, a power cut, a blue screen) is put back by the next run. It holds
// saved settings only, never a key.

// A version byte, then the settings record that the watcher reads too.
std::vector<std::uint8_t> encode_journal(const SavedSettings& settings);
// Empty unless the bytes are exactly one journal of this version.
std::optional<SavedSettings> decode_journal(const std::vector<std::uint8_t>& bytes);

// Keeps the record durably, or deletes the journal when there is nothing left to put back.
// A journal that cannot be written is said on standard error, once per run; the run goes on.
void keep_journal(const SavedSettings& settings);
void delete_journal();

// Puts back, in the shutdown order, what a run that never finished left in the journal, and
// deletes it, saying so on standard error; one that does not decode is deleted and said, and
// never applied. Nothing when there is none.
void replay_journal();

}  // namespace velmora
