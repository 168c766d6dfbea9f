// Native X11 key presser for the latency figure: one process for the whole run, so each press
// costs an XTest request and a flush rather than a process start. Reads commands on standard
// input, "d" (press) or "u" (release) of the key given as argument (an X keysym name, default
// "a"), and answers each with the CLOCK_MONOTONIC time in nanoseconds taken just before the
// request was made.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <ctime>
#include <memory>

namespace {

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};

long long monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  const std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  if (!display) {
    std::fprintf(stderr, "xtest_press: cannot open the display\n");
    return 1;
  }
  int event_base = 0, error_base = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(display.get(), &event_base, &error_base, &major, &minor)) {
    std::fprintf(stderr, "xtest_press: no XTest extension\n");
    return 1;
  }
  const KeySym keysym = XStringToKeysym(argc > 1 ? argv[1] : "a");
  const KeyCode keycode = keysym == NoSymbol ? 0 : XKeysymToKeycode(display.get(), keysym);
  if (keycode == 0) {
    std::fprintf(stderr, "xtest_press: no key code for %s\n", argc > 1 ? argv[1] : "a");
    return 1;
  }
  char line[16];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    if (line[0] != 'd' && line[0] != 'u') continue;
    const long long at = monotonic_ns();
    XTestFakeKeyEvent(display.get(), keycode, line[0] == 'd' ? True : False, CurrentTime);
    XFlush(display.get());
    std::printf("%lld\n", at);
    std::fflush(stdout);
  }
  return 0;
}
