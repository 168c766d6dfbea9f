#include "journal.h"

#include <atomic>
#include <string>

#include "fatal_error.h"
#include "platform.h"
#include "watcher_protocol.h"

namespace velmora {
namespace {

constexpr int newer_journal_status = 101;

std::atomic<bool> write_failure_said{false};

}  // namespace

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
