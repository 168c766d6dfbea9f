// A second process that watches the sidecar from outside: which window gets input, the
// beep setting, the cursor clip, the session window and the hotkey registrations. Each
// subcommand prints plain lines on standard output for the end-to-end bench.

#include <windows.h>
#include <tlhelp32.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace velmora {
namespace {

constexpr UINT wm_wtssession_change = 0x2B1;
constexpr wchar_t session_window_class[] = L"VelmoraSidecarWts";
constexpr wchar_t shield_window_class[] = L"VelmoraSidecarShield";
constexpr wchar_t probe_window_class[] = L"VelmoraProbeWindow";
constexpr wchar_t probe_topmost_class[] = L"VelmoraProbeTopmost";

// The sidecar's hotkey table, identifiers aside.
constexpr std::array<UINT, 16> hotkey_keys = {0xAD, 0xB0, 0xB1, 0xB3, 0xB2, 0xA6, 0xA7, 0xA8,
                                              0xA9, 0xAA, 0xAB, 0xAC, 0xB4, 0xB5, 0xB6, 0xB7};

struct WindowCloser {
  void operator()(HWND window) const noexcept { (void)DestroyWindow(window); }
};
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowCloser>;

// Unix time in ms; Wine's precise clock agrees with the host's wall clock.
long long unix_ms() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<long long>((ticks - 116444736000000000ULL) / 10000ULL);
}

// Each line goes out at once: the bench reads them while the probe still runs.
void print_line(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void print_event(const char* kind, unsigned long long detail) {
  print_line(std::to_string(unix_ms()) + " " + kind + " " + std::to_string(detail));
}

LRESULT CALLBACK probe_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      print_event("key-down", wparam);
      return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      print_event("key-up", wparam);
      return 0;
    case WM_LBUTTONDOWN:
      print_event("button-down", 1);
      return 0;
    case WM_LBUTTONUP:
      print_event("button-up", 1);
      return 0;
    case WM_MBUTTONDOWN:
      print_event("button-down", 2);
      return 0;
    case WM_MBUTTONUP:
      print_event("button-up", 2);
      return 0;
    case WM_RBUTTONDOWN:
      print_event("button-down", 3);
      return 0;
    case WM_RBUTTONUP:
      print_event("button-up", 3);
      return 0;
    case WM_XBUTTONDOWN:
      print_event("button-down", 3 + GET_XBUTTON_WPARAM(wparam));
      return TRUE;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      print_event("wheel", static_cast<unsigned>(GET_WHEEL_DELTA_WPARAM(wparam)) & 0xFFFFu);
      return 0;
    case WM_APPCOMMAND:
      print_event("appcommand", GET_APPCOMMAND_LPARAM(lparam));
      return TRUE;
    case WM_KILLFOCUS:
      // Tells the bench that a missing key may be a focus problem, not a swallowed one.
      print_event("focus-lost", 0);
      break;
    case WM_SYSCOMMAND:
      // Alt combinations must not open a system menu that takes the keys.
      if ((wparam & 0xFFF0) == SC_KEYMENU) return 0;
      break;
    case WM_CLOSE:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// A window over the whole screen (so also over the centre pixel the cursor is pinned to),
// logging the input it receives until standard input closes or the time runs out.
int run_window(unsigned seconds) {
  const HINSTANCE module = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = probe_window_proc;
  window_class.hInstance = module;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  window_class.lpszClassName = probe_window_class;
  if (RegisterClassExW(&window_class) == 0) return 1;
  const UniqueWindow window(CreateWindowExW(
      WS_EX_TOPMOST, probe_window_class, L"velmora probe", WS_POPUP | WS_VISIBLE, 0, 0,
      GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, module, nullptr));
  if (!window) return 1;
  (void)SetForegroundWindow(window.get());
  (void)SetFocus(window.get());

  const DWORD thread_id = GetCurrentThreadId();
  // Blocks on standard input; its end (the bench closing the pipe) ends the probe.
  std::thread stdin_watch([thread_id] {
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    }
    (void)PostThreadMessageW(thread_id, WM_QUIT, 0, 0);
  });
  stdin_watch.detach();
  (void)SetTimer(window.get(), 1, seconds * 1000, nullptr);

  print_line(std::string("ready ") + (GetForegroundWindow() == window.get() ? "foreground" : "background"));
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER) break;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  print_line("end");
  return 0;
}

int print_beep() {
  BOOL on = FALSE;
  if (!SystemParametersInfoW(SPI_GETBEEP, 0, &on, 0)) return 1;
  print_line(on ? "1" : "0");
  return 0;
}

