// libFuzzer target over the two decoders that read bytes another program could have written:
// the journal (a registry value any program of the user may change) and the records on the
// watcher's pipe, fed in pieces as a pipe delivers them. Whatever decodes must re-encode to
// bytes that decode to the same record; nothing may crash, read out of bounds or loop.
//
// Input layout: byte 0 picks the decoder (even: the journal, odd: the pipe) and, for the
// pipe, the size of each piece; the rest is the bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "journal_record.h"
#include "fuzz_check.h"
#include "watcher_protocol.h"

namespace velmora {
namespace {

constexpr MachineId this_machine = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr std::size_t piece_sizes[] = {1, 2, 3, 7, 64, 4096, 65536};

void check_journal(const std::vector<std::uint8_t>& bytes) {
  const DecodedJournal decoded = decode_journal(bytes, this_machine);
  if (decoded.kind != JournalKind::Ours && decoded.kind != JournalKind::OtherMachine) return;
  const MachineId machine = decoded.machine.value_or(this_machine);
  const DecodedJournal again = decode_journal(encode_journal(machine, decoded.settings), this_machine);
  FUZZ_CHECK(again.kind == decoded.kind);
  FUZZ_CHECK(again.settings == decoded.settings);
  FUZZ_CHECK(again.machine == machine);
}

void check_record(const SavedSettings& settings) {
  const std::vector<std::uint8_t> bytes = encode_settings_record(settings);
  const std::optional<SavedSettings> again = decode_settings_record(bytes.data(), bytes.size());
  FUZZ_CHECK(again.has_value() && *again == settings);
}

void check_pipe(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  WatcherRecordReader reader;
  std::size_t records = 0;
  while (size > 0) {
    const std::size_t now = size < piece ? size : piece;
    reader.feed(data, now);
    data += now;
    size -= now;
    while (std::optional<WatcherRecord> record = reader.next()) {
      ++records;
      if (record->kind == WatcherRecordKind::Settings) check_record(record->settings);
    }
  }
  FUZZ_CHECK(records <= 65536);
}

}  // namespace
}  // namespace velmora

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  if (mode % 2 == 0) {
    velmora::check_journal(std::vector<std::uint8_t>(data, data + size));
  } else {
    const std::size_t pieces = sizeof(velmora::piece_sizes) / sizeof(velmora::piece_sizes[0]);
    velmora::check_pipe(data, size, velmora::piece_sizes[(mode / 2) % pieces]);
  }
  return 0;
}
