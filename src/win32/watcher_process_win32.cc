// The Windows side of the instance lock and of the pipe between the sidecar and its
// watcher. Nothing is inherited: the watcher takes the pipe's read end and the signal
// straight out of the sidecar with DuplicateHandle, so it never holds the parent's pipes.

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "platform.h"
#include "win32_handles.h"

namespace velmora {
namespace {

// In the Global namespace: the power actions belong to the machine, not to one session.
constexpr wchar_t instance_lock_name[] = L"Global\\VelmoraSidecarInstance";
constexpr wchar_t watcher_flag[] = L"--velmora-watcher";
constexpr DWORD lock_retry_ms = 50;

UniqueHandle instance_lock;  // the mutex, while the taking thread holds it

// The sidecar's side: the watcher, the write end of its pipe, and, until it answers, the
// read end it takes its own copy of and the signal it sets once it holds the lock.
UniqueHandle watcher_process;
UniqueHandle watcher_pipe;
UniqueHandle watcher_pipe_reader;
UniqueHandle watcher_holding;

// The watcher's side.
UniqueHandle sidecar_pipe;  // read end
UniqueHandle holding_signal;

DWORD time_left(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

std::wstring module_path() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return std::wstring(path.data(), length);
    path.resize(path.size() * 2);
  }
}

std::wstring number(std::uint64_t value) { return std::to_wstring(value); }

// The watcher's command line, for this sidecar's pipe and signal.
std::wstring watcher_command(const std::wstring& path, HANDLE pipe, HANDLE signal) {
  return L"\"" + path + L"\" " + watcher_flag + L" " + number(GetCurrentProcessId()) + L" " +
         number(reinterpret_cast<std::uintptr_t>(pipe)) + L" " +
         number(reinterpret_cast<std::uintptr_t>(signal));
}

bool create_process(const std::wstring& path, std::wstring command, DWORD flags, PROCESS_INFORMATION& info) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  return CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &info) != FALSE;
}

// The words after the program's own name, split on spaces.
std::vector<std::wstring> arguments(const wchar_t* line) {
  if (*line == L'"') {
    const wchar_t* end = std::wcschr(line + 1, L'"');
    line = end != nullptr ? end + 1 : line + std::wcslen(line);
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  std::vector<std::wstring> words;
  std::wstring word;
  for (; *line != L'\0'; ++line) {
    if (*line == L' ' || *line == L'\t') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word.push_back(*line);
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

bool parse_number(const std::wstring& word, std::uint64_t& value) {
  if (word.empty() || word.size() > 19) return false;
  value = 0;
  for (const wchar_t c : word) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  return true;
}

bool duplicate_from(HANDLE process, std::uint64_t value, UniqueHandle& into) {
  HANDLE local = nullptr;
  if (DuplicateHandle(process, reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value)),
                      GetCurrentProcess(), &local, 0, FALSE, DUPLICATE_SAME_ACCESS) == FALSE) {
    return false;
  }
  into.reset(local);
  return true;
}

}  // namespace

bool platform_take_instance_lock(unsigned wait_ms) {
  const ULONGLONG deadline = GetTickCount64() + wait_ms;
  for (;;) {
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, instance_lock_name));
    if (mutex) {
      const DWORD waited = WaitForSingleObject(mutex.get(), time_left(deadline));
      // WAIT_ABANDONED: its last holder died holding it; it is ours all the same.
      if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
      instance_lock = std::move(mutex);
      return true;
    }
    // It exists but cannot be opened (another user's run, say): held, until the wait runs out.
    if (time_left(deadline) == 0) return false;
    Sleep(lock_retry_ms);
  }
}

void platform_release_instance_lock() {
  if (!instance_lock) return;
  (void)ReleaseMutex(instance_lock.get());
  instance_lock.reset();
}

bool platform_instance_lock_free() {
  const UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, instance_lock_name));
  if (!mutex) return GetLastError() == ERROR_FILE_NOT_FOUND;  // no run has made it
  const DWORD waited = WaitForSingleObject(mutex.get(), 0);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
  (void)ReleaseMutex(mutex.get());
  return true;
}

