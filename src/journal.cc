#include "journal.h"

#include <atomic>
#include <string>

#include "fatal_error.h"
#include "platform.h"
#include "watcher_protocol.h"

namespace velmora {
namespace {

constexpr std::uint8_t journal_version = 1;

std::atomic<bool> write_failure_said{false};

}  // namespace

std::vector<std::uint8_t> encode_journal(const SavedSettings& settings) {
  std::vector<std::uint8_t> bytes{journal_version};
  const std::vector<std::uint8_t> record = encode_settings_record(settings);
  bytes.insert(bytes.end(), record.begin(), record.end());
  return bytes;
}

std::optional<SavedSettings> decode_journal(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty() || bytes[0] != journal_version) return std::nullopt;
  return decode_settings_record(bytes.data() + 1, bytes.size() - 1);
}

void keep_journal(const SavedSettings& settings) {
  if (nothing_saved(settings)) return delete_journal();
  const std::vector<std::uint8_t> bytes = encode_journal(settings);
  std::string error_text;
  if (platform_journal_write(bytes.data(), bytes.size(), error_text)) return;
  if (!write_failure_said.exchange(true)) {
    report_error("could not write the journal, so a power cut would leave the settings changed", error_text);
  }
}

void delete_journal() { platform_journal_delete(); }

void replay_journal() {
  const std::optional<std::vector<std::uint8_t>> bytes = platform_journal_read();
  if (!bytes) return;
  const std::optional<SavedSettings> left = decode_journal(*bytes);
  if (!left) {
    delete_journal();
    report_error("discarded a journal of saved settings that does not decode", "");
    return;
  }
  load_saved_settings(*left);
  restore_guards(Restorer::OtherThread);
  delete_journal();
  report_error("put back the settings left changed by a run that did not finish", "");
}

}  // namespace velmora
