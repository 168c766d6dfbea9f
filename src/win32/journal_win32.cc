// The journal's Windows side: one REG_BINARY value per machine in the user's own hive, so it
// needs no rights beyond the user's. A roaming profile carries every machine's value along;
// each machine reads and writes only its own, so none overwrites another's leftovers.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"
#include "win32_handles.h"

namespace velmora {
namespace {

constexpr wchar_t journal_key[] = L"Software\\Velmora\\Sidecar";
// The first version's one value, read (and deleted) where this machine has none of its own.
constexpr wchar_t legacy_value[] = L"Journal";
// Far above any record: a larger value is not a journal of ours and is not read whole.
constexpr DWORD largest_journal = 4096;

// "Journal-" and the machine's id in hex.
std::wstring journal_value() {
  std::wstring name = L"Journal-";
  for (const std::uint8_t byte : platform_machine_id()) {
    name.push_back(L"0123456789abcdef"[byte >> 4]);
    name.push_back(L"0123456789abcdef"[byte & 15]);
  }
  return name;
}

UniqueKey open_key(REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, journal_key, 0, access, &key) != ERROR_SUCCESS) return UniqueKey();
  return UniqueKey(key);
}

// Empty when the value is not there.
std::optional<std::vector<std::uint8_t>> read_value(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  // Something stands there that is no journal of ours: an empty one, which does not decode.
  if (status != ERROR_SUCCESS || type != REG_BINARY || size > largest_journal)
    return std::vector<std::uint8_t>{};
  std::vector<std::uint8_t> bytes(size);
  status = RegQueryValueExW(key, name, nullptr, &type, bytes.data(), &size);
  if (status != ERROR_SUCCESS) return std::vector<std::uint8_t>{};
  bytes.resize(size);
  return bytes;
}

}  // namespace

bool platform_journal_write(const std::uint8_t* data, std::size_t size, std::string& error_text) {
  HKEY key = nullptr;
  // RegFlushKey needs KEY_QUERY_VALUE on the handle it is given.
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, journal_key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) {
    error_text = platform_error_text(static_cast<std::uint32_t>(status));
    return false;
  }
  const UniqueKey owner(key);
  status = RegSetValueExW(key, journal_value().c_str(), 0, REG_BINARY, data, static_cast<DWORD>(size));
  // One flush, the costly step: after it a power cut finds the journal before any change.
  if (status == ERROR_SUCCESS) status = RegFlushKey(key);
  if (status != ERROR_SUCCESS) {
    error_text = platform_error_text(static_cast<std::uint32_t>(status));
    return false;
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> platform_journal_read() {
  const UniqueKey key = open_key(KEY_QUERY_VALUE);
  if (!key) return std::nullopt;
  if (std::optional<std::vector<std::uint8_t>> own = read_value(key.get(), journal_value().c_str()))
    return own;
  return read_value(key.get(), legacy_value);
}

void platform_journal_delete() {
  const UniqueKey key = open_key(KEY_SET_VALUE | KEY_QUERY_VALUE);
  if (!key) return;
  const bool own = RegDeleteValueW(key.get(), journal_value().c_str()) == ERROR_SUCCESS;
  const bool legacy = RegDeleteValueW(key.get(), legacy_value) == ERROR_SUCCESS;
  // A journal back on disk after a power cut is harmless (its leftovers are put back only
  // where the lock's values still stand), but it would be said again at the next start.
  if (own || legacy) (void)RegFlushKey(key.get());
}

}  // namespace velmora