bool platform_launch_watcher(std::string& error_text) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (CreatePipe(&read_end, &write_end, nullptr, 0) == FALSE) {
    error_text = platform_last_error_text();
    return false;
  }
  UniqueHandle reader(read_end);
  UniqueHandle writer(write_end);
  UniqueHandle holding(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const std::wstring path = module_path();
  if (!holding || path.empty()) {
    error_text = platform_last_error_text();
    return false;
  }
  const std::wstring command = watcher_command(path, read_end, holding.get());
  PROCESS_INFORMATION info{};
  // Out of the parent's job where the job allows it, so that a job-wide kill of the sidecar
  // still leaves the watcher to put things back.
  bool started = create_process(path, command, CREATE_BREAKAWAY_FROM_JOB, info);
  if (!started && GetLastError() == ERROR_ACCESS_DENIED) started = create_process(path, command, 0, info);
  if (!started) {
    error_text = platform_last_error_text();
    return false;
  }
  (void)CloseHandle(info.hThread);
  watcher_process.reset(info.hProcess);
  watcher_pipe = std::move(writer);
  watcher_pipe_reader = std::move(reader);
  watcher_holding = std::move(holding);
  return true;
}

WatcherStart platform_await_watcher(unsigned answer_wait_ms, int refused_status, std::string& error_text) {
  if (!watcher_process) return WatcherStart::Failed;
  const HANDLE answers[] = {watcher_holding.get(), watcher_process.get()};
  const DWORD answer = WaitForMultipleObjects(2, answers, FALSE, answer_wait_ms);
  // Either way the watcher needs neither any more: it has its own copy of the read end.
  watcher_pipe_reader.reset();
  watcher_holding.reset();
  if (answer == WAIT_OBJECT_0) return WatcherStart::Holding;
  watcher_pipe.reset();
  if (answer == WAIT_OBJECT_0 + 1) {
    DWORD status = 0;
    (void)GetExitCodeProcess(watcher_process.get(), &status);
    watcher_process.reset();
    if (status == static_cast<DWORD>(refused_status)) return WatcherStart::Refused;
    error_text = "it ended with status " + std::to_string(status);
    return WatcherStart::Failed;
  }
  // No answer in time: end it, so that it never holds the lock behind this run's back.
  (void)TerminateProcess(watcher_process.get(), 1);
  (void)WaitForSingleObject(watcher_process.get(), answer_wait_ms);
  watcher_process.reset();
  error_text = "it did not answer in time";
  return WatcherStart::Failed;
}

bool platform_send_to_watcher(const std::uint8_t* data, std::size_t size) {
  while (watcher_pipe && size > 0) {
    DWORD written = 0;
    if (WriteFile(watcher_pipe.get(), data, static_cast<DWORD>(size), &written, nullptr) == FALSE)
      return false;
    data += written;
    size -= written;
  }
  return size == 0;
}

void platform_close_watcher_pipe() { watcher_pipe.reset(); }

void platform_wait_for_watcher(unsigned wait_ms) {
  if (!watcher_process) return;
  (void)WaitForSingleObject(watcher_process.get(), wait_ms);
  watcher_process.reset();
}

WatcherRole platform_connect_to_sidecar() {
  const std::vector<std::wstring> words = arguments(GetCommandLineW());
  std::uint64_t sidecar_id = 0;
  std::uint64_t pipe = 0;
  std::uint64_t signal = 0;
  if (words.size() != 4 || words[0] != watcher_flag || !parse_number(words[1], sidecar_id) ||
      !parse_number(words[2], pipe) || !parse_number(words[3], signal) || sidecar_id > MAXDWORD) {
    return WatcherRole::NotWatcher;
  }
  const UniqueHandle sidecar(OpenProcess(PROCESS_DUP_HANDLE, FALSE, static_cast<DWORD>(sidecar_id)));
  if (!sidecar || !duplicate_from(sidecar.get(), pipe, sidecar_pipe) ||
      !duplicate_from(sidecar.get(), signal, holding_signal)) {
    return WatcherRole::SidecarGone;
  }
  return WatcherRole::Connected;
}

void platform_tell_sidecar_holding() {
  if (holding_signal) (void)SetEvent(holding_signal.get());
}

ReadResult platform_read_from_sidecar(char* buffer, std::size_t capacity) {
  DWORD got = 0;
  const DWORD want = capacity > 0x10000U ? 0x10000U : static_cast<DWORD>(capacity);
  if (!sidecar_pipe || ReadFile(sidecar_pipe.get(), buffer, want, &got, nullptr) == FALSE || got == 0) {
    return {ReadStatus::End, 0};
  }
  return {ReadStatus::Data, got};
}

}  // namespace velmora
