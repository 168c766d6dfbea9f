// The Windows side of the platform seam: thin wrappers, one system call each.

#include <windows.h>
#include <objbase.h>
#include <powrprof.h>

#include <cstring>
#include <string>

#include "platform.h"
#include "win32_handles.h"

namespace velmora {
namespace {

// The thread that reads standard input, kept for the rest of the process so that its
// blocked read can be cancelled from another thread.
UniqueHandle input_reader;

HANDLE standard_handle(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

bool write_all(HANDLE handle, const char* data, std::size_t size) {
  if (handle == nullptr) return false;
  while (size > 0) {
    const DWORD chunk = size > 0x40000000U ? 0x40000000U : static_cast<DWORD>(size);
    DWORD written = 0;
    if (WriteFile(handle, data, chunk, &written, nullptr) == FALSE || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

GUID to_guid(const SchemeId& scheme) {
  GUID guid;
  static_assert(sizeof(guid) == sizeof(SchemeId));
  std::memcpy(&guid, scheme.data(), sizeof(guid));
  return guid;
}

const GUID& setting_guid(PowerSetting setting) {
  switch (setting) {
    case PowerSetting::PowerButton:
      return GUID_POWERBUTTON_ACTION;
    case PowerSetting::SleepButton:
      return GUID_SLEEPBUTTON_ACTION;
    case PowerSetting::LidClose:
      break;
  }
  return GUID_LIDCLOSE_ACTION;
}

// The AC and DC reads share one shape; each setting lives in the system-button subgroup.
using ReadIndexFn = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD);

std::uint32_t read_index(ReadIndexFn read, const SchemeId& scheme, PowerSetting setting,
                         std::uint32_t* value) {
  const GUID guid = to_guid(scheme);
  DWORD index = 0;
  const DWORD result = read(nullptr, &guid, &GUID_SYSTEM_BUTTON_SUBGROUP, &setting_guid(setting), &index);
  *value = index;
  return result;
}

static_assert(SKF_STICKYKEYSON == accessibility_feature_on && FKF_FILTERKEYSON == accessibility_feature_on &&
              TKF_TOGGLEKEYSON == accessibility_feature_on && MKF_MOUSEKEYSON == accessibility_feature_on &&
              HCF_HIGHCONTRASTON == accessibility_feature_on);
static_assert(SKF_HOTKEYACTIVE == accessibility_hotkey_active &&
              FKF_HOTKEYACTIVE == accessibility_hotkey_active &&
              TKF_HOTKEYACTIVE == accessibility_hotkey_active &&
              MKF_HOTKEYACTIVE == accessibility_hotkey_active &&
              HCF_HOTKEYACTIVE == accessibility_hotkey_active);

// A failed call's error; some calls fail without setting one.
std::uint32_t last_error_or_failure() {
  const DWORD error = GetLastError();
  return error != 0 ? error : ERROR_GEN_FAILURE;
}

// Reads one feature's structure through its SPI_GET* call and, given new flags, writes it
// back with only dwFlags changed through its SPI_SET* call, fWinIni 0: never the profile.
// The flags read go to `found`; the error of the read or the write, 0 on success.
template <typename Info>
std::uint32_t access_flags(UINT get, UINT set, const std::uint32_t* new_flags, std::uint32_t* found) {
  Info info{};
  info.cbSize = sizeof(info);
  if (SystemParametersInfoW(get, sizeof(info), &info, 0) == FALSE) return last_error_or_failure();
  *found = info.dwFlags;
  if (new_flags == nullptr) return 0;
  info.dwFlags = *new_flags;
  if (SystemParametersInfoW(set, sizeof(info), &info, 0) == FALSE) return last_error_or_failure();
  return 0;
}

std::uint32_t access_accessibility_flags(AccessibilityFeature feature, const std::uint32_t* new_flags,
                                         std::uint32_t* found) {
  switch (feature) {
    case AccessibilityFeature::StickyKeys:
      return access_flags<STICKYKEYS>(SPI_GETSTICKYKEYS, SPI_SETSTICKYKEYS, new_flags, found);
    case AccessibilityFeature::FilterKeys:
      return access_flags<FILTERKEYS>(SPI_GETFILTERKEYS, SPI_SETFILTERKEYS, new_flags, found);
    case AccessibilityFeature::ToggleKeys:
      return access_flags<TOGGLEKEYS>(SPI_GETTOGGLEKEYS, SPI_SETTOGGLEKEYS, new_flags, found);
    case AccessibilityFeature::MouseKeys:
      return access_flags<MOUSEKEYS>(SPI_GETMOUSEKEYS, SPI_SETMOUSEKEYS, new_flags, found);
    case AccessibilityFeature::HighContrast:
      break;
  }
  // Its scheme name is the system's string that the read points to, written back as it is.
  return access_flags<HIGHCONTRASTW>(SPI_GETHIGHCONTRAST, SPI_SETHIGHCONTRAST, new_flags, found);
}

// Where the power schemes' values live, in the machine's hive.
constexpr wchar_t power_schemes_key[] = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
constexpr wchar_t cryptography_key[] = L"SOFTWARE\\Microsoft\\Cryptography";

int hex_digit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" as its 16 bytes in the order written; all zero for
// anything else.
MachineId machine_id_from_text(const wchar_t* text, std::size_t length) {
  MachineId id{};
  std::size_t nibble = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] == L'-') continue;
    const int digit = hex_digit(text[i]);
    if (digit < 0 || nibble >= id.size() * 2) return MachineId{};
    id[nibble / 2] = static_cast<std::uint8_t>(id[nibble / 2] | (digit << (nibble % 2 == 0 ? 4 : 0)));
    ++nibble;
  }
  return nibble == id.size() * 2 ? id : MachineId{};
}

}  // namespace

ReadResult platform_read_stdin(char* buffer, std::size_t capacity) {
  const HANDLE input = standard_handle(STD_INPUT_HANDLE);
  if (input == nullptr) return {ReadStatus::End, 0};
  const DWORD want = capacity > 0x40000000U ? 0x40000000U : static_cast<DWORD>(capacity);
  DWORD got = 0;
  if (ReadFile(input, buffer, want, &got, nullptr) == FALSE) {
    // The parent closing its end of the pipe is the ordinary end of input.
    const DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return {ReadStatus::End, 0};
    return {ReadStatus::Error, 0};
  }
  if (got == 0) return {ReadStatus::End, 0};
  return {ReadStatus::Data, got};
}

void platform_mark_input_reader() {
  // THREAD_TERMINATE is the right CancelSynchronousIo asks for.
  input_reader.reset(OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId()));
}

