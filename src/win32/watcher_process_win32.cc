// The Windows side of the run's locks and of the pipe between the sidecar and its watcher.
// The watcher inherits exactly one handle, its end of the pipe, so it never holds the
// parent's pipes, and owns that end from the moment CreateProcess returns.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "platform.h"
#include "win32_handles.h"

namespace velmora {
namespace {

// In the Global namespace: the power actions belong to the machine, not to one session.
constexpr wchar_t run_lock_name[] = L"Global\\VelmoraSidecarRun";
constexpr wchar_t instance_lock_name[] = L"Global\\VelmoraSidecarInstance";
constexpr wchar_t watcher_flag[] = L"--velmora-watcher";
constexpr DWORD lock_retry_ms = 50;

// Each mutex while the thread that took it holds it.
UniqueHandle run_lock;
UniqueHandle instance_lock;

// The sidecar's side: the watcher, the write end of its pipe, and the wait that hears of the
// watcher's end.
UniqueHandle watcher_process;
UniqueHandle watcher_pipe;
UniqueWait watcher_wait;
std::atomic<void (*)()> watcher_exit_callback{nullptr};

// The watcher's side.
UniqueHandle sidecar_pipe;  // read end

DWORD time_left(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

LockTake take_lock(const wchar_t* name, unsigned wait_ms, UniqueHandle& into) {
  const ULONGLONG deadline = GetTickCount64() + wait_ms;
  for (;;) {
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, name));
    if (mutex) {
      const DWORD waited = WaitForSingleObject(mutex.get(), time_left(deadline));
      // WAIT_ABANDONED: its last holder died holding it; it is ours all the same.
      if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return LockTake::Held;
      into = std::move(mutex);
      return LockTake::Taken;
    }
    // It exists but cannot be opened: another user's run made it, and holds it until it ends.
    const bool denied = GetLastError() == ERROR_ACCESS_DENIED;
    if (time_left(deadline) == 0) return denied ? LockTake::OtherSession : LockTake::Held;
    Sleep(lock_retry_ms);
  }
}

void release_lock(UniqueHandle& lock) {
  if (!lock) return;
  (void)ReleaseMutex(lock.get());
  lock.reset();
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

// The watcher's command line: its flag and the value of the one handle it inherits.
std::wstring watcher_command(const std::wstring& path, HANDLE pipe) {
  return L"\"" + path + L"\" " + watcher_flag + L" " +
         std::to_wstring(reinterpret_cast<std::uintptr_t>(pipe));
}

// A process handle's inheritance attribute list, holding just `handle`.
struct AttributeList {
  std::vector<unsigned char> storage;
  HANDLE handle;
  LPPROC_THREAD_ATTRIBUTE_LIST get() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  }
};

bool make_handle_list(AttributeList& list) {
  SIZE_T size = 0;
  (void)InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  list.storage.resize(size);
  if (InitializeProcThreadAttributeList(list.get(), 1, 0, &size) == FALSE) return false;
  if (UpdateProcThreadAttribute(list.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &list.handle,
                                sizeof(list.handle), nullptr, nullptr) != FALSE) {
    return true;
  }
  DeleteProcThreadAttributeList(list.get());
  return false;
}

// The standard handles a parent gave are inheritable; where a system ignores the handle list,
// a watcher holding the parent's output pipe would keep the parent from seeing its end.
void keep_standard_handles_private() {
  for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE handle = GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
      (void)SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
  }
}

bool create_process(const std::wstring& path, std::wstring command, DWORD flags, AttributeList& list,
                    PROCESS_INFORMATION& info) {
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  // No standard handles, and no app-starting cursor for a process that never pumps messages.
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_FORCEOFFFEEDBACK;
  startup.lpAttributeList = list.get();
  return CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, TRUE,
                        flags | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                        &info) != FALSE;
}

// Whether the job this process runs in ends its processes when the job closes.
bool job_kills_on_close() {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
  if (QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &info, sizeof(info), nullptr) ==
      FALSE) {
    return false;
  }
  return (info.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) != 0;
}

void CALLBACK watcher_exited(PVOID /*context*/, BOOLEAN /*timed_out*/) {
  if (void (*const callback)() = watcher_exit_callback.load()) callback();
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

}  // namespace

LockTake platform_take_run_lock(unsigned wait_ms) { return take_lock(run_lock_name, wait_ms, run_lock); }

void platform_release_run_lock() { release_lock(run_lock); }

LockTake platform_take_instance_lock(unsigned wait_ms) {
  return take_lock(instance_lock_name, wait_ms, instance_lock);
}

void platform_release_instance_lock() { release_lock(instance_lock); }

LockTake platform_await_instance_lock_free(unsigned wait_ms) {
  UniqueHandle taken;
  const LockTake take = take_lock(instance_lock_name, wait_ms, taken);
  release_lock(taken);
  return take;
}

WatcherLaunch platform_launch_watcher(void (*on_exit)()) {
  WatcherLaunch launch;
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (CreatePipe(&read_end, &write_end, nullptr, 0) == FALSE) {
    launch.error_text = platform_last_error_text();
    return launch;
  }
  const UniqueHandle reader(read_end);  // the watcher has its own once it is started
  UniqueHandle writer(write_end);
  AttributeList list{{}, read_end};
  const std::wstring path = module_path();
  if (path.empty() || SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) == FALSE ||
      !make_handle_list(list)) {
    launch.error_text = platform_last_error_text();
    return launch;
  }
  keep_standard_handles_private();
  const std::wstring command = watcher_command(path, read_end);
  PROCESS_INFORMATION info{};
  // Out of the parent's job where the job allows it, so that a job-wide kill of the sidecar
  // still leaves the watcher to put things back.
  launch.started = create_process(path, command, CREATE_BREAKAWAY_FROM_JOB, list, info);
  if (!launch.started && GetLastError() == ERROR_ACCESS_DENIED) {
    launch.started = create_process(path, command, 0, list, info);
    launch.ends_with_parent_job = launch.started && job_kills_on_close();
  }
  if (!launch.started) launch.error_text = platform_last_error_text();
  DeleteProcThreadAttributeList(list.get());
  if (!launch.started) return launch;
  (void)CloseHandle(info.hThread);
  watcher_process.reset(info.hProcess);
  watcher_pipe = std::move(writer);
  watcher_exit_callback.store(on_exit);
  HANDLE wait = nullptr;
  if (RegisterWaitForSingleObject(&wait, info.hProcess, watcher_exited, nullptr, INFINITE,
                                  WT_EXECUTEONLYONCE) != FALSE) {
    watcher_wait.reset(wait);
  }
  return launch;
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

void platform_close_watcher_pipe() {
  watcher_wait.reset();  // before the watcher can end as asked
  watcher_pipe.reset();
}

void platform_wait_for_watcher(unsigned wait_ms) {
  if (!watcher_process) return;
  (void)WaitForSingleObject(watcher_process.get(), wait_ms);
  watcher_wait.reset();
  watcher_process.reset();
}

WatcherRole platform_connect_to_sidecar() {
  const std::vector<std::wstring> words = arguments(GetCommandLineW());
  std::uint64_t pipe = 0;
  if (words.size() != 2 || words[0] != watcher_flag || !parse_number(words[1], pipe)) {
    return WatcherRole::NotWatcher;
  }
  const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(pipe));
  DWORD flags = 0;
  if (GetHandleInformation(handle, &flags) == FALSE) return WatcherRole::SidecarGone;
  sidecar_pipe.reset(handle);
  return WatcherRole::Connected;
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