int set_beep(bool on) {
  // Not written to the profile, as the sidecar does it: the setting lives in the Wine server.
  return SystemParametersInfoW(SPI_SETBEEP, on ? TRUE : FALSE, nullptr, 0) ? 0 : 1;
}

int print_clip() {
  RECT clip{};
  if (!GetClipCursor(&clip)) return 1;
  print_line(std::to_string(clip.left) + " " + std::to_string(clip.top) + " " + std::to_string(clip.right) +
             " " + std::to_string(clip.bottom));
  return 0;
}

HWND find_session_window() { return FindWindowExW(HWND_MESSAGE, nullptr, session_window_class, nullptr); }

int print_session_window() {
  print_line(find_session_window() != nullptr ? "present" : "absent");
  return 0;
}

int send_session(WPARAM code, unsigned long count) {
  const HWND window = find_session_window();
  if (window == nullptr) {
    print_line("absent");
    return 1;
  }
  // Synchronous: once it returns, the sidecar's window procedure has run.
  for (unsigned long i = 0; i < count; ++i) (void)SendMessageW(window, wm_wtssession_change, code, 1);
  print_line("sent");
  return 0;
}

DWORD sidecar_process() {
  DWORD pid = 0;
  if (const HWND window = find_session_window()) (void)GetWindowThreadProcessId(window, &pid);
  return pid;
}

// For the four corners and the middle of the screen, whose top-level window is there:
// "sidecar" for one of the sidecar's process, "other" otherwise.
int print_windows_at_points() {
  const DWORD sidecar = sidecar_process();
  const int right = GetSystemMetrics(SM_CXSCREEN) - 1;
  const int bottom = GetSystemMetrics(SM_CYSCREEN) - 1;
  const POINT points[] = {{0, 0}, {right, 0}, {0, bottom}, {right, bottom}, {right / 2, bottom / 2}};
  std::string line;
  for (const POINT point : points) {
    DWORD pid = 0;
    if (const HWND window = WindowFromPoint(point))
      (void)GetWindowThreadProcessId(GetAncestor(window, GA_ROOT), &pid);
    line += (sidecar != 0 && pid == sidecar) ? "sidecar " : "other ";
  }
  line.pop_back();
  print_line(line);
  return 0;
}

std::string clip_text(const RECT& clip) {
  return std::to_string(clip.left) + " " + std::to_string(clip.top) + " " + std::to_string(clip.right) + " " +
         std::to_string(clip.bottom);
}

// Frees the cursor clip, as any program (or Windows on some focus changes) may, and prints
// the clip just after, then once something has confined it again or `milliseconds` have
// passed.
int free_clip(unsigned milliseconds) {
  if (!ClipCursor(nullptr)) return 1;
  RECT freed{};
  if (!GetClipCursor(&freed)) return 1;
  RECT now = freed;
  const ULONGLONG until = GetTickCount64() + milliseconds;
  while (EqualRect(&now, &freed) && GetTickCount64() < until) {
    Sleep(20);
    if (!GetClipCursor(&now)) return 1;
  }
  print_line(clip_text(freed) + " " + clip_text(now));
  return 0;
}

// Whose top-level window is at the centre of the screen: "sidecar", "probe" or "other".
const char* owner_at_centre() {
  const POINT centre{GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2};
  DWORD pid = 0;
  if (const HWND window = WindowFromPoint(centre))
    (void)GetWindowThreadProcessId(GetAncestor(window, GA_ROOT), &pid);
  if (pid != 0 && pid == sidecar_process()) return "sidecar";
  return pid == GetCurrentProcessId() ? "probe" : "other";
}

void pump_for(DWORD milliseconds) {
  const ULONGLONG until = GetTickCount64() + milliseconds;
  MSG msg{};
  while (GetTickCount64() < until) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
}

// Whose top-level window is at the point: "sidecar", "probe" (this process) or "other".
const char* owner_at(POINT point) {
  DWORD pid = 0;
  if (const HWND window = WindowFromPoint(point))
    (void)GetWindowThreadProcessId(GetAncestor(window, GA_ROOT), &pid);
  if (pid != 0 && pid == sidecar_process()) return "sidecar";
  return pid == GetCurrentProcessId() ? "probe" : "other";
}

