// The journal's Windows side: one REG_BINARY value in the user's own hive, so it needs no
// rights beyond the user's and roams with nothing else of the sidecar's.

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
constexpr wchar_t journal_value[] = L"Journal";
// Far above any record: a larger value is not a journal of ours and is not read whole.
constexpr DWORD largest_journal = 4096;

UniqueKey open_key(REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, journal_key, 0, access, &key) != ERROR_SUCCESS) return UniqueKey();
  return UniqueKey(key);
}

}  // namespace

bool platform_journal_write(const std::uint8_t* data, std::size_t size, std::string& error_text) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, journal_key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) {
    error_text = platform_error_text(static_cast<std::uint32_t>(status));
    return false;
  }
  const UniqueKey owner(key);
  status = RegSetValueExW(key, journal_value, 0, REG_BINARY, data, static_cast<DWORD>(size));
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
  DWORD type = 0;
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(key.get(), journal_value, nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  // Something stands there that is no journal of ours: an empty one, which does not decode.
  if (status != ERROR_SUCCESS || type != REG_BINARY || size > largest_journal)
    return std::vector<std::uint8_t>{};
  std::vector<std::uint8_t> bytes(size);
  status = RegQueryValueExW(key.get(), journal_value, nullptr, &type, bytes.data(), &size);
  if (status != ERROR_SUCCESS) return std::vector<std::uint8_t>{};
  bytes.resize(size);
  return bytes;
}

void platform_journal_delete() {
  const UniqueKey key = open_key(KEY_SET_VALUE);
  if (!key) return;
  if (RegDeleteValueW(key.get(), journal_value) != ERROR_SUCCESS) return;  // none there
  (void)RegFlushKey(key.get());  // a journal back on disk after a power cut would undo later changes
}

}  // namespace velmora
