// Memory exhaustion ends the process at once with a notice naming the request's size.
// Replacing the global allocation functions is the one place that knows the size.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void out_of_memory(std::size_t size) noexcept {
  char notice[80];
  const int length = std::snprintf(notice, sizeof(notice), "memory allocation of %zu bytes failed\n", size);
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error != nullptr && error != INVALID_HANDLE_VALUE && length > 0) {
    DWORD written = 0;
    (void)WriteFile(error, notice, static_cast<DWORD>(length), &written, nullptr);
  }
  // Fail fast: no clean-up of any kind may run on a heap that cannot serve.
  (void)TerminateProcess(GetCurrentProcess(), 134);
  std::abort();
}

void* allocate(std::size_t size) noexcept {
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) out_of_memory(size);
  return memory;
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