// A white topmost popup of this process at the top left, shown without activation.
UniqueWindow show_topmost(int width, int height) {
  const HINSTANCE module = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = module;
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  window_class.lpszClassName = probe_topmost_class;
  (void)RegisterClassExW(&window_class);  // a second call in one process finds it made
  UniqueWindow window(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE,
                                      probe_topmost_class, nullptr, WS_POPUP, 0, 0, width, height, nullptr,
                                      nullptr, module, nullptr));
  if (window) (void)ShowWindow(window.get(), SW_SHOWNOACTIVATE);
  return window;
}

// Shows a topmost window of this process over the whole screen, as another program might,
// and prints whose window is at the centre just after, then once the sidecar's is there
// again or `milliseconds` have passed; with a point, then whose window is at that point.
int show_topmost_window(unsigned milliseconds, std::optional<POINT> also) {
  const UniqueWindow window = show_topmost(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  if (!window) return 1;
  // Read at once: a round of the sidecar may come within any few milliseconds.
  std::string line = owner_at_centre();
  const ULONGLONG until = GetTickCount64() + milliseconds;
  const char* owner = owner_at_centre();
  while (std::strcmp(owner, "sidecar") != 0 && GetTickCount64() < until) {
    pump_for(50);
    owner = owner_at_centre();
  }
  if (also) {
    // The sidecar puts the parent's windows back above the shield with posted moves, which
    // the parent's thread makes when it next pumps: give them that time.
    const ULONGLONG settle = GetTickCount64() + 1000;
    while (std::strcmp(owner_at(*also), "sidecar") == 0 && GetTickCount64() < settle) pump_for(20);
    line += std::string(" ") + owner + " " + owner_at(*also);
  } else {
    line += std::string(" ") + owner;
  }
  print_line(line);
  return 0;
}

// A unix path as Wine's drive Z: sees it; any other path as it is.
std::wstring windows_path(const char* path) {
  std::wstring converted = path[0] == '/' ? L"Z:" : L"";
  for (const char* c = path; *c != '\0'; ++c) converted += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  return converted;
}

struct HandleCloser {
  void operator()(HANDLE handle) const noexcept { (void)CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// A pipe whose `ours` end stays in this process and whose other end a child inherits.
bool make_pipe(UniqueHandle& ours, UniqueHandle& theirs, bool ours_reads) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return false;
  ours.reset(ours_reads ? read_end : write_end);
  theirs.reset(ours_reads ? write_end : read_end);
  return SetHandleInformation(ours.get(), HANDLE_FLAG_INHERIT, 0) != FALSE;
}

// Reads the child's output up to the first line feed; the line, or empty at its end.
std::string read_line(HANDLE from) {
  std::string line;
  char c = 0;
  DWORD got = 0;
  while (ReadFile(from, &c, 1, &got, nullptr) && got == 1 && c != '\n') line += c;
  return line;
}

// A parent that starts the sidecar through a launcher owning no window (cmd /c, as a
// shell or a small launcher would), then, once it is ready, shows a small topmost window
// of its own in the top-left corner, above the shield. Prints "ready", then whose window is
// in that corner after `milliseconds`, again after a line on standard input (meanwhile the
// bench shows other programs' windows), then stops the sidecar and prints its launcher's
// exit status.
int host_sidecar(const char* sidecar, unsigned milliseconds) {
  UniqueHandle to_child;
  UniqueHandle child_in;
  UniqueHandle from_child;
  UniqueHandle child_out;
  if (!make_pipe(to_child, child_in, false) || !make_pipe(from_child, child_out, true)) return 1;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child_in.get();
  startup.hStdOutput = child_out.get();
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::wstring command = L"cmd.exe /c " + windows_path(sidecar);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &started)) {
    return 1;
  }
  const UniqueHandle launcher(started.hProcess);
  const UniqueHandle launcher_thread(started.hThread);
  child_in.reset();
  child_out.reset();
  if (read_line(from_child.get()) != "{\"event\":\"ready\"}") return 1;
  print_line("ready");

  constexpr int side = 200;
  const UniqueWindow window = show_topmost(side, side);
  if (!window) return 1;
  const POINT corner{side / 2, side / 2};
  const auto corner_owner = [&] {
    const char* owner = owner_at(corner);
    return std::strcmp(owner, "probe") == 0 ? "parent" : owner;
  };
  pump_for(milliseconds);
  print_line(std::string("corner ") + corner_owner());
  // The bench's line ends the wait; the window stays up and its messages are served.
  std::atomic<bool> bench_said{false};
  std::thread wait_for_bench([&bench_said] {
    (void)read_line(GetStdHandle(STD_INPUT_HANDLE));
    bench_said.store(true);
  });
  while (!bench_said.load()) pump_for(50);
  wait_for_bench.join();
  print_line(std::string("corner ") + corner_owner());

  constexpr char stop[] = "{\"cmd\":\"stop\"}\n";
  DWORD written = 0;
  (void)WriteFile(to_child.get(), stop, sizeof(stop) - 1, &written, nullptr);
  to_child.reset();
  DWORD status = 1;
  if (WaitForSingleObject(launcher.get(), 20000) == WAIT_OBJECT_0)
    (void)GetExitCodeProcess(launcher.get(), &status);
  print_line("stopped " + std::to_string(status));
  return 0;
}

