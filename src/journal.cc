#include "journal.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "fatal_error.h"
#include "platform.h"
#include "watcher_protocol.h"

namespace velmora {
namespace {

// 1: the settings record as the watcher's pipe carried it, fixed size. 2: the machine, then
// a body whose mute names its device.
constexpr std::uint8_t first_version = 1;
constexpr std::uint8_t journal_version = 2;

constexpr int newer_journal_status = 101;

std::atomic<bool> write_failure_said{false};

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
  journal.kind = journal.machine && *journal.machine != this_machine ? JournalKind::OtherMachine : JournalKind::Ours;
  return journal;
}

void keep_journal(const SavedSettings& settings) {
  if (nothing_saved(settings)) return delete_journal();
  const std::vector<std::uint8_t> bytes = encode_journal(platform_machine_id(), settings);
  std::string error_text;
  if (platform_journal_write(bytes.data(), bytes.size(), error_text)) return;
  if (!write_failure_said.exchange(true)) {
    report_error("could not write the journal, so a power cut would leave the settings changed", error_text);
  }
}

// The power actions live in the machine's hive, which the system writes lazily: they reach
// the disk first, so that a power cut never finds the journal gone while the disk still says
// "do nothing". A journal that outlives its restore is harmless: its leftovers are put back
// only where the lock's values still stand.
void delete_journal() {
  platform_flush_power_settings();
  platform_journal_delete();
}

void put_back_leftovers(const SavedSettings& settings) {
  load_saved_settings(settings);
  restore_guards(Restorer::OtherThread, std::nullopt, RestoreMode::Leftover);
  keep_journal(saved_settings());
}

void replay_journal() {
  const std::optional<std::vector<std::uint8_t>> bytes = platform_journal_read();
  if (!bytes) return;
  const DecodedJournal left = decode_journal(*bytes, platform_machine_id());
  switch (left.kind) {
    case JournalKind::Ours:
      break;
    case JournalKind::OtherMachine:
      return;
    case JournalKind::Newer:
      exit_with_report(newer_journal_status,
                       "a newer sidecar left settings to put back; run it, or its restore-only mode", "");
    case JournalKind::Undecodable:
      delete_journal();
      report_error("discarded a journal of saved settings that does not decode", "");
      return;
  }
  put_back_leftovers(left.settings);
  report_error("put back the settings left changed by a run that did not finish", "");
}

}  // namespace velmora
