// The baseline for start-up and exit under Wine: a GUI-subsystem program that writes one line
// to its standard output and exits, with nothing else to set up or tear down.
#include <windows.h>

int main() {
  static constexpr char line[] = "{\"event\":\"ready\"}\n";
  DWORD written = 0;
  (void)WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, sizeof line - 1, &written, nullptr);
  return 0;
}