// The class of the foreground window, or "none".
int print_foreground() {
  wchar_t name[128] = L"none";
  if (const HWND window = GetForegroundWindow()) (void)GetClassNameW(window, name, 128);
  char narrow[128];
  (void)WideCharToMultiByte(CP_UTF8, 0, name, -1, narrow, sizeof(narrow), nullptr, nullptr);
  print_line(narrow);
  return 0;
}

// How many threads the sidecar's process has.
int print_sidecar_threads() {
  const DWORD sidecar = sidecar_process();
  if (sidecar == 0) return 1;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  int count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == sidecar) ++count;
  }
  (void)CloseHandle(snapshot);
  print_line(std::to_string(count));
  return 0;
}

// How many processes run the executable of the given file name (the sidecar and its watcher).
// "held" while a watcher holds the instance lock, which it takes only once it runs.
int print_instance_lock() {
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\VelmoraSidecarInstance");
  if (mutex == nullptr) return 1;
  const DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) (void)ReleaseMutex(mutex);
  (void)CloseHandle(mutex);
  print_line(waited == WAIT_TIMEOUT ? "held" : "free");
  return 0;
}

int print_process_count(const char* name) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  const std::wstring wanted(name, name + std::strlen(name));
  int count = 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, wanted.c_str()) == 0) ++count;
  }
  (void)CloseHandle(snapshot);
  print_line(std::to_string(count));
  return 0;
}

// Each process of the executable as "PID PARENT", so a test can tell the watcher (whose
// parent is the sidecar) from the sidecar and end either by its identifier.
int print_process_ids(const char* name) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  const std::wstring wanted(name, name + std::strlen(name));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, wanted.c_str()) == 0) {
      print_line(std::to_string(entry.th32ProcessID) + " " + std::to_string(entry.th32ParentProcessID));
    }
  }
  (void)CloseHandle(snapshot);
  return 0;
}

// Ends the given processes one right after the other, as Task Manager's "End process tree"
// does: TerminateProcess, no chance to clean up.
int terminate_processes(const std::vector<DWORD>& ids) {
  int failed = 0;
  for (const DWORD id : ids) {
    const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
    if (process == nullptr || TerminateProcess(process, 1) == FALSE) ++failed;
    if (process != nullptr) (void)CloseHandle(process);
  }
  return failed == 0 ? 0 : 1;
}

// The shield: a top-level window, so it hears of the end of the session.
HWND find_shield() { return FindWindowExW(nullptr, nullptr, shield_window_class, nullptr); }

int print_shield() {
  print_line(find_shield() == nullptr ? "absent" : "present");
  return 0;
}

// What the shield answers when the tablet stack asks which pen and touch gestures it wants
// (WM_TABLET_QUERYSYSTEMGESTURESTATUS), as hex.
int print_gesture_status() {
  constexpr UINT wm_tablet_querysystemgesturestatus = 0x02CC;
  const HWND window = find_shield();
  if (window == nullptr) {
    print_line("absent");
    return 1;
  }
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutW(window, wm_tablet_querysystemgesturestatus, 0, 0, SMTO_ABORTIFHUNG, 5000,
                          &answer) == 0)
    return 1;
  char hex[32];
  std::snprintf(hex, sizeof(hex), "0x%08llX", static_cast<unsigned long long>(answer));
  print_line(hex);
  return 0;
}

// A close request, as a polite taskkill sends it; prints whether the window is still there.
int close_shield() {
  const HWND window = find_shield();
  if (window != nullptr) (void)SendMessageW(window, WM_CLOSE, 0, 0);
  return print_shield();
}

// What the system does at the end of the session, without ending anything else: the query,
// then the end itself (1) or its cancellation (0). Synchronous, so the sidecar has
// answered both when this returns. Prints the answer to the query.
int send_end_session(bool ending) {
  const HWND window = find_shield();
  if (window == nullptr) {
    print_line("absent");
    return 1;
  }
  const LRESULT allowed = SendMessageW(window, WM_QUERYENDSESSION, 0, 0);
  (void)SendMessageW(window, WM_ENDSESSION, ending ? TRUE : FALSE, 0);
  print_line("query " + std::to_string(allowed));
  return 0;
}