// CancelSynchronousIo fails with ERROR_NOT_FOUND when the thread is not inside a
// synchronous read or write; the cancelled ReadFile fails with ERROR_OPERATION_ABORTED.
bool platform_cancel_input_read() { return input_reader && CancelSynchronousIo(input_reader.get()) != FALSE; }

bool platform_write_stdout(const char* data, std::size_t size) {
  return write_all(standard_handle(STD_OUTPUT_HANDLE), data, size);
}

void platform_write_stderr(const char* data, std::size_t size) {
  (void)write_all(standard_handle(STD_ERROR_HANDLE), data, size);
}

std::optional<std::u16string> platform_get_env(const char16_t* name) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  const auto* wide_name = reinterpret_cast<const wchar_t*>(name);
  std::wstring value(16, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD needed = GetEnvironmentVariableW(wide_name, value.data(), static_cast<DWORD>(value.size()));
    if (needed == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::u16string();
    }
    if (needed < value.size()) {
      return std::u16string(reinterpret_cast<const char16_t*>(value.data()), needed);
    }
    value.assign(needed, L'\0');  // `needed` counts the terminating NUL here
  }
}

std::string platform_last_error_text() { return platform_error_text(GetLastError()); }

std::string platform_error_text(std::uint32_t error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length > 0 ? std::string(text, length) : std::string();
  if (text != nullptr) (void)LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result + " (os error " + std::to_string(error) + ")";
}

void platform_exit(int status) { ExitProcess(static_cast<UINT>(status)); }

bool platform_post_quit(std::uint32_t thread_id) {
  return PostThreadMessageW(thread_id, WM_QUIT, 0, 0) != FALSE;
}

void platform_sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }

bool platform_com_enter() {
  // S_FALSE: the thread was already in such an apartment; it still takes a leave.
  const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  return result == S_OK || result == S_FALSE;
}

void platform_com_leave() { CoUninitialize(); }

