// The floor for the key-latency figure: the least a program can do to report a key from a
// low-level keyboard hook. It speaks the sidecar's line shapes (ready, key, bye) so the bench
// drives both the same way, but formats each key line inside the hook and writes it at once.
// Any line on standard input, or its end, stops it.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>

namespace {

struct HookCloser {
  void operator()(HHOOK hook) const { (void)UnhookWindowsHookEx(hook); }  // nothing to do if it fails
};
using unique_hook = std::unique_ptr<std::remove_pointer_t<HHOOK>, HookCloser>;

struct HandleCloser {
  void operator()(HANDLE handle) const { (void)CloseHandle(handle); }
};
using unique_handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

HANDLE std_out = nullptr;
DWORD main_thread_id = 0;

void write_text(const char* text, size_t length) {
  DWORD written = 0;
  // A parent that has gone away is told nothing.
  (void)WriteFile(std_out, text, static_cast<DWORD>(length), &written, nullptr);
}

LRESULT CALLBACK keyboard_proc(int code, WPARAM message, LPARAM data) {
  if (code != HC_ACTION) return CallNextHookEx(nullptr, code, message, data);
  const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
  const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
  char line[64];
  const int length = std::snprintf(line, sizeof line, "{\"down\":%s,\"event\":\"key\",\"vk\":%lu}\n",
                                   down ? "true" : "false", static_cast<unsigned long>(info->vkCode));
  if (length > 0) write_text(line, static_cast<size_t>(length));
  return 1;  // swallowed, as the sidecar does
}

DWORD WINAPI watch_stdin(void*) {
  const HANDLE std_in = GetStdHandle(STD_INPUT_HANDLE);
  char buffer[256];
  DWORD got = 0;
  while (ReadFile(std_in, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    if (std::memchr(buffer, '\n', got) != nullptr) break;
  }
  (void)PostThreadMessageW(main_thread_id, WM_QUIT, 0, 0);
  return 0;
}

}  // namespace

int main() {
  std_out = GetStdHandle(STD_OUTPUT_HANDLE);
  main_thread_id = GetCurrentThreadId();
  // The queue must exist before the watcher can post WM_QUIT to it.
  MSG message;
  (void)PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

  const unique_hook hook(SetWindowsHookExW(WH_KEYBOARD_LL, keyboard_proc, GetModuleHandleW(nullptr), 0));
  if (!hook) return 1;
  const unique_handle watcher(CreateThread(nullptr, 0, watch_stdin, nullptr, 0, nullptr));
  if (!watcher) return 1;

  static constexpr char ready[] = "{\"event\":\"ready\"}\n";
  write_text(ready, sizeof ready - 1);
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  static constexpr char bye[] = "{\"event\":\"bye\"}\n";
  write_text(bye, sizeof bye - 1);
  return 0;
}
