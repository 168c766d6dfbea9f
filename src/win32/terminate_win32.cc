// What std::terminate prints before it aborts. The library's own handler demangles the
// exception's type name, which links a demangler of some 45 KB into the executable for a
// line that, here, only a developer reads; this one names the type as the compiler
// mangled it, which c++filt turns back.

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <typeinfo>

namespace {

void write_stderr(const char* text) {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  (void)WriteFile(error, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

}  // namespace

// Defining the library's default handler here keeps its own from being linked at all.
namespace __gnu_cxx {

// The library's own name, which this definition replaces on purpose.
// NOLINTNEXTLINE(bugprone-reserved-identifier,readability-identifier-naming)
[[noreturn]] void __verbose_terminate_handler() {
  write_stderr("velmora-sidecar: terminate called");
  if (const std::type_info* type = abi::__cxa_current_exception_type()) {
    write_stderr(" after throwing an instance of ");
    write_stderr(type->name());
  }
  write_stderr("\n");
  std::abort();
}

}  // namespace __gnu_cxx
