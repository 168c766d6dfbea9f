// The Windows side of the run's locks and of the pipe between the sidecar and its watcher.
// The watcher inherits exactly two handles, its end of the pipe and a handle that can only
// wait for the sidecar's end, so it never holds the parent's pipes. The pipe exists before
// the watcher does, and holds what was written into it until the watcher reads.

#include <windows.h>

#include <array>
#include <atomic>
#include <optional>
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
// Every record a run writes before its watcher reads fits many times over (one is some tens
// of bytes, and at most two precede the launch); written beyond it, a write would wait.
constexpr DWORD watcher_pipe_buffer = 4096;

// Each mutex while the thread that took it holds it.
UniqueHandle run_lock;
UniqueHandle instance_lock;

// The sidecar's side: the watcher, the write end of its pipe (and the read end until the
// watcher has its own), and the wait that hears of the watcher's end.
UniqueHandle watcher_process;
UniqueHandle watcher_pipe;
UniqueHandle watcher_pipe_reader;
UniqueWait watcher_wait;
std::atomic<void (*)()> watcher_exit_callback{nullptr};

// The watcher's side.
UniqueHandle sidecar_pipe;     // read end
UniqueHandle sidecar_process;  // SYNCHRONIZE only

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
    // It exists but cannot be opened: a run of another user, or of the same user at another
    // privilege level (elevated or not), made it, and holds it until it ends.
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

std::wstring handle_text(HANDLE handle) { return std::to_wstring(reinterpret_cast<std::uintptr_t>(handle)); }

// The watcher's command line: its flag and the values of the two handles it inherits.
std::wstring watcher_command(const std::wstring& path, HANDLE pipe, HANDLE sidecar) {
  return L"\"" + path + L"\" " + watcher_flag + L" " + handle_text(pipe) + L" " + handle_text(sidecar);
}

// A process handle's inheritance attribute list, holding just `handles`.
struct AttributeList {
  std::vector<unsigned char> storage;
  std::array<HANDLE, 2> handles;
  LPPROC_THREAD_ATTRIBUTE_LIST get() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  }
};

bool make_handle_list(AttributeList& list) {
  SIZE_T size = 0;
  (void)InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  list.storage.resize(size);
  if (InitializeProcThreadAttributeList(list.get(), 1, 0, &size) == FALSE) return false;
  if (UpdateProcThreadAttribute(list.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, list.handles.data(),
                                sizeof(list.handles), nullptr, nullptr) != FALSE) {
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

// Asked of the watcher itself: breakaway leaves each job that allows it and stops at the first
// that does not, so a watcher started with breakaway may still sit in an outer job, whose
// limits this process cannot read (QueryInformationJobObject reads only its own innermost
// job); such a job, which forbade the breakaway, is taken to end with the parent. Without
// breakaway the watcher shares this process's innermost job, whose limits can be read.
bool ends_with_parent_job(HANDLE watcher, bool broke_away) {
  BOOL in_job = FALSE;
  if (IsProcessInJob(watcher, nullptr, &in_job) == FALSE || in_job == FALSE) return false;
  return broke_away || job_kills_on_close();
}

// A handle to this process that the watcher inherits and can only wait on.
UniqueHandle inheritable_self() {
  HANDLE self = nullptr;
  if (DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE,
                      0) == FALSE) {
    return UniqueHandle();
  }
  return UniqueHandle(self);
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

bool platform_open_watcher_pipe(std::string& error_text) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (CreatePipe(&read_end, &write_end, nullptr, watcher_pipe_buffer) == FALSE) {
    error_text = platform_last_error_text();
    return false;
  }
  watcher_pipe_reader.reset(read_end);
  watcher_pipe.reset(write_end);
  return true;
}

WatcherLaunch platform_launch_watcher(void (*on_exit)()) {
  WatcherLaunch launch;
  const HANDLE read_end = watcher_pipe_reader.get();
  const UniqueHandle self = inheritable_self();
  AttributeList list{{}, {read_end, self.get()}};
  const std::wstring path = module_path();
  if (read_end == nullptr || !self || path.empty() ||
      SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) == FALSE ||
      !make_handle_list(list)) {
    launch.error_text = platform_last_error_text();
    return launch;
  }
  keep_standard_handles_private();
  const std::wstring command = watcher_command(path, read_end, self.get());
  PROCESS_INFORMATION info{};
  // Out of the parent's job where the job allows it, so that a job-wide kill of the sidecar
  // still leaves the watcher to put things back.
  // Suspended, so that it is asked where it landed before it runs; resumed at once after.
  const bool broke_away =
      create_process(path, command, CREATE_BREAKAWAY_FROM_JOB | CREATE_SUSPENDED, list, info);
  launch.started = broke_away;
  if (!launch.started && GetLastError() == ERROR_ACCESS_DENIED) {
    launch.started = create_process(path, command, CREATE_SUSPENDED, list, info);
  }
  if (!launch.started) launch.error_text = platform_last_error_text();
  DeleteProcThreadAttributeList(list.get());
  if (!launch.started) return launch;
  watcher_pipe_reader.reset();  // the watcher has its own
  launch.ends_with_parent_job = ends_with_parent_job(info.hProcess, broke_away);
  (void)ResumeThread(info.hThread);
  (void)CloseHandle(info.hThread);
  watcher_process.reset(info.hProcess);
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
  watcher_pipe_reader.reset();
}

// Touches nothing that closing the pipe does: the hook thread may be closing it meanwhile.
void platform_wait_for_watcher(unsigned wait_ms) {
  if (watcher_process) (void)WaitForSingleObject(watcher_process.get(), wait_ms);
}

WatcherRole platform_connect_to_sidecar() {
  const std::vector<std::wstring> words = arguments(GetCommandLineW());
  std::uint64_t pipe = 0;
  std::uint64_t sidecar = 0;
  if (words.size() != 3 || words[0] != watcher_flag || !parse_number(words[1], pipe) ||
      !parse_number(words[2], sidecar)) {
    return WatcherRole::NotWatcher;
  }
  const HANDLE pipe_handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(pipe));
  const HANDLE sidecar_handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(sidecar));
  DWORD flags = 0;
  if (GetHandleInformation(pipe_handle, &flags) == FALSE) return WatcherRole::SidecarGone;
  sidecar_pipe.reset(pipe_handle);
  // Without it the sidecar counts as gone: the watcher then puts back only on the run lock.
  if (GetHandleInformation(sidecar_handle, &flags) != FALSE) sidecar_process.reset(sidecar_handle);
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

// Anonymous pipes have no overlapped reads; a peek tells what waits, and fails with
// ERROR_BROKEN_PIPE once the writers are gone and nothing is left.
std::optional<ReadResult> platform_read_from_sidecar_now(char* buffer, std::size_t capacity) {
  DWORD available = 0;
  if (!sidecar_pipe || PeekNamedPipe(sidecar_pipe.get(), nullptr, 0, nullptr, &available, nullptr) == FALSE) {
    return ReadResult{ReadStatus::End, 0};
  }
  if (available == 0) return std::nullopt;
  return platform_read_from_sidecar(buffer, capacity < available ? capacity : available);
}

bool platform_sidecar_alive() {
  return sidecar_process && WaitForSingleObject(sidecar_process.get(), 0) == WAIT_TIMEOUT;
}

}  // namespace velmora