std::optional<SchemeId> platform_power_get_active_scheme() {
  GUID* active = nullptr;
  if (PowerGetActiveScheme(nullptr, &active) != ERROR_SUCCESS || active == nullptr) {
    return std::nullopt;
  }
  SchemeId scheme{};
  std::memcpy(scheme.data(), active, sizeof(GUID));
  (void)LocalFree(active);
  return scheme;
}

std::uint32_t platform_power_read_ac(const SchemeId& scheme, PowerSetting setting, std::uint32_t* value) {
  return read_index(PowerReadACValueIndex, scheme, setting, value);
}

std::uint32_t platform_power_read_dc(const SchemeId& scheme, PowerSetting setting, std::uint32_t* value) {
  return read_index(PowerReadDCValueIndex, scheme, setting, value);
}

std::uint32_t platform_power_write_ac(const SchemeId& scheme, PowerSetting setting, std::uint32_t value) {
  const GUID guid = to_guid(scheme);
  return PowerWriteACValueIndex(nullptr, &guid, &GUID_SYSTEM_BUTTON_SUBGROUP, &setting_guid(setting), value);
}

std::uint32_t platform_power_write_dc(const SchemeId& scheme, PowerSetting setting, std::uint32_t value) {
  const GUID guid = to_guid(scheme);
  return PowerWriteDCValueIndex(nullptr, &guid, &GUID_SYSTEM_BUTTON_SUBGROUP, &setting_guid(setting), value);
}

std::uint32_t platform_power_set_active_scheme(const SchemeId& scheme) {
  const GUID guid = to_guid(scheme);
  return PowerSetActiveScheme(nullptr, &guid);
}

// RegFlushKey needs a handle with KEY_QUERY_VALUE; it writes the whole hive the key is in.
void platform_flush_power_settings() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, power_schemes_key, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
  const UniqueKey owner(key);
  (void)RegFlushKey(key);  // nothing to do if it fails: the journal then merely outlives its restore
}

MachineId platform_machine_id() {
  wchar_t text[64] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  // The 64-bit view, where the system keeps it, whatever this build's bitness.
  if (RegGetValueW(HKEY_LOCAL_MACHINE, cryptography_key, L"MachineGuid",
                   RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, text, &size) != ERROR_SUCCESS) {
    return MachineId{};
  }
  return machine_id_from_text(text, wcsnlen(text, size / sizeof(wchar_t)));
}

void platform_keep_awake(bool awake) {
  (void)SetThreadExecutionState(awake ? (ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED)
                                      : ES_CONTINUOUS);
}

std::int32_t platform_screen_width() { return GetSystemMetrics(SM_CXSCREEN); }

std::int32_t platform_screen_height() { return GetSystemMetrics(SM_CYSCREEN); }

void platform_clip_cursor(const ClipRect* rect) {
  if (rect == nullptr) {
    (void)ClipCursor(nullptr);
    return;
  }
  const RECT clip{rect->left, rect->top, rect->right, rect->bottom};
  (void)ClipCursor(&clip);
}

std::optional<ClipRect> platform_get_clip_cursor() {
  RECT clip{};
  if (GetClipCursor(&clip) == FALSE) return std::nullopt;
  return ClipRect{clip.left, clip.top, clip.right, clip.bottom};
}

std::optional<bool> platform_get_beep() {
  BOOL on = FALSE;
  if (SystemParametersInfoW(SPI_GETBEEP, 0, &on, 0) == FALSE) return std::nullopt;
  return on != FALSE;
}

std::uint32_t platform_set_beep(bool on) {
  // fWinIni 0: the running logon only, never the user profile.
  if (SystemParametersInfoW(SPI_SETBEEP, on ? TRUE : FALSE, nullptr, 0) == FALSE)
    return last_error_or_failure();
  return 0;
}

std::optional<std::uint32_t> platform_get_accessibility_flags(AccessibilityFeature feature) {
  std::uint32_t found = 0;
  if (access_accessibility_flags(feature, nullptr, &found) != 0) return std::nullopt;
  return found;
}

std::uint32_t platform_set_accessibility_flags(AccessibilityFeature feature, std::uint32_t flags) {
  std::uint32_t found = 0;
  return access_accessibility_flags(feature, &flags, &found);
}

}  // namespace velmora
