#include "journal_record.h"

#include <algorithm>

#include "watcher_protocol.h"

namespace velmora {
namespace {

// 1: the settings record as the watcher's pipe carried it, fixed size. 2: the machine, then
// a body whose mute names its device.
constexpr std::uint8_t first_version = 1;
constexpr std::uint8_t journal_version = 2;

DecodedJournal undecodable() { return DecodedJournal{}; }

}  // namespace

std::vector<std::uint8_t> encode_journal(const MachineId& machine, const SavedSettings& settings) {
  std::vector<std::uint8_t> bytes{journal_version};
  bytes.insert(bytes.end(), machine.begin(), machine.end());
  encode_settings_body(settings, bytes);
  return bytes;
}

DecodedJournal decode_journal(const std::vector<std::uint8_t>& bytes, const MachineId& this_machine) {
  if (bytes.empty()) return undecodable();
  DecodedJournal journal;
  std::optional<SavedSettings> settings;
  if (bytes[0] > journal_version) {
    journal.kind = JournalKind::Newer;
    return journal;
  }
  if (bytes[0] == first_version) {
    settings = decode_settings_body_v1(bytes.data() + 1, bytes.size() - 1);
  } else if (bytes[0] == journal_version && bytes.size() > 1 + this_machine.size()) {
    MachineId machine{};
    std::copy_n(bytes.begin() + 1, machine.size(), machine.begin());
    journal.machine = machine;
    settings = decode_settings_body(bytes.data() + 1 + machine.size(), bytes.size() - 1 - machine.size());
  }
  if (!settings) return undecodable();
  journal.settings = std::move(*settings);
  journal.kind =
      journal.machine && *journal.machine != this_machine ? JournalKind::OtherMachine : JournalKind::Ours;
  return journal;
}

}  // namespace velmora