// Prints "free N" and the keys still held by someone else, as hex.
int print_hotkeys_free() {
  // A queue first, so that the registrations can be undone (an unqueued thread's cannot always).
  MSG peek{};
  (void)PeekMessageW(&peek, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  std::string held;
  int free_count = 0;
  for (std::size_t i = 0; i < hotkey_keys.size(); ++i) {
    const int id = 2000 + static_cast<int>(i);
    if (RegisterHotKey(nullptr, id, MOD_NOREPEAT, hotkey_keys[i])) {
      ++free_count;
      (void)UnregisterHotKey(nullptr, id);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), " 0x%02X", hotkey_keys[i]);
      held += hex;
    }
  }
  print_line("free " + std::to_string(free_count) + held);
  return 0;
}

// Injected presses go through the same hooks and hotkeys as real ones; this reaches keys
// that have no X keysym under Xvfb.
int send_keys(const std::vector<WORD>& keys) {
  std::vector<INPUT> inputs;
  for (const WORD vk : keys) {
    for (const DWORD flags : {DWORD{0}, DWORD{KEYEVENTF_KEYUP}}) {
      INPUT input{};
      input.type = INPUT_KEYBOARD;
      input.ki.wVk = vk;
      input.ki.dwFlags = flags;
      inputs.push_back(input);
    }
  }
  const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  print_line("sent " + std::to_string(sent));
  return sent == inputs.size() ? 0 : 1;
}

int usage() {
  std::fputs(
      "usage: velmora-probe window [SECONDS] | beep | set-beep 0|1 | clip | session-window |\n"
      "       send-session CODE [COUNT] | hotkeys-free | send-keys VK... | windows-at-points |\n"
      "       foreground | sidecar-threads | shield | close-shield | end-session 0|1 | free-clip [MS] |\n"
      "       topmost-window [MS [X Y]] | processes EXE | process-ids EXE | terminate PID... |\n"
      "       host-sidecar EXE MS | gesture-status\n",
      stderr);
  return 2;
}

int run(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  const auto number = [&](int index) { return std::strtoul(argv[index], nullptr, 0); };
  if (command == "window") return run_window(argc > 2 ? static_cast<unsigned>(number(2)) : 60);
  if (command == "beep") return print_beep();
  if (command == "set-beep" && argc == 3) return set_beep(number(2) != 0);
  if (command == "clip") return print_clip();
  if (command == "free-clip") return free_clip(argc > 2 ? static_cast<unsigned>(number(2)) : 1000);
  if (command == "topmost-window" && argc == 5) {
    const POINT also{static_cast<LONG>(number(3)), static_cast<LONG>(number(4))};
    return show_topmost_window(static_cast<unsigned>(number(2)), also);
  }
  if (command == "topmost-window")
    return show_topmost_window(argc > 2 ? static_cast<unsigned>(number(2)) : 3000, std::nullopt);
  if (command == "host-sidecar" && argc == 4) return host_sidecar(argv[2], static_cast<unsigned>(number(3)));
  if (command == "session-window") return print_session_window();
  if (command == "send-session" && (argc == 3 || argc == 4))
    return send_session(number(2), argc == 4 ? number(3) : 1);
  if (command == "hotkeys-free") return print_hotkeys_free();
  if (command == "windows-at-points") return print_windows_at_points();
  if (command == "foreground") return print_foreground();
  if (command == "sidecar-threads") return print_sidecar_threads();
  if (command == "shield") return print_shield();
  if (command == "instance-lock") return print_instance_lock();
  if (command == "processes" && argc == 3) return print_process_count(argv[2]);
  if (command == "process-ids" && argc == 3) return print_process_ids(argv[2]);
  if (command == "terminate" && argc > 2) {
    std::vector<DWORD> ids;
    for (int i = 2; i < argc; ++i) ids.push_back(static_cast<DWORD>(number(i)));
    return terminate_processes(ids);
  }
  if (command == "close-shield") return close_shield();
  if (command == "gesture-status") return print_gesture_status();
  if (command == "end-session" && argc == 3) return send_end_session(number(2) != 0);
  if (command == "send-keys" && argc > 2) {
    std::vector<WORD> keys;
    for (int i = 2; i < argc; ++i) keys.push_back(static_cast<WORD>(number(i)));
    return send_keys(keys);
  }
  return usage();
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) { return velmora::run(argc, argv); }
